// The About box and the property frame, shown offscreen and closed from the test hook.
#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include "platform/ui/dialogs.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

class DialogTest : public PinbusTest {
protected:
    void TearDown() override {
        ui::SetDialogShownHookForTesting(nullptr);
        PinbusTest::TearDown();
    }
};

QStringList Labels(QWidget* w) {
    QStringList texts;
    for (QLabel* label : w->findChildren<QLabel*>()) texts << label->text();
    return texts;
}

TEST_F(DialogTest, AboutBoxBlocksUntilClosedAndChangesNothing) {
    auto c = NewControl();
    const std::string before = Save(c);
    bool returned = false;
    int shown = 0;
    QString title;
    QStringList texts;
    ui::SetDialogShownHookForTesting([&](void* widget) {
        auto* dialog = static_cast<QWidget*>(widget);
        ++shown;
        EXPECT_FALSE(returned);  // the caller is still waiting
        title = dialog->windowTitle();
        texts = Labels(dialog);
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == "OK") b->click();
    });
    VARIANT result;
    HRESULT hr = CallMethod(c.Get(), DISPID_ABOUTBOX, &result);
    returned = true;
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    ASSERT_EQ(shown, 1);
    EXPECT_EQ(title, "About Pinbus Control");
    EXPECT_TRUE(texts.contains("Pinbus Control, Version 1.2")) << texts.join("|").toStdString();
    EXPECT_EQ(Save(c, FALSE), before);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_TRUE(cycles.empty());
}

TEST_F(DialogTest, AboutBoxClosedWithEscapeReturnsAllTheSame) {
    auto c = NewControl();
    ui::SetDialogShownHookForTesting([](void* widget) { static_cast<QDialog*>(widget)->reject(); });
    EXPECT_EQ(CallMethod(c.Get(), DISPID_ABOUTBOX), S_OK);
}

TEST_F(DialogTest, PropertiesVerbShowsTheGeneralPageAndOkChangesNothing) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    Save(c);  // clean
    int shown = 0;
    QStringList tabs, texts;
    QString title;
    ui::SetDialogShownHookForTesting([&](void* widget) {
        auto* frame = static_cast<QWidget*>(widget);
        ++shown;
        title = frame->windowTitle();
        auto* pages = frame->findChild<QTabWidget*>("pages");
        ASSERT_NE(pages, nullptr);
        for (int i = 0; i < pages->count(); ++i) tabs << pages->tabText(i);
        texts = Labels(frame);
        auto* buttons = frame->findChild<QDialogButtonBox*>("buttons");
        ASSERT_NE(buttons, nullptr);
        buttons->button(QDialogButtonBox::Apply)->click();
        buttons->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(Embedding(c)->DoVerb(OLEIVERB_PROPERTIES), S_OK);
    ASSERT_EQ(shown, 1);
    EXPECT_EQ(title, "Pinbus Control Properties");
    EXPECT_EQ(tabs, QStringList{"General"});
    EXPECT_TRUE(texts.contains("Not implemented!")) << texts.join("|").toStdString();
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x278);
    EXPECT_EQ(GetI2(c.Get(), kBits), 16);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_TRUE(cycles.empty());
}

TEST_F(DialogTest, ThePageReleasesTheObjectWhenTheFrameCloses) {
    auto c = NewControl();
    ui::SetDialogShownHookForTesting([](void* widget) { static_cast<QDialog*>(widget)->reject(); });
    EXPECT_EQ(Embedding(c)->DoVerb(OLEIVERB_PROPERTIES), S_OK);
    c.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
}

}  // namespace
