// The workbench windows over the simulated board: the live view and its pauses, the inspector,
// the register table, settings files, the context menu and shortcuts, and Default Setting
// showing its reset at once.
#include <gmock/gmock.h>

#include <QAction>
#include <QImage>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "panel/png/qt_png_encoder.h"
#include "panel/qt/analysis_window.h"
#include "panel/qt/live_window.h"
#include "panel/qt/picture_view.h"
#include "panel/qt/registers_window.h"
#include "panel/qt/workbench.h"
#include "tests/panel/qt/panel_fixture.h"

namespace {

using testing_support::PanelWindowTest;

class WorkbenchWindowTest : public PanelWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previous_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        PanelWindowTest::SetUp();
        panel_->SetPngEncoder(&png_);
        panel::qt::ConnectFormChanges(ui_, *window_);
        workbench_ = std::make_unique<panel::qt::Workbench>(
            *window_, *panel_, &png_, [this] { window_->Refresh(); }, portio::Operator());
    }
    void TearDown() override {
        workbench_.reset();
        ui_.on_form_changed = nullptr;
        PanelWindowTest::TearDown();
        QDir::setCurrent(previous_);
    }
    QTemporaryDir dir_;
    QString previous_;
    panel::QtPngEncoder png_;
    std::unique_ptr<panel::qt::Workbench> workbench_;
};

TEST_F(WorkbenchWindowTest, ContextMenuAndShortcutsLeaveTheLayoutAlone) {
    EXPECT_EQ(window_->contextMenuPolicy(), Qt::ActionsContextMenu);
    const std::pair<const char*, QKeySequence> expected[] = {
        {"live", QKeySequence(Qt::Key_F5)},
        {"inspector", QKeySequence(Qt::Key_F6)},
        {"registers", QKeySequence(Qt::Key_F7)},
        {"save", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"load", QKeySequence(Qt::CTRL | Qt::Key_O)}};
    ASSERT_EQ(window_->actions().size(), 5);
    for (const auto& [name, keys] : expected) {
        QAction* action = workbench_->Action(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->shortcut(), keys) << name;
        EXPECT_TRUE(action->isShortcutVisibleInContextMenu());
    }
    // The client area is the specified 5910 x 5520 twips (394 x 368 pixels) still.
    EXPECT_EQ(window_->size(), QSize(394, 368));

    QTest::keyClick(window_.get(), Qt::Key_F7);
    QWidget* registers = QApplication::activeWindow();
    EXPECT_TRUE(workbench_->OpenRegisters().isVisible());
    (void)registers;
}

TEST_F(WorkbenchWindowTest, LiveViewPausesForHandlersAndStopsAtControl27) {
    panel::qt::LiveWindow& live = workbench_->OpenLive();
    ASSERT_TRUE(live.Running());
    QTRY_VERIFY_WITH_TIMEOUT(live.FramesRead() >= 2 && !live.Shown().pixels.empty(), 60000);
    EXPECT_EQ(live.Shown().width, 384);
    EXPECT_EQ(live.Shown().height, 288);

    // While Set Register's prompts are up, no frame is read.
    bool paused_at_every_box = true;
    ui::SetMessageBoxHandlerForTesting([&](const std::string&, const std::string&) {
        const std::uint64_t before = live.FramesRead();
        paused_at_every_box = paused_at_every_box && panel_->Port().HeldByHandler();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        paused_at_every_box = paused_at_every_box && live.FramesRead() == before;
    });
    window_->Field(2)->setFocus();
    panel_->TextClick(2);
    panel_->SetText(2, "3");
    panel_->Command1Click();
    EXPECT_TRUE(paused_at_every_box);
    EXPECT_EQ(panel_->Registers().Text(panel::ChipRegister::kGctl), "3");

    // ... and it goes on afterwards.
    const std::uint64_t resumed = live.FramesRead();
    QTRY_VERIFY_WITH_TIMEOUT(live.FramesRead() > resumed + 1, 60000);
    // New window fields apply to the frames that follow; an unusable one is passed over.
    panel_->SetText(4, "2");
    panel_->SetText(5, "5");
    panel_->SetText(6, "");
    QTRY_VERIFY_WITH_TIMEOUT(live.StatusText().contains(QStringLiteral("frames/s")), 60000);
    EXPECT_EQ(live.Shown().width, 384);
    panel_->SetText(6, "1");
    panel_->SetText(7, "3");
    QTRY_VERIFY_WITH_TIMEOUT(live.Shown().width == 72 && live.Shown().height == 36, 60000);
    live.Stop();
    EXPECT_FALSE(live.Running());
    EXPECT_EQ(board_->Control(), 0x27);
    EXPECT_THAT(live.StatusText().toStdString(), testing::HasSubstr("stopped"));
    // No file of Capture's.
    EXPECT_FALSE(QFile::exists(QStringLiteral("image.bmp")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("image.raw")));

    ASSERT_TRUE(live.SaveFrameTo("frame.png").ok());
    QImage saved(QStringLiteral("frame.png"));
    ASSERT_EQ(saved.format(), QImage::Format_Grayscale8);
    ASSERT_EQ(saved.size(), QSize(72, 36));
    const panel::Picture& shown = live.Shown();
    EXPECT_EQ(qGray(saved.pixel(0, 0)), shown.At(0, 0));
    EXPECT_EQ(qGray(saved.pixel(71, 35)), shown.At(71, 35));
    EXPECT_EQ(qGray(saved.pixel(50, 7)), shown.At(50, 7));

    std::vector<std::string> boxes;
    ui::SetMessageBoxHandlerForTesting(
        [&](const std::string&, const std::string& text) { boxes.push_back(text); });
    EXPECT_FALSE(live.SaveFrameTo(dir_.path().toStdString() + "/no/such/dir/f.png").ok());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0], testing::HasSubstr("Can't open"));
}

