// The property frame as its pages see it: pages made by class identity (a class object this test
// registers), driven only through IPropertyPage and in the platform frame's order.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/olectl.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window_handles.h"
#include "tests/support/temp_registry.h"

namespace {

constexpr CLSID kPageA = {0xA1B2C3D4, 0x0101, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
constexpr CLSID kPageB = {0xA1B2C3D4, 0x0102, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
constexpr CLSID kNoPage = {0xA1B2C3D4, 0x0103, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};

// A page that writes down every call (with its page's name) into the test's log.
class FakePage final : public IPropertyPage {
public:
    FakePage(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPropertyPage) return E_NOINTERFACE;
        *ppv = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // the test owns it

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
        Note(site ? "SetPageSite" : "SetPageSite null");
        site_ = site;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override {
        Note("Activate " + std::to_string(rect->right) + "x" + std::to_string(rect->bottom) +
             (modal ? " modal" : ""));
        parentWidget = ui::WidgetOfHandle(parent);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Deactivate() override { return Note("Deactivate"), S_OK; }
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
        Note(info->cb == sizeof(PROPPAGEINFO) ? "GetPageInfo" : "GetPageInfo bad cb");
        const std::u16string title(name_.begin(), name_.end());
        info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc((title.size() + 1) * 2));
        std::copy(title.c_str(), title.c_str() + title.size() + 1, info->pszTitle);
        info->size = SIZE{120, 40};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown**) override {
        Note("SetObjects " + std::to_string(count));
        return refuseObjects ? E_NOINTERFACE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Show(UINT show) override {
        Note(show == SW_HIDE ? "Show hide" : "Show show");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Move(LPCRECT) override { return Note("Move"), S_OK; }
    HRESULT STDMETHODCALLTYPE IsPageDirty() override { return dirty ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Apply() override {
        Note("Apply");
        if (refuseApply) return E_FAIL;
        dirty = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    // The page changes something, as a user's edit would, and tells its frame.
    void Edit() {
        dirty = true;
        site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
    }

    ULONG refs = 0;
    bool dirty = false;
    bool refuseApply = false;
    bool refuseObjects = false;
    QWidget* parentWidget = nullptr;

private:
    void Note(const std::string& call) { log_->push_back(name_ + " " + call); }
    std::string name_;
    std::vector<std::string>* log_;
    IPropertyPageSite* site_ = nullptr;
};

// Hands out one page object, registered as its class while the test runs.
class PageFactory final : public IClassFactory {
public:
    PageFactory(REFCLSID clsid, FakePage* page) : page_(page) {
        EXPECT_EQ(
            CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
            S_OK);
    }
    ~PageFactory() { EXPECT_EQ(CoRevokeClassObject(cookie_), S_OK); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        return page_->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    FakePage* page_;
    DWORD cookie_ = 0;
};

// One object the frame hands the pages.
class Object final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

class PropertyFrameTest : public ::testing::Test {
protected:
    void TearDown() override { ui::SetDialogShownHookForTesting(nullptr); }

    // Runs the frame on `pages`; `act` gets the frame, its tabs and its buttons.
    HRESULT Run(std::vector<CLSID> pages,
                const std::function<void(QDialog*, QTabWidget*, QDialogButtonBox*)>& act) {
        ui::SetDialogShownHookForTesting([&](void* widget) {
            auto* frame = qobject_cast<QDialog*>(static_cast<QWidget*>(widget));
            ASSERT_NE(frame, nullptr);
            act(frame, frame->findChild<QTabWidget*>("pages"),
                frame->findChild<QDialogButtonBox*>("buttons"));
        });
        IUnknown* objects[] = {&object};
        return OleCreatePropertyFrame(nullptr, 0, 0, u"Pinbus Control", 1, objects,
                                      static_cast<ULONG>(pages.size()), pages.data(), 0x0409, 0,
                                      nullptr);
    }

    test_support::TempRegistry registry;  // where an unknown page is looked up (in vain)
    std::vector<std::string> log;
    FakePage a{"A", &log}, b{"B", &log};
    PageFactory factoryA{kPageA, &a}, factoryB{kPageB, &b};
    Object object;
};

TEST_F(PropertyFrameTest, DrivesEachPageThroughIPropertyPageInTheFramesOrder) {
    QString title, tab;
    QSize tabSize;
    EXPECT_EQ(Run({kPageA},
                  [&](QDialog* frame, QTabWidget* tabs, QDialogButtonBox* buttons) {
                      title = frame->windowTitle();
                      tab = tabs->tabText(0);
                      tabSize = tabs->widget(0)->size();
                      // The page sits in its tab, as the child of the tab's window.
                      EXPECT_EQ(a.parentWidget, tabs->widget(0));
                      // Nothing to apply until a page says it changed something.
                      EXPECT_FALSE(buttons->button(QDialogButtonBox::Apply)->isEnabled());
                      buttons->button(QDialogButtonBox::Ok)->click();
                  }),
              S_OK);
    EXPECT_EQ(title, "Pinbus Control Properties");
    EXPECT_EQ(tab, "A");
    EXPECT_EQ(tabSize, QSize(120, 40));
    // OK applies nothing: the page holds no changes.
    EXPECT_EQ(log,
              (std::vector<std::string>{"A SetPageSite", "A SetObjects 1", "A GetPageInfo",
                                        "A Activate 120x40 modal", "A Show show", "A Show hide",
                                        "A Deactivate", "A SetObjects 0", "A SetPageSite null"}));
    EXPECT_EQ(a.refs, 0u);  // every reference the frame took is given back
}

TEST_F(PropertyFrameTest, APageIsActivatedWhenItsTabIsFirstShownAndAppliedOnlyWhenDirty) {
    EXPECT_EQ(Run({kPageA, kPageB},
                  [&](QDialog*, QTabWidget* tabs, QDialogButtonBox* buttons) {
                      EXPECT_EQ(b.parentWidget, nullptr);  // not shown yet, not active yet
                      tabs->setCurrentIndex(1);
                      EXPECT_EQ(b.parentWidget, tabs->widget(1));
                      b.Edit();
                      QPushButton* apply = buttons->button(QDialogButtonBox::Apply);
                      EXPECT_TRUE(apply->isEnabled());
                      apply->click();
                      EXPECT_FALSE(apply->isEnabled());  // nothing left to apply
                      buttons->button(QDialogButtonBox::Cancel)->click();
                  }),
              S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "A SetPageSite", "A SetObjects 1", "A GetPageInfo", "B SetPageSite",
                       "B SetObjects 1", "B GetPageInfo", "A Activate 120x40 modal", "A Show show",
                       "A Show hide", "B Activate 120x40 modal", "B Show show", "B Apply",
                       "B Show hide", "A Deactivate", "A SetObjects 0", "A SetPageSite null",
                       "B Deactivate", "B SetObjects 0", "B SetPageSite null"}));
}

TEST_F(PropertyFrameTest, APageThatRefusesItsChangesKeepsTheFrameOpen) {
    a.refuseApply = true;
    bool stillOpen = false;
    EXPECT_EQ(Run({kPageA},
                  [&](QDialog* frame, QTabWidget*, QDialogButtonBox* buttons) {
                      a.Edit();
                      buttons->button(QDialogButtonBox::Ok)->click();
                      stillOpen = frame->isVisible();
                      frame->reject();
                  }),
              S_OK);
    EXPECT_TRUE(stillOpen);
}

TEST_F(PropertyFrameTest, PagesThatCannotBeHadAreLeftOutAndNoneLeftIsAnError) {
    b.refuseObjects = true;
    int tabCount = -1;
    EXPECT_EQ(Run({kNoPage, kPageB, kPageA},
                  [&](QDialog* frame, QTabWidget* tabs, QDialogButtonBox*) {
                      tabCount = tabs->count();
                      frame->reject();
                  }),
              S_OK);
    EXPECT_EQ(tabCount, 1);
    EXPECT_EQ(b.refs, 0u);  // the refused page is let go at once
    bool shown = false;
    EXPECT_EQ(Run({kNoPage}, [&](QDialog*, QTabWidget*, QDialogButtonBox*) { shown = true; }),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(shown);

    IUnknown* objects[] = {&object};
    CLSID pages[] = {kPageA};
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, objects, 0, pages, 0, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, nullptr, 1, pages, 0, 0, nullptr),
              E_INVALIDARG);
    OCPFIPARAMS params{};
    params.cbStructSize = sizeof params - 1;
    EXPECT_EQ(OleCreatePropertyFrameIndirect(&params), E_INVALIDARG);
}

}  // namespace
