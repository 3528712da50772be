#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "tests/panel/qt/panel_fixture.h"

namespace {

using testing_support::PanelWindowTest;

QRect Twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);  // all multiples of 15
}

TEST_F(PanelWindowTest, StartupPromptComesBeforeTheWindow) {
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "Operation Notice|Please select VPORT register A[3:0]=1000");
    EXPECT_FALSE(windowVisibleAtBox_[0]);
}

TEST_F(PanelWindowTest, WindowTitleSizeColourAndIcon) {
    EXPECT_EQ(window_->objectName(), "Form1");
    EXPECT_EQ(window_->windowTitle(), "SX540 Control Panel");
    EXPECT_EQ(window_->size(), QSize(394, 368));
    EXPECT_EQ(window_->minimumSize(), QSize(394, 368));
    EXPECT_EQ(window_->maximumSize(), QSize(394, 368));
    EXPECT_EQ(window_->palette().color(QPalette::Window), QColor(255, 255, 128));
    // Where no control stands the window shows its own colour.
    const QImage shot = window_->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(300, 120)), QColor(255, 255, 128));
    EXPECT_EQ(QColor(shot.pixel(5, 360)), QColor(255, 255, 128));
    EXPECT_FALSE(window_->windowIcon().isNull());
    EXPECT_TRUE(window_->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(PanelWindowTest, LabelsHaveTheirCaptionsPlacesAndFonts) {
    const struct {
        const char* name;
        const char* caption;
        QRect rect;
        double points;  // 0: the default font
        bool bold;
    } labels[] = {
        {"Label1", "Expo time (0-127) (AGC will turn off)", Twips(120, 120, 1935, 495), 11.25,
         true},
        {"Label2", "Gain Conrtol (0-7)", Twips(120, 720, 1815, 255), 11.25, true},
        {"Label3", "Frame rate divider (2-128 step 2)", Twips(120, 1200, 1935, 495), 11.25, true},
        {"Label4", "Gama Value", Twips(120, 2040, 1215, 255), 11.25, true},
        {"Label5", "Mirror image", Twips(120, 2520, 1575, 255), 11.25, true},
        {"Label6", "Mode", Twips(120, 3120, 855, 255), 11.25, true},
        {"Label7", "Backlight Compensation", Twips(120, 3600, 1575, 495), 9.75, true},
        {"Label8", "127--1/50    sec             0--1/12800 sec", Twips(3960, 120, 1695, 495), 9.75,
         false},
        {"Label9", "0 -- 0dB, 7---18dB (AGC must be off )", Twips(3960, 720, 1695, 495), 9.75,
         false},
        {"Label10", "default frame rate :                      50 frame /sec",
         Twips(3960, 1320, 1695, 375), 0, false},
        {"Label11", "Window Control", Twips(120, 4320, 1695, 495), 12, true},
        {"Label12", "Horizontal :", Twips(480, 4680, 1215, 255), 11.25, true},
        {"Label13", "Vertical     :", Twips(480, 5040, 1215, 255), 11.25, true},
        {"Label14", " Start block ", Twips(2160, 4320, 855, 255), 0, false},
        {"Label15", " End block", Twips(3600, 4320, 855, 255), 0, false},
    };
    const QFont dialogFont = window_->font();
    for (const auto& expected : labels) {
        auto* label = Find<QLabel>(expected.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromLatin1(expected.caption)) << expected.name;
        EXPECT_EQ(label->geometry(), expected.rect) << expected.name;
        EXPECT_TRUE(label->wordWrap()) << expected.name;
        const QFont font = label->font();
        if (expected.points == 0) {
            EXPECT_EQ(font, dialogFont) << expected.name;
            continue;
        }
        EXPECT_DOUBLE_EQ(font.pointSizeF(), expected.points) << expected.name;
        EXPECT_EQ(font.bold(), expected.bold) << expected.name;
        const QString family = QFontInfo(font).family();
        EXPECT_TRUE(family == "Times New Roman" || family == "Liberation Serif")
            << expected.name << " " << family.toStdString();
    }
    // The exact spacing counts: 4 spaces before "sec", 13 before "0--", 22 before "50", 5 in
    // "Vertical     :".
    EXPECT_EQ(Find<QLabel>("Label8")->text().count(' '), 4 + 13 + 1);
    EXPECT_EQ(Find<QLabel>("Label10")->text().indexOf("50") -
                  Find<QLabel>("Label10")->text().indexOf(":") - 1,
              22);
}

TEST_F(PanelWindowTest, FieldsStartWithTheirTextsAtTheirPlaces) {
    const struct {
        const char* name;
        const char* text;
        QRect rect;
    } fields[] = {
        {"Text1", "0", Twips(2280, 120, 1455, 375)},
        {"Text2", "0", Twips(2280, 720, 1455, 375)},
        {"Text3", "1", Twips(2280, 1320, 1455, 375)},
        {"Text4", "0", Twips(2160, 4680, 855, 285)},
        {"Text5", "0", Twips(3600, 4680, 855, 285)},
        {"Text6", "0", Twips(2160, 5040, 855, 285)},
        {"Text7", "0", Twips(3600, 5040, 855, 285)},
        {"Text8", "filename.bmp", Twips(4680, 3960, 1215, 495)},
    };
    for (const auto& expected : fields) {
        auto* field = Find<QLineEdit>(expected.name);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), QString::fromLatin1(expected.text)) << expected.name;
        EXPECT_EQ(field->geometry(), expected.rect) << expected.name;
        EXPECT_EQ(field->maxLength(), 32767) << expected.name;  // Qt's default: no limit set
    }
}

