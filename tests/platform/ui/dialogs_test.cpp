#include "platform/ui/dialogs.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDialog>
#include <QFontDatabase>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "platform/ui/dialog_units.h"

namespace {

constexpr std::uint32_t kWsPopup = 0x80000000, kWsChild = 0x40000000, kWsVisible = 0x10000000,
                        kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsGroup = 0x00020000,
                        kWsTabStop = 0x00010000, kDsModalFrame = 0x80, kDsSetFont = 0x40,
                        kSsIcon = 0x3, kBsDefPushButton = 0x1;

DialogTemplate AboutBox() {
    DialogTemplate t{};
    t.style = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont;
    t.x = 34;
    t.y = 22;
    t.cx = 200;
    t.cy = 95;
    t.caption = "About Pinbus Control";
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.items = {
        {DialogItem::Kind::Icon, -1, kWsChild | kWsVisible | kSsIcon, 10, 10, 18, 20, "1"},
        {DialogItem::Kind::Static, -1, kWsChild | kWsVisible | kWsGroup, 45, 13, 99, 8,
         "Pinbus Control, Version 1.2"},
        {DialogItem::Kind::Button, 1,
         kWsChild | kWsVisible | kWsGroup | kWsTabStop | kBsDefPushButton, 151, 36, 32, 14, "OK"},
    };
    return t;
}

DialogTemplate GeneralPage() {
    DialogTemplate t{};
    t.style = kWsChild | kDsSetFont;
    t.cx = 250;
    t.cy = 62;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.items = {
        {DialogItem::Kind::Static, -1, kWsChild | kWsVisible, 24, 25, 212, 16, "Not implemented!"}};
    return t;
}

std::string IcoBytes() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes.toStdString();
}

QLabel* LabelWithText(QWidget* parent, const QString& text) {
    for (QLabel* label : parent->findChildren<QLabel*>())
        if (label->text() == text) return label;
    return nullptr;
}

class DialogTest : public ::testing::Test {
protected:
    void TearDown() override { ui::SetDialogShownHookForTesting(nullptr); }
    // Runs the About box; `act` inspects and closes it.
    int RunAbout(const std::function<void(QDialog*)>& act, const ui::IconLookup& icons = {}) {
        ui::SetDialogShownHookForTesting(
            [&](void* widget) { act(qobject_cast<QDialog*>(static_cast<QWidget*>(widget))); });
        return ui::RunModalDialog(AboutBox(), icons);
    }
};

TEST(DialogUnits, MapsBothEdgesOfARectangle) {
    const ui::DialogBaseUnits units{6, 13};
    // 151 * 6 / 4 = 226.5 and (151 + 32) * 6 / 4 = 274.5 round to 227 and 275.
    EXPECT_EQ(ui::MapDialogRect(units, 151, 36, 32, 14), QRect(227, 59, 48, 22));
    EXPECT_EQ(ui::MapDialogRect(units, 0, 0, 200, 95), QRect(0, 0, 300, 154));
}

TEST(DialogUnits, MissingFontFallsBackToAnInstalledSans) {
    const QFont font = ui::DialogFont("No Such Family Anywhere", 8);
    EXPECT_TRUE(QFontDatabase::families().contains(font.family())) << font.family().toStdString();
    EXPECT_EQ(font.pointSize(), 8);
    const ui::DialogBaseUnits units = ui::BaseUnitsOf(font);
    EXPECT_GT(units.x, 3);
    EXPECT_LT(units.x, 12);
    EXPECT_GT(units.y, 8);
    EXPECT_LT(units.y, 24);
}