TEST_F(WorkbenchWindowTest, InspectorMeasuresZoomsAndProbesTheMonitorPicture) {
    panel::qt::InspectorWindow& missing = workbench_->OpenInspector();
    EXPECT_THAT(missing.StatsText().toStdString(), testing::HasSubstr("does not exist"));

    panel_->CaptureClick();
    ASSERT_TRUE(QFile::exists(QStringLiteral("image.json")));
    panel::qt::InspectorWindow& inspector = workbench_->OpenInspector();
    const base::Result<panel::Picture> picture = panel::ReadBitmapPicture("image.bmp");
    ASSERT_TRUE(picture.ok());
    const panel::PictureStats s = panel::ComputeStats(*picture);
    EXPECT_THAT(inspector.StatsText().toStdString(),
                testing::HasSubstr("Mean " + panel::TwoDecimals(s.mean) + "   Std dev " +
                                   panel::TwoDecimals(s.stddev)));
    EXPECT_EQ(inspector.Histogram()->Values()[0], static_cast<double>(s.histogram[0]));

    inspector.SetZoom(4);
    EXPECT_EQ(inspector.View()->size(), QSize(384 * 4, 288 * 4));
    inspector.SetZoom(40);  // at most 16
    EXPECT_EQ(inspector.View()->Zoom(), 16);
    inspector.SetZoom(4);
    inspector.show();
    QTest::mouseMove(inspector.View(), QPoint(4 * 10 + 3, 4 * 20 + 1));  // pixel (10, 20)
    QTRY_VERIFY(inspector.PointerText().contains(QStringLiteral("x 10, y 20")));
    EXPECT_EQ(inspector.PointerText(),
              QStringLiteral("Pointer: x 10, y 20: %1").arg(picture->At(10, 20)));

    inspector.SetLogarithmic(true);
    EXPECT_TRUE(inspector.Histogram()->Logarithmic());
    // The profiles start at the picture's centre, marked on it, and follow a click.
    EXPECT_EQ(inspector.View()->Marks(), QPoint(192, 144));
    QTest::mouseClick(inspector.View(), Qt::LeftButton, {}, QPoint(4 * 30 + 1, 4 * 40 + 2));
    EXPECT_EQ(inspector.View()->Marks(), QPoint(30, 40));
    EXPECT_EQ(inspector.RowProfile()->Values()[30], picture->At(30, 40));
    // The clipping overlay paints the pixels at 0 and at 255 over the picture, no others.
    int black = -1, white = -1, grey = -1;
    for (int i = 0; i < 384 * 288 && (black < 0 || white < 0 || grey < 0); ++i) {
        if (i % 384 == 30 || i / 384 == 40) continue;  // the marks are drawn over everything
        const int v = picture->At(i % 384, i / 384);
        (v == 0 ? black : v == 255 ? white : grey) = i;
    }
    ASSERT_TRUE(black >= 0 && white >= 0 && grey >= 0);
    inspector.SetZoom(1);
    inspector.SetClipping(true);
    const QImage shown = inspector.View()->grab().toImage();
    auto at = [&](int i) { return shown.pixel(i % 384, i / 384); };
    EXPECT_EQ(at(black), qRgb(40, 90, 255));
    EXPECT_EQ(at(white), qRgb(255, 40, 40));
    EXPECT_EQ(qGray(at(grey)), picture->At(grey % 384, grey / 384));
    inspector.SetZoom(4);
    inspector.SetProfileRow(5);
    inspector.SetProfileColumn(300);
    ASSERT_EQ(inspector.RowProfile()->Values().size(), 384u);
    ASSERT_EQ(inspector.ColumnProfile()->Values().size(), 288u);
    EXPECT_EQ(inspector.RowProfile()->Values()[7], picture->At(7, 5));
    EXPECT_EQ(inspector.ColumnProfile()->Values()[9], picture->At(300, 9));
}

