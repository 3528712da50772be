#include "platform/ctl/olecontrol.h"

#include <new>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/typelib.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/dialogs.h"
#include "platform/ctl/dispatch_invoke.h"
#include "platform/ctl/factory.h"
#include "platform/ctl/propertypage.h"

namespace {

// HIMETRIC (0.01 mm) from pixels at 96 per inch, rounded to nearest.
LONG PixelsToHimetric(int pixels) {
    long long scaled = static_cast<long long>(pixels) * 2540;
    return static_cast<LONG>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
}

// The standard verbs every control answers. A windowless control has nothing to show, open or
// activate, so they succeed without effect.
struct StandardVerb {
    LONG verb;
    const char* name;
};
constexpr StandardVerb kStandardVerbs[] = {
    {OLEIVERB_PRIMARY, "&Edit"},
    {OLEIVERB_SHOW, "&Show"},
    {OLEIVERB_OPEN, "&Open"},
    {OLEIVERB_HIDE, "&Hide"},
    {OLEIVERB_UIACTIVATE, "&Activate"},
    {OLEIVERB_INPLACEACTIVATE, "&In-place Activate"},
    {OLEIVERB_DISCARDUNDOSTATE, "&Discard Undo State"},
};
constexpr ULONG kStandardVerbCount = sizeof kStandardVerbs / sizeof kStandardVerbs[0];

BSTR AllocBstr(const std::string& utf8) {
    std::u16string text = Utf8ToOle(utf8);
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// A page object: from this module's own factories first (no registration needed), else
// through the class registry.
HRESULT CreatePage(AFX_MODULE_STATE* state, REFCLSID clsid, IAfxPropertyPage** page) {
    for (COleObjectFactory* f = state->m_pFactoryFirst; f; f = f->m_pNextFactory) {
        if (f->GetClassID() == clsid)
            return f->CreateInstance(nullptr, IID_IAfxPropertyPage, reinterpret_cast<void**>(page));
    }
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IAfxPropertyPage,
                            reinterpret_cast<void**>(page));
}

}  // namespace

COleControl::COleControl() { SetInitialSize(100, 50); }

COleControl::~COleControl() = default;

IUnknown* COleControl::GetControllingUnknown() { return static_cast<IDispatch*>(this); }

void* COleControl::GetInterface(REFIID riid) {
    if (riid == IID_IDispatch || (m_piidPrimary && riid == *m_piidPrimary))
        return static_cast<IDispatch*>(this);
    if (riid == IID_IPersist || riid == IID_IPersistStreamInit)
        return static_cast<IPersistStreamInit*>(this);
    if (riid == IID_IOleControlEmbedding) return static_cast<IOleControlEmbedding*>(this);
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
        return static_cast<IProvideClassInfo2*>(this);
    if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

HRESULT COleControl::InterfaceSupportsErrorInfo(REFIID riid) {
    if (riid == IID_IDispatch || (m_piidPrimary && riid == *m_piidPrimary)) return S_OK;
    return S_FALSE;
}

void COleControl::InitializeIIDs(const IID* piidPrimary, const IID* piidEvents) {
    m_piidPrimary = piidPrimary;
    m_piidEvents = piidEvents;
    m_xEventConnPt.SetInterface(piidEvents);
}

void COleControl::InitializeTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor) {
    m_tlid = tlid;
    m_wVerMajor = wVerMajor;
    m_wVerMinor = wVerMinor;
}

void COleControl::SetInitialSize(int cxPixels, int cyPixels) {
    m_cxExtent = PixelsToHimetric(cxPixels);
    m_cyExtent = PixelsToHimetric(cyPixels);
}

// ---------------------------------------------------------------- IDispatch

HRESULT COleControl::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT COleControl::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    if (!m_piidPrimary || m_tlid == GUID_NULL) return E_NOTIMPL;
    ComPtr<ITypeLib> lib;
    HRESULT hr = GetCachedTypeLib(m_tlid, m_wVerMajor, m_wVerMinor, lcid, &lib);
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(*m_piidPrimary, ppTInfo);
}

HRESULT COleControl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                   DISPID* rgDispId) {
    return AfxDispatchGetIDsOfNames(GetDispatchMap(), riid, rgszNames, cNames, rgDispId);
}

HRESULT COleControl::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                            DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr) {
    // The first call, before the map is known, takes the general path, which asks for it.
    const AFX_DISPMAP_ENTRY* entries = m_pDispatchEntries.load(std::memory_order_acquire);
    const AFX_DISPMAP_ENTRY* entry =
        entries ? afx_dispatch::FindEntry(
                      AFX_DISPMAP{entries, m_nDispatchEntries.load(std::memory_order_relaxed)},
                      dispIdMember)
                : nullptr;
    return afx_dispatch::InvokeFastOr(
        this, entry, riid, wFlags, pDispParams, pVarResult, pExcepInfo, [&] {
            return InvokeGeneral(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult,
                                 pExcepInfo, puArgErr);
        });
}