TEST_F(DialogTest, AboutBoxIsLaidOutInDialogUnitsOfItsFont) {
    int result = RunAbout(
        [](QDialog* dialog) {
            ASSERT_NE(dialog, nullptr);
            const ui::DialogBaseUnits units = ui::BaseUnitsOf(ui::DialogFont("MS Sans Serif", 8));
            EXPECT_EQ(dialog->windowTitle(), "About Pinbus Control");
            EXPECT_TRUE(dialog->isModal());
            EXPECT_EQ(dialog->size(), ui::MapDialogRect(units, 0, 0, 200, 95).size());
            EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());  // modal frame: fixed
            EXPECT_TRUE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
            QLabel* text = LabelWithText(dialog, "Pinbus Control, Version 1.2");
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text->geometry(), ui::MapDialogRect(units, 45, 13, 99, 8));
            EXPECT_TRUE(text->alignment() & Qt::AlignLeft);
            auto* ok = dialog->findChild<QPushButton*>("item1");
            ASSERT_NE(ok, nullptr);
            EXPECT_EQ(ok->text(), "OK");
            EXPECT_TRUE(ok->isDefault());
            EXPECT_EQ(ok->geometry(), ui::MapDialogRect(units, 151, 36, 32, 14));
            // The icon shows icon resource 1 at its own size.
            QLabel* icon = nullptr;
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->text().isEmpty()) icon = label;
            ASSERT_NE(icon, nullptr);
            EXPECT_FALSE(icon->pixmap().isNull());
            EXPECT_EQ(icon->geometry(),
                      QRect(ui::MapDialogRect(units, 10, 10, 0, 0).topLeft(), QSize(32, 32)));
            ok->click();
        },
        [](int id) { return id == 1 ? IcoBytes() : std::string(); });
    EXPECT_EQ(result, 1);
}

TEST_F(DialogTest, EscapeAndTheCloseBoxAreCancelEnterIsTheDefaultButton) {
    EXPECT_EQ(RunAbout([](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }), 2);
    EXPECT_EQ(RunAbout([](QDialog* d) { d->close(); }), 2);
    EXPECT_EQ(RunAbout([](QDialog* d) { QTest::keyClick(d, Qt::Key_Return); }), 1);
}

TEST_F(DialogTest, MissingOrBrokenIconLeavesAnEmptyIconControl) {
    for (const std::string& bytes : {std::string(), std::string("not an icon at all")}) {
        EXPECT_EQ(RunAbout(
                      [](QDialog* d) {
                          EXPECT_NE(LabelWithText(d, "Pinbus Control, Version 1.2"), nullptr);
                          d->close();
                      },
                      [&](int) { return bytes; }),
                  2);
    }
}

TEST_F(DialogTest, ButtonsOtherThanOkAndCancelDoNotEndTheDialog) {
    DialogTemplate t = AboutBox();
    t.items.push_back({DialogItem::Kind::Button, 7, kWsChild | kWsVisible | kWsTabStop, 151, 60, 32,
                       14, "&Other"});
    t.items.push_back({DialogItem::Kind::Static, -1, kWsChild, 0, 0, 10, 8, "A && &B"});
    bool stillOpen = false;
    ui::SetDialogShownHookForTesting([&](void* widget) {
        auto* d = static_cast<QDialog*>(static_cast<QWidget*>(widget));
        d->findChild<QPushButton*>("item7")->click();
        stillOpen = d->isVisible();
        QLabel* hidden = LabelWithText(d, "A & B");  // "&&" shows "&", a single "&" is dropped
        ASSERT_NE(hidden, nullptr);
        EXPECT_FALSE(hidden->isVisibleTo(d));  // no WS_VISIBLE
        d->findChild<QPushButton*>("item1")->click();
    });
    EXPECT_EQ(ui::RunModalDialog(t, {}), 1);
    EXPECT_TRUE(stillOpen);
}

// A property page's dialog: the template's items in its font, inside a page that keeps the
// template's size, hidden until the page is shown.
TEST_F(DialogTest, AChildDialogPlacesItsItemsAndKeepsTheTemplatesSize) {
    QWidget tab;
    QWidget* page = ui::CreateChildDialog(&tab, GeneralPage(), {});
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->parentWidget(), &tab);
    EXPECT_FALSE(page->isVisibleTo(&tab));
    const ui::DialogBaseUnits units = ui::BaseUnitsOf(ui::DialogFont("MS Sans Serif", 8));
    EXPECT_EQ(page->size(), ui::MapDialogRect(units, 0, 0, 250, 62).size());
    QLabel* text = LabelWithText(page, "Not implemented!");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), ui::MapDialogRect(units, 24, 25, 212, 16));
    int width = 0, height = 0;
    ASSERT_TRUE(ui::DialogSizeInPixels(GeneralPage(), &width, &height));
    EXPECT_EQ(QSize(width, height), page->size());
    EXPECT_EQ(ui::CreateChildDialog(nullptr, GeneralPage(), {}), nullptr);
}

}  // namespace