TEST_F(WorkbenchWindowTest, RegistersSettingsAndTheResetShownBeforeItsPrompt) {
    std::vector<std::string> field1_at_box;
    ui::SetMessageBoxHandlerForTesting([&](const std::string&, const std::string&) {
        field1_at_box.push_back(window_->Field(1)->text().toStdString());
    });
    panel_->TextClick(1);
    panel_->SetText(1, "55");
    window_->Refresh();
    panel_->Command2Click();
    ASSERT_FALSE(field1_at_box.empty());
    EXPECT_EQ(field1_at_box[0], "0");  // the FCTL prompt already shows the reset field

    // A row per control: exposure first, the FCTL pulse last; "Last written" is column 4 and
    // what the simulated board's chip holds column 7.
    panel::qt::RegistersWindow& registers = workbench_->OpenRegisters();
    QTableWidget* table = registers.Table();
    ASSERT_EQ(table->rowCount(), 12);
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("exposure"));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("EXCTL (0010)"));
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("0..127"));
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("64 (Default Setting)"));
    EXPECT_EQ(table->item(11, 0)->text(), QStringLiteral("reset"));
    EXPECT_EQ(table->item(11, 4)->text(), QStringLiteral("pulsed (Default Setting)"));

    QFile file(QStringLiteral("s.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("exposure = 99\nbacklight = on\n");
    file.close();
    ASSERT_TRUE(workbench_->LoadSettingsFrom("s.txt").ok());
    EXPECT_EQ(window_->Field(1)->text(), QStringLiteral("99"));
    EXPECT_TRUE(window_->Option(4, 0)->isChecked());
    ui::SetMessageBoxHandlerForTesting([](const std::string&, const std::string&) {});
    panel_->Command1Click();
    registers.Refresh();
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("99"));
    EXPECT_EQ(table->item(0, 7)->text(), QStringLiteral("99"));
    EXPECT_EQ(table->item(6, 0)->text(), QStringLiteral("backlight"));
    EXPECT_EQ(table->item(6, 4)->text(), QStringLiteral("on"));
    EXPECT_EQ(table->item(3, 4)->text(), QStringLiteral("1.0"));  // MCTL is written whole
    // A strobe while the switches select another register: the record says what was meant,
    // the board what it latched, and the difference is marked.
    board_->SetFollowsPrompts(false);
    board_->SetSwitches(sim::GCTL);
    panel_->TextClick(1);
    panel_->SetText(1, "5");
    panel_->Command1Click();
    registers.Refresh();
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("5"));
    EXPECT_EQ(table->item(0, 7)->text(), QStringLiteral("99 (differs)"));
    EXPECT_EQ(table->item(1, 7)->text(), QStringLiteral("5 (differs)"));
    board_->SetFollowsPrompts(true);
    board_->SetSwitches(sim::VPORT);

    std::vector<std::string> boxes;
    ui::SetMessageBoxHandlerForTesting(
        [&](const std::string&, const std::string& text) { boxes.push_back(text); });
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("exposure = 1\ngain = lots\n");
    file.close();
    EXPECT_FALSE(workbench_->LoadSettingsFrom("s.txt").ok());
    EXPECT_EQ(boxes, std::vector<std::string>{"s.txt:2: gain: \"lots\" is not a number"});
    EXPECT_EQ(window_->Field(1)->text(), QStringLiteral("99"));
    ASSERT_TRUE(workbench_->SaveSettingsTo("saved.txt").ok());
    EXPECT_TRUE(QFile::exists(QStringLiteral("saved.txt")));
}

}  // namespace