TEST_F(PanelWindowTest, OptionGroupsAndButtonsHaveTheirCaptionsAndPlaces) {
    const struct {
        int top;
        const char* item0;
        int width0;
        const char* item1;
        int width1;
    } groups[] = {{1800, "0.45", 975, "1.0", 975},
                  {2400, "Enable", 855, "Disable", 855},
                  {3000, "Indoor", 975, "Outdoor", 975},
                  {3600, "On", 855, "Off", 735}};
    for (int g = 1; g <= 4; ++g) {
        const auto& expected = groups[g - 1];
        auto* box = Find<QGroupBox>(QStringLiteral("Frame%1").arg(g).toLatin1().constData());
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->title().isEmpty());
        EXPECT_EQ(box->geometry(), Twips(2160, expected.top, 2295, 495)) << g;
        QRadioButton* item0 = window_->Option(g, 0);
        QRadioButton* item1 = window_->Option(g, 1);
        EXPECT_EQ(item0->objectName(), QStringLiteral("Option%1_0").arg(g));
        EXPECT_EQ(item1->objectName(), QStringLiteral("Option%1_1").arg(g));
        EXPECT_EQ(item0->parentWidget(), box);
        EXPECT_EQ(item0->text(), QString::fromLatin1(expected.item0));
        EXPECT_EQ(item1->text(), QString::fromLatin1(expected.item1));
        EXPECT_EQ(item0->geometry(), Twips(240, 240, expected.width0, 195)) << g;
        EXPECT_EQ(item1->geometry(), Twips(1200, 240, expected.width1, 195)) << g;
        EXPECT_FALSE(item0->isChecked());
        EXPECT_TRUE(item1->isChecked());
    }
    const struct {
        const char* name;
        const char* caption;
        int top;
    } buttons[] = {{"Command1", "&Set Register", 2160},
                   {"Capture", "&Capture", 2760},
                   {"SaveAs", "Save &As", 3360},
                   {"Command2", "&Default Setting", 4560}};
    for (const auto& expected : buttons) {
        auto* button = Find<QPushButton>(expected.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(expected.caption));
        EXPECT_EQ(button->geometry(), Twips(4680, expected.top, 1215, 495)) << expected.name;
    }
}

TEST_F(PanelWindowTest, TabWalksTheTwentyStopsInOrderFromTheInitialFocus) {
    EXPECT_EQ(QApplication::focusWidget(), Find("Text1"));
    const char* order[] = {
        "Text1",     "Text2",     "Text3",     "Option1_0", "Option1_1", "Option2_0", "Option2_1",
        "Option3_0", "Option4_0", "Option4_1", "Command1",  "Command2",  "Option3_1", "Text4",
        "Text5",     "Text6",     "Text7",     "Capture",   "SaveAs",    "Text8",     "Text1"};
    for (const char* expected : order) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_EQ(focus->objectName().toStdString(), expected);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    // Shift+Tab walks the same order backwards.
    window_->Field(1)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Text8");
    window_->Option(3, 1)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Command2");
    // Moving in with Tab marks nothing.
    EXPECT_EQ(State().changed, (std::array<bool, 8>{}));
    EXPECT_EQ(State().mctl_act, 0);
}

