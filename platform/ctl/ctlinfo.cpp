// COleControl as a host finds it before placing it: its connection points (the event source
// interface registered with InitializeIIDs) and its class information.
#include "platform/com/com_exception.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/ctl/olecontrol.h"

HRESULT COleControl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    std::vector<IConnectionPoint*> points;
    try {
        if (m_xEventConnPt.GetInterface()) points.push_back(&m_xEventConnPt);
    } catch (...) {
        *ppEnum = nullptr;
        return HresultFromCurrentException();
    }
    return AfxCreateEnumConnectionPoints(points, ppEnum);
}

HRESULT COleControl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    const IID* events = m_xEventConnPt.GetInterface();
    if (!events || riid != *events) return CONNECT_E_NOCONNECTION;
    *ppCP = &m_xEventConnPt;
    m_xEventConnPt.AddRef();
    return S_OK;
}

HRESULT COleControl::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    if (m_tlid == GUID_NULL) return E_NOTIMPL;
    ComPtr<ITypeLib> lib;
    HRESULT hr = GetCachedTypeLib(m_tlid, m_wVerMajor, m_wVerMinor, LOCALE_USER_DEFAULT, &lib);
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(GetControlClassID(), ppTI);
}

HRESULT COleControl::GetGUID(DWORD dwGuidKind, GUID* pGUID) {
    if (!pGUID) return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = GUID_NULL;
        return E_INVALIDARG;
    }
    const IID* events = m_xEventConnPt.GetInterface();
    *pGUID = events ? *events : GUID_NULL;
    return events ? S_OK : E_UNEXPECTED;
}