HRESULT COleControl::InvokeGeneral(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    const AFX_DISPMAP& map = GetDispatchMap();
    if (!m_pDispatchEntries.load(std::memory_order_relaxed)) {
        m_nDispatchEntries.store(map.nEntries, std::memory_order_relaxed);
        m_pDispatchEntries.store(map.lpEntries, std::memory_order_release);
    }
    return afx_dispatch::InvokeGeneral(this, map, dispIdMember, riid, wFlags, pDispParams,
                                       pVarResult, pExcepInfo, puArgErr);
}

// ---------------------------------------------------------------- persistence

BOOL COleControl::ExchangeVersion(CPropExchange* pPX, DWORD dwVersionDefault, BOOL bConvert) {
    ULONG version = bConvert ? dwVersionDefault : m_dwVersionLoaded;
    if (!PX_ULong(pPX, "_Version", version, dwVersionDefault)) return FALSE;
    if (pPX->IsLoading()) m_dwVersionLoaded = version;
    pPX->SetVersion(version);
    return TRUE;
}

BOOL COleControl::ExchangeExtent(CPropExchange* pPX) {
    if (pPX->GetDirection() == CPropExchange::Direction::Reset) return TRUE;
    LONG cx = m_cxExtent;
    LONG cy = m_cyExtent;
    if (!PX_Long(pPX, "_ExtentX", cx, cx) || !PX_Long(pPX, "_ExtentY", cy, cy)) return FALSE;
    m_cxExtent = cx;
    m_cyExtent = cy;
    return TRUE;
}

void COleControl::ExchangeStockProps(CPropExchange* pPX) {
    ULONG mask = 0;
    PX_ULong(pPX, "_StockProps", mask, 0);
}

void COleControl::DoPropExchange(CPropExchange* pPX) {
    ExchangeExtent(pPX);
    ExchangeStockProps(pPX);
}

void COleControl::OnResetState() {
    CPropExchange px(CPropExchange::Direction::Reset, nullptr, 0);
    DoPropExchange(&px);
}

HRESULT COleControl::MeasureState(std::string* bytes) {
    CPropExchange px(CPropExchange::Direction::Save, bytes, 0);
    DoPropExchange(&px);
    return S_OK;
}

HRESULT COleControl::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = GetControlClassID();
    return S_OK;
}

HRESULT COleControl::IsDirty() { return m_bModified ? S_OK : S_FALSE; }

