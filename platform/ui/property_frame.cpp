// The property frame: OleCreatePropertyFrame as a Qt dialog with one tab per page. Each page is
// created by its class identity and driven only through IPropertyPage, in the platform frame's
// order: SetPageSite, SetObjects, GetPageInfo; Activate (as a child of its tab) and Show when its
// tab is first shown; Show(SW_HIDE) when another tab is chosen; on OK and Apply, Apply for each
// page that says it holds changes; when the frame closes Show(SW_HIDE), Deactivate,
// SetObjects(0) and SetPageSite(null), then the page is released.
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/olectl.h"
#include "platform/com/utf.h"
#include "platform/ui/application_scope.h"
#include "platform/ui/window_handles.h"

namespace ui {
namespace {

// The frame's side of one page: the page says through it that it holds changes.
class PageSite final : public IPropertyPageSite {
public:
    PageSite(LCID lcid, std::function<void()> onDirty)
        : lcid_(lcid), onDirty_(std::move(onDirty)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPropertyPageSite) return E_NOINTERFACE;
        *ppv = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD dwFlags) override {
        if ((dwFlags & PROPPAGESTATUS_DIRTY) && onDirty_) onDirty_();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pLocaleID) override {
        if (!pLocaleID) return E_POINTER;
        *pLocaleID = lcid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** ppUnk) override {
        if (ppUnk) *ppUnk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    // The frame is gone: a page that keeps its site reaches nothing of it any more.
    void Detach() { onDirty_ = nullptr; }

private:
    ~PageSite() = default;
    std::atomic<ULONG> refs_{1};
    LCID lcid_;
    std::function<void()> onDirty_;
};

struct Page {
    ComPtr<IPropertyPage> page;
    PageSite* site = nullptr;  // one reference, released with the page
    std::string title;
    SIZE size{};
    QWidget* tab = nullptr;
    bool active = false;
};

std::string TakeTaskString(LPOLESTR text) {
    std::string out = text ? OleToUtf8(text) : std::string();
    CoTaskMemFree(text);
    return out;
}

// Creates page `clsid` for the objects and reads its info; the error when it cannot be had.
HRESULT OpenPage(REFCLSID clsid, const OCPFIPARAMS& params, const std::function<void()>& onDirty,
                 Page* out) {
    Page page;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                  page.page.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    page.site = new PageSite(params.lcid, onDirty);
    hr = page.page->SetPageSite(page.site);
    if (SUCCEEDED(hr)) hr = page.page->SetObjects(params.cObjects, params.lplpUnk);
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    if (SUCCEEDED(hr)) hr = page.page->GetPageInfo(&info);
    page.title = TakeTaskString(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
    if (FAILED(hr)) {
        page.page->SetObjects(0, nullptr);
        page.page->SetPageSite(nullptr);
        page.site->Release();
        return hr;
    }
    page.size = SIZE{std::max<LONG>(info.size.cx, 0), std::max<LONG>(info.size.cy, 0)};
    *out = std::move(page);
    return S_OK;
}

// Lets every page go, in the platform frame's order.
void ClosePages(std::vector<Page>& pages, int current) {
    if (current >= 0 && current < static_cast<int>(pages.size()) && pages[current].active)
        pages[current].page->Show(SW_HIDE);
    for (Page& p : pages) {
        if (p.active) p.page->Deactivate();
        p.page->SetObjects(0, nullptr);
        p.page->SetPageSite(nullptr);
        p.site->Detach();
        p.site->Release();
        p.site = nullptr;
    }
    pages.clear();
}

// Applies the pages that hold changes; false when one refused.
bool ApplyPages(std::vector<Page>& pages) {
    bool ok = true;
    for (Page& p : pages)
        if (p.page->IsPageDirty() == S_OK && FAILED(p.page->Apply())) ok = false;
    return ok;
}

bool AnyDirty(std::vector<Page>& pages) {
    for (Page& p : pages)
        if (p.page->IsPageDirty() == S_OK) return true;
    return false;
}

void ShowPage(Page& p) {
    if (!p.active) {
        const RECT rect{0, 0, p.size.cx, p.size.cy};
        p.active = SUCCEEDED(p.page->Activate(HandleOfWidget(p.tab), &rect, TRUE));
    }
    if (p.active) p.page->Show(SW_SHOW);
}

HRESULT RunFrame(const OCPFIPARAMS& params) {
    if (!ModalWindowsShown()) return E_FAIL;
    ApplicationScope app;
    if (!app.ok()) return E_FAIL;

    QPushButton* applyButton = nullptr;
    const auto onDirty = [&applyButton] {
        if (applyButton) applyButton->setEnabled(true);
    };
    std::vector<Page> pages;
    HRESULT firstFailure = S_OK;
    for (ULONG i = 0; i < params.cPages; ++i) {
        Page page;
        const HRESULT hr = OpenPage(params.lpPages[i], params, onDirty, &page);
        if (FAILED(hr)) {
            if (firstFailure == S_OK) firstFailure = hr;
            continue;  // a page that cannot be had is left out
        }
        pages.push_back(std::move(page));
    }
    if (pages.empty()) return FAILED(firstFailure) ? firstFailure : E_FAIL;

    QDialog frame(WidgetOfHandle(params.hWndOwner),
                  Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                      Qt::MSWindowsFixedSizeDialogHint);
    const std::string caption = params.lpszCaption ? OleToUtf8(params.lpszCaption) : "";
    frame.setWindowTitle(QString::fromStdString(caption + " Properties"));
    auto* layout = new QVBoxLayout(&frame);
    auto* tabs = new QTabWidget(&frame);
    tabs->setObjectName(QStringLiteral("pages"));
    for (Page& p : pages) {
        p.tab = new QWidget;
        p.tab->setFixedSize(p.size.cx, p.size.cy);
        tabs->addTab(p.tab, QString::fromStdString(p.title));
    }
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, &frame);
    buttons->setObjectName(QStringLiteral("buttons"));
    layout->addWidget(buttons);
    applyButton = buttons->button(QDialogButtonBox::Apply);
    applyButton->setEnabled(false);  // until a page says it holds changes
    layout->setSizeConstraint(QLayout::SetFixedSize);

    int current = 0;
    ShowPage(pages[0]);
    QObject::connect(tabs, &QTabWidget::currentChanged, &frame, [&](int index) {
        if (index < 0 || index >= static_cast<int>(pages.size())) return;
        if (pages[current].active) pages[current].page->Show(SW_HIDE);
        current = index;
        ShowPage(pages[current]);
    });
    // A page that refuses its changes keeps the frame open, as it does on the platform.
    QObject::connect(buttons, &QDialogButtonBox::accepted, &frame, [&] {
        if (ApplyPages(pages)) frame.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &frame, [&] { frame.reject(); });
    QObject::connect(applyButton, &QPushButton::clicked, &frame, [&] {
        ApplyPages(pages);
        applyButton->setEnabled(AnyDirty(pages));
    });
    ScheduleShownHook(&frame);
    frame.exec();
    applyButton = nullptr;
    ClosePages(pages, current);
    return S_OK;
}

}  // namespace
}  // namespace ui

// x and y are where the platform would place the frame; here the window system places it.
HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                               ULONG cObjects, IUnknown** ppUnk, ULONG cPages, CLSID* pPageClsID,
                               LCID lcid, DWORD, void*) {
    OCPFIPARAMS params{};
    params.cbStructSize = sizeof params;
    params.hWndOwner = hwndOwner;
    params.x = static_cast<int>(x);
    params.y = static_cast<int>(y);
    params.lpszCaption = lpszCaption;
    params.cObjects = cObjects;
    params.lplpUnk = ppUnk;
    params.cPages = cPages;
    params.lpPages = pPageClsID;
    params.lcid = lcid;
    return OleCreatePropertyFrameIndirect(&params);
}

HRESULT OleCreatePropertyFrameIndirect(LPOCPFIPARAMS lpParams) {
    if (!lpParams || lpParams->cbStructSize != sizeof(OCPFIPARAMS)) return E_INVALIDARG;
    if ((lpParams->cObjects && !lpParams->lplpUnk) || !lpParams->cPages || !lpParams->lpPages)
        return E_INVALIDARG;
    for (ULONG i = 0; i < lpParams->cObjects; ++i)
        if (!lpParams->lplpUnk[i]) return E_INVALIDARG;
    try {
        return ui::RunFrame(*lpParams);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