TEST_F(PanelWindowTest, OnlyAMouseClickMarksAndEmptiesAField) {
    auto* text1 = Find<QLineEdit>("Text1");
    auto* text2 = Find<QLineEdit>("Text2");
    // Tab into Text2 and type: the text changes, no mark.
    QTest::keyClick(text1, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), text2);
    QTest::keyClicks(text2, "5");
    EXPECT_EQ(text2->text(), "5");
    EXPECT_EQ(State().text[2], "5");
    EXPECT_FALSE(State().changed[2]);
    // A click empties and marks; typing then fills the empty field.
    QTest::mouseClick(text1, Qt::LeftButton);
    EXPECT_EQ(text1->text(), "");
    EXPECT_TRUE(State().changed[1]);
    QTest::keyClicks(text1, "100");
    EXPECT_EQ(State().text[1], "100");
    // Other buttons do not count as a click.
    QTest::mouseClick(text2, Qt::RightButton);
    EXPECT_EQ(text2->text(), "5");
    EXPECT_FALSE(State().changed[2]);
}

TEST_F(PanelWindowTest, EndBlockClicksAlsoMarkTheirStartBlocks) {
    QTest::mouseClick(Find("Text5"), Qt::LeftButton);
    EXPECT_TRUE(State().changed[4]);
    EXPECT_TRUE(State().changed[5]);
    EXPECT_FALSE(State().changed[6]);
    QTest::mouseClick(Find("Text6"), Qt::LeftButton);
    EXPECT_TRUE(State().changed[6]);
    EXPECT_FALSE(State().changed[7]);
    QTest::mouseClick(Find("Text7"), Qt::LeftButton);
    EXPECT_TRUE(State().changed[7]);
    EXPECT_EQ(Find<QLineEdit>("Text4")->text(), "0");  // only the clicked field empties
    EXPECT_EQ(Find<QLineEdit>("Text5")->text(), "");
    // Text8 has no click handling.
    QTest::mouseClick(Find("Text8"), Qt::LeftButton);
    EXPECT_EQ(Find<QLineEdit>("Text8")->text(), "filename.bmp");
}

TEST_F(PanelWindowTest, OptionsAnswerMouseAndArrowKeys) {
    QTest::mouseClick(window_->Option(1, 0), Qt::LeftButton);
    EXPECT_EQ(State().selected[1], 0);
    EXPECT_EQ(State().gama.value_or(0), 0x80);
    EXPECT_EQ(State().mctl_act, 1);
    // Arrow keys move within the group and select.
    QTest::keyClick(window_->Option(1, 0), Qt::Key_Right);
    EXPECT_TRUE(window_->Option(1, 1)->isChecked());
    EXPECT_EQ(State().selected[1], 1);
    EXPECT_EQ(State().gama.value_or(0), 0);
    QTest::keyClick(window_->Option(1, 1), Qt::Key_Up);
    EXPECT_TRUE(window_->Option(1, 0)->isChecked());
    EXPECT_EQ(State().gama.value_or(0), 0x80);
    // From the start-up selection (item 1) Left moves to item 0 and sets the bit and the flag.
    window_->Option(4, 1)->setFocus();
    QTest::keyClick(window_->Option(4, 1), Qt::Key_Left);
    EXPECT_TRUE(window_->Option(4, 0)->isChecked());
    EXPECT_EQ(State().selected[4], 0);
    EXPECT_EQ(State().bkl, 0x10);
    EXPECT_EQ(State().selected[2], 1);  // other groups untouched
}

