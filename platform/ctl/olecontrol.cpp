#include "platform/ctl/olecontrol.h"

#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/dispatch_invoke.h"

namespace {

// HIMETRIC (0.01 mm) from pixels at 96 per inch, rounded to nearest.
LONG PixelsToHimetric(int pixels) {
    long long scaled = static_cast<long long>(pixels) * 2540;
    return static_cast<LONG>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
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
    if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        return static_cast<IOleInPlaceObject*>(this);
    if (riid == IID_IViewObject || riid == IID_IViewObject2)
        return static_cast<IViewObject2*>(this);
    if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
    if (riid == IID_IPersistMemory) return static_cast<IPersistMemory*>(this);
    if (riid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
    if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
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

DWORD COleControl::GetViewStatus() const { return 0; }

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

HRESULT COleControl::LoadState(const std::string& bytes, const std::string& previous) {
    const DWORD previousVersion = m_dwVersionLoaded;
    std::string loaded = bytes;
    CPropExchange px(CPropExchange::Direction::Load, &loaded, 0);
    DoPropExchange(&px);
    if (px.Failed()) {
        std::string before = previous;
        CPropExchange restore(CPropExchange::Direction::Load, &before, 0);
        DoPropExchange(&restore);
        m_dwVersionLoaded = previousVersion;
        return STG_E_READFAULT;
    }
    m_bModified = false;
    return S_OK;
}

HRESULT COleControl::Load(IStream* pStm) {
    if (!pStm) return E_POINTER;
    try {
        // The current state, to fall back on, also tells how many bytes the state takes.
        std::string previous;
        MeasureState(&previous);
        const ULONG size = static_cast<ULONG>(previous.size());

        std::string bytes(size, '\0');
        ULONG read = 0;
        HRESULT hr = pStm->Read(bytes.data(), size, &read);
        if (FAILED(hr)) return hr;
        if (read != size) return STG_E_READFAULT;
        return LoadState(bytes, previous);
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
