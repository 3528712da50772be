// The About box and the property frame, shown offscreen and closed from the test hook. The frame
// creates the page by its class identity, so the library is registered (in a registry of the
// test's own) first.
#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <cstring>

#include "platform/com/combase.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window_handles.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

class DialogTest : public PinbusTest {
protected:
    void SetUp() override {
        PinbusTest::SetUp();
        ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    }
    void TearDown() override {
        ui::SetDialogShownHookForTesting(nullptr);
        PinbusTest::TearDown();
    }
    // The properties verb as a container runs it.
    static HRESULT Properties(const ComPtr<IDispatch>& control) {
        return Ole(control)->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, nullptr, nullptr);
    }
    TempRegistry registry;
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
        // The page never says it changed anything, so there is nothing to apply.
        EXPECT_FALSE(buttons->button(QDialogButtonBox::Apply)->isEnabled());
        buttons->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(Properties(c), S_OK);
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
    EXPECT_EQ(Properties(c), S_OK);
    c.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
}

// The page as any frame drives it: created by its class identity, asked for its info with an
// uninitialised size field, activated in a window of the frame's, shown, moved and applied.
TEST_F(DialogTest, ThePageAnswersIPropertyPageAsAFrameUsesIt) {
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(CLSID_PinbusPropPage, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPropertyPage, page.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_TRUE(ui::KeepApplication());  // for the frame's window and the fonts
    PROPPAGEINFO info;
    std::memset(&info, 0xCD, sizeof info);  // cb included: the page must not read it
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.pszTitle), u"General");
    EXPECT_EQ(info.pszDocString, nullptr);
    EXPECT_EQ(info.pszHelpFile, nullptr);
    const ui::DialogBaseUnits units = ui::BaseUnitsOf(ui::DialogFont("MS Sans Serif", 8));
    const QSize template100 = ui::MapDialogRect(units, 0, 0, 250, 62).size();
    EXPECT_EQ(QSize(info.size.cx, info.size.cy), template100);
    CoTaskMemFree(info.pszTitle);

    // A frame's page area larger than the template (Wine's frame gives 375 x 146): the page takes
    // the whole area, its items where the template puts them.
    const RECT rect{5, 6, 5 + info.size.cx + 20, 6 + info.size.cy + 45};
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);  // not active yet
    EXPECT_EQ(page->Activate(reinterpret_cast<HWND>(0x4321), &rect, TRUE), OLE_E_INVALIDHWND);
    QWidget tab;
    ASSERT_EQ(page->Activate(ui::HandleOfWidget(&tab), &rect, TRUE), S_OK);
    EXPECT_EQ(page->Activate(ui::HandleOfWidget(&tab), &rect, TRUE), E_UNEXPECTED);
    QList<QWidget*> children = tab.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 1);
    QWidget* dialog = children[0];
    EXPECT_EQ(dialog->geometry(), QRect(5, 6, info.size.cx + 20, info.size.cy + 45));
    const QList<QWidget*> items = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_FALSE(items.isEmpty());
    QWidget* const last = items.last();
    const QRect itemAt = last->geometry();
    EXPECT_FALSE(dialog->isVisibleTo(&tab));
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_TRUE(dialog->isVisibleTo(&tab));
    const RECT moved{20, 30, 20 + info.size.cx, 30 + info.size.cy};
    ASSERT_EQ(page->Move(&moved), S_OK);
    EXPECT_EQ(dialog->geometry(), QRect(QPoint(20, 30), template100));
    const RECT smaller{1, 2, 1 + info.size.cx / 2, 2 + info.size.cy / 2};
    ASSERT_EQ(page->Move(&smaller), S_OK);
    EXPECT_EQ(dialog->geometry(), QRect(1, 2, info.size.cx / 2, info.size.cy / 2));
    EXPECT_EQ(last->geometry(), itemAt);  // the items stay where the template puts them
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->Help(u"C:\\help"), E_NOTIMPL);
    MSG msg{};
    EXPECT_EQ(page->TranslateAccelerator(&msg), S_FALSE);
    ASSERT_EQ(page->Deactivate(), S_OK);
    EXPECT_TRUE(tab.findChildren<QWidget*>().isEmpty());  // the page's dialog is gone
    EXPECT_EQ(page->Show(SW_HIDE), E_UNEXPECTED);
}

}  // namespace