TEST_F(PanelWindowTest, ClickOnTheItemAlreadySelectedIsStillASelection) {
    // "1.0" is selected at start-up; choosing it is a selection all the same, so the next Set
    // Register writes MCTL with bit 7 clear.
    QTest::mouseClick(window_->Option(1, 1), Qt::LeftButton);
    EXPECT_TRUE(window_->Option(1, 1)->isChecked());
    EXPECT_EQ(State().gama, std::optional<std::int16_t>(0));
    EXPECT_EQ(State().mctl_act, 1);
    board_->SetFollowsPrompts(true);
    boxes_.clear();
    QTest::mouseClick(Find("Command1"), Qt::LeftButton);
    EXPECT_EQ(boxes_, (std::vector<std::string>{
                          "SX540 Control Panel|Please select MCTL register A[3:0]=0101",
                          "SX540 Control Panel|Please VPORT register A[3:0]=1000"}));
    EXPECT_EQ(board_->Latched()[sim::MCTL], std::optional<std::uint8_t>(0));
    EXPECT_EQ(State().mctl_act, 0);
    // Space on the focused item selects it the same way; a click that changes the item runs
    // the handler once.
    window_->Option(2, 1)->setFocus();
    QTest::keyClick(window_->Option(2, 1), Qt::Key_Space);
    EXPECT_EQ(State().mir, std::optional<std::int16_t>(0));
    EXPECT_EQ(State().mctl_act, 1);
    QTest::mouseClick(window_->Option(3, 0), Qt::LeftButton);
    EXPECT_EQ(State().nsr, std::optional<std::int16_t>(0x20));
    EXPECT_TRUE(window_->Option(3, 0)->isChecked());
    EXPECT_FALSE(window_->Option(3, 1)->isChecked());
}

TEST_F(PanelWindowTest, SetRegisterWritesTheMarkedFieldAndClearsTheMarks) {
    QTest::mouseClick(Find("Text1"), Qt::LeftButton);
    QTest::keyClicks(Find("Text1"), "100");
    boxes_.clear();
    QTest::mouseClick(Find("Command1"), Qt::LeftButton);
    EXPECT_EQ(boxes_, (std::vector<std::string>{
                          "SX540 Control Panel|Please select EXCTL register A[3:0]=0010",
                          "SX540 Control Panel|Please VPORT register A[3:0]=1000"}));
    EXPECT_EQ(State().changed, (std::array<bool, 8>{}));
    EXPECT_EQ(board_->Latched()[sim::EXCTL], std::optional<std::uint8_t>(100));
    EXPECT_EQ(board_->Switches(), sim::VPORT);  // the switches followed the prompts
}

TEST_F(PanelWindowTest, EveryButtonHasItsAltAccessKey) {
    const struct {
        const char* name;
        Qt::Key key;
    } buttons[] = {{"Command1", Qt::Key_S},
                   {"Capture", Qt::Key_C},
                   {"SaveAs", Qt::Key_A},
                   {"Command2", Qt::Key_D}};
    for (const auto& expected : buttons) {
        auto* button = Find<QPushButton>(expected.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->shortcut(), QKeySequence(Qt::ALT | expected.key)) << expected.name;
    }
}

TEST_F(PanelWindowTest, AccessKeysRunTheButtons) {
    boxes_.clear();
    // An access key presses its button the way a click does (shown pressed for a moment).
    QTest::keyClick(window_.get(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes_.empty(); }, 2000));
    EXPECT_EQ(boxes_.back(), "SX540 Control Panel|Please VPORT register A[3:0]=1000");
    boxes_.clear();
    QTest::keyClick(window_.get(), Qt::Key_D, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes_.size() == 2; }, 2000));
    EXPECT_EQ(boxes_[0], "SX540 Control Panel|Please select FCTL register A[3:0]=0001");
}

TEST_F(PanelWindowTest, DefaultSettingShowsTheStartValuesWithoutRunningFieldHandlers) {
    QTest::mouseClick(Find("Text3"), Qt::LeftButton);
    QTest::keyClicks(Find("Text3"), "50");
    Find<QLineEdit>("Text8")->setFocus();
    Find<QLineEdit>("Text8")->selectAll();
    QTest::keyClicks(Find("Text8"), "copy.bmp");
    EXPECT_EQ(State().text[8], "copy.bmp");
    QTest::mouseClick(window_->Option(2, 0), Qt::LeftButton);
    QTest::mouseClick(Find("Command2"), Qt::LeftButton);
    const char* texts[] = {"", "0", "0", "1", "0", "0", "0", "0", "filename.bmp"};
    for (int n = 1; n <= 8; ++n) {
        EXPECT_EQ(window_->Field(n)->text(), texts[n]) << n;
        EXPECT_EQ(State().text[n], texts[n]) << n;
    }
    for (int g = 1; g <= 4; ++g) EXPECT_TRUE(window_->Option(g, 1)->isChecked()) << g;
    EXPECT_EQ(State().mir.value_or(0), 0);
    EXPECT_TRUE(State().changed[3]);  // marks stay as they were
    EXPECT_EQ(State().mctl_act, 1);
}

}  // namespace