HRESULT COleControl::Load(IStream* pStm) {
    if (!pStm) return E_POINTER;
    try {
        // The current state, to fall back on, also tells how many bytes the state takes.
        std::string previous;
        MeasureState(&previous);
        const DWORD previousVersion = m_dwVersionLoaded;
        const ULONG size = static_cast<ULONG>(previous.size());

        std::string bytes(size, '\0');
        ULONG read = 0;
        HRESULT hr = pStm->Read(bytes.data(), size, &read);
        if (FAILED(hr)) return hr;
        if (read != size) return STG_E_READFAULT;

        CPropExchange px(CPropExchange::Direction::Load, &bytes, 0);
        DoPropExchange(&px);
        if (px.Failed()) {
            CPropExchange restore(CPropExchange::Direction::Load, &previous, 0);
            DoPropExchange(&restore);
            m_dwVersionLoaded = previousVersion;
            return STG_E_READFAULT;
        }
        m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::Save(IStream* pStm, BOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    try {
        std::string bytes;
        MeasureState(&bytes);
        ULONG written = 0;
        HRESULT hr = pStm->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr)) return hr;
        if (written != bytes.size()) return STG_E_MEDIUMFULL;
        if (fClearDirty) m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::GetSizeMax(ULARGE_INTEGER* pCbSize) {
    if (!pCbSize) return E_POINTER;
    try {
        std::string bytes;
        MeasureState(&bytes);
        pCbSize->QuadPart = bytes.size();
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::InitNew() {
    try {
        OnResetState();
        m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

// ---------------------------------------------------------------- embedding

HRESULT COleControl::GetUserType(BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    std::string text;
    if (!AfxLoadString(GetInstanceHandle(), GetUserTypeNameID(), &text)) return E_FAIL;
    *name = AllocBstr(text);
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT COleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? GetControlMiscStatus() : 0;
    return S_OK;
}

HRESULT COleControl::SetExtent(DWORD aspect, const SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    m_cxExtent = size->cx;
    m_cyExtent = size->cy;
    return S_OK;
}

HRESULT COleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    size->cx = m_cxExtent;
    size->cy = m_cyExtent;
    return S_OK;
}

const AFX_OLEVERB* COleControl::GetVerbMap(ULONG* count) {
    *count = 0;
    return nullptr;
}

const CLSID* COleControl::GetPropPageIDs(ULONG* count) {
    *count = 0;
    return nullptr;
}

HRESULT COleControl::GetVerbCount(ULONG* count) {
    if (!count) return E_POINTER;
    ULONG added = 0;
    GetVerbMap(&added);
    *count = kStandardVerbCount + added;
    return S_OK;
}

HRESULT COleControl::GetVerb(ULONG index, LONG* verb, BSTR* name, DWORD* attribs) {
    if (!verb || !name || !attribs) return E_POINTER;
    *name = nullptr;
    ULONG added = 0;
    const AFX_OLEVERB* map = GetVerbMap(&added);
    const char* text = nullptr;
    if (index < kStandardVerbCount) {
        *verb = kStandardVerbs[index].verb;
        text = kStandardVerbs[index].name;
        *attribs = OLEVERBATTRIB_NEVERDIRTIES;
    } else if (index - kStandardVerbCount < added) {
        const AFX_OLEVERB& entry = map[index - kStandardVerbCount];
        *verb = entry.lVerb;
        text = entry.lpszName;
        *attribs = entry.grfAttribs;
    } else {
        return DISP_E_BADINDEX;
    }
    *name = AllocBstr(text);
    return *name ? S_OK : E_OUTOFMEMORY;
}

BOOL COleControl::DoStandardVerb(LONG verb) {
    for (const StandardVerb& v : kStandardVerbs)
        if (v.verb == verb) return TRUE;
    return FALSE;
}

HRESULT COleControl::DoVerb(LONG verb) {
    try {
        ULONG added = 0;
        const AFX_OLEVERB* map = GetVerbMap(&added);
        for (ULONG i = 0; i < added; ++i) {
            if (map[i].lVerb == verb) {
                if (!map[i].pfnHandler) return E_NOTIMPL;
                return (this->*map[i].pfnHandler)() ? S_OK : E_FAIL;
            }
        }
        if (DoStandardVerb(verb)) return S_OK;
        if (verb > 0) return OLEOBJ_S_INVALIDVERB;  // the primary verb ran (it has no effect)
        return E_NOTIMPL;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::GetPages(ULONG capacity, CLSID* pages, ULONG* count) {
    if (!count || (capacity && !pages)) return E_POINTER;
    ULONG n = 0;
    const CLSID* ids = GetPropPageIDs(&n);
    for (ULONG i = 0; i < n && i < capacity; ++i) pages[i] = ids[i];
    *count = n;
    return S_OK;
}

BOOL COleControl::OnProperties() {
    if (!AfxHaveDialogs()) return FALSE;
    ULONG n = 0;
    const CLSID* ids = GetPropPageIDs(&n);
    std::vector<ComPtr<IAfxPropertyPage>> pages;
    std::vector<ui::PropertyPageView> views;
    IUnknown* self = GetControllingUnknown();
    for (ULONG i = 0; i < n; ++i) {
        ComPtr<IAfxPropertyPage> page;
        ui::PropertyPageView view;
        if (FAILED(CreatePage(m_pModuleState, ids[i], &page)) ||
            FAILED(page->SetObjects(1, &self)) || FAILED(page->GetPageView(&view))) {
            if (page) page->SetObjects(0, nullptr);
            continue;  // a page that cannot be created is left out, as the frame does
        }
        pages.push_back(page);
        views.push_back(std::move(view));
    }
    std::string name;
    if (!AfxLoadString(GetInstanceHandle(), GetUserTypeNameID(), &name)) name = "Control";
    // Failure when no frame could be shown: no page, or no display to show it on.
    bool shown = false;
    if (!views.empty()) {
        AfxRunPropertyFrame(
            name, views,
            [&pages]() {
                for (auto& page : pages) page->Apply();
            },
            &shown);
    }
    // The pages let go of the object before it can be released.
    for (auto& page : pages) page->SetObjects(0, nullptr);
    return shown ? TRUE : FALSE;
}

void COleControl::OnDraw(CDC*, const RECT&, const RECT&) {}

HRESULT COleControl::Draw(LONG width, LONG height, DWORD* pixels) {
    if (!pixels) return E_POINTER;
    if (width < 1 || height < 1 || width > 4096 || height > 4096) return E_INVALIDARG;
    try {
        const RECT bounds{0, 0, width, height};
        return ctl::TheControlUi().DrawOnRaster(width, height, pixels,
                                                [&](CDC* dc) { OnDraw(dc, bounds, bounds); });
    } catch (...) {
        return HresultFromCurrentException();
    }
}
