// COleControl as an OLE object: its client site, type name, status, extent, advise sinks, verbs
// and their enumerator, and Close.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/com/com_exception.h"
#include "platform/com/combase.h"
#include "platform/com/utf.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/dialogs.h"
#include "platform/ctl/olecontrol.h"

namespace {

// The standard verbs every control offers, in menu order.
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

// A copy of `text` in task memory, for the caller to free with CoTaskMemFree; null when memory
// runs out.
LPOLESTR TaskString(const std::string& utf8) {
    const std::u16string text = Utf8ToOle(utf8);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (out) std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    return out;
}

struct VerbEntry {
    LONG verb;
    std::string name;
    DWORD attribs;
};

// The verbs as IEnumOLEVERB hands them out: each name a new task string.
class CEnumOleVerb final : public IEnumOLEVERB {
public:
    CEnumOleVerb(std::shared_ptr<const std::vector<VerbEntry>> verbs, ULONG position)
        : m_verbs(std::move(verbs)), m_position(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumOLEVERB) return E_NOINTERFACE;
        *ppv = static_cast<IEnumOLEVERB*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLEVERB rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (!rgelt || (celt != 1 && !pceltFetched)) return E_POINTER;
        ULONG fetched = 0;
        while (fetched < celt && m_position < m_verbs->size()) {
            const VerbEntry& entry = (*m_verbs)[m_position];
            LPOLESTR name = TaskString(entry.name);
            if (!name) {
                for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(rgelt[i].lpszVerbName);
                return E_OUTOFMEMORY;
            }
            rgelt[fetched] = OLEVERB{entry.verb, name, 0, entry.attribs};
            ++fetched;
            ++m_position;
        }
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        const ULONG left = static_cast<ULONG>(m_verbs->size()) - m_position;
        m_position += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumOLEVERB** ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = new (std::nothrow) CEnumOleVerb(m_verbs, m_position);
        return *ppenum ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~CEnumOleVerb() = default;
    std::atomic<ULONG> m_refs{1};
    std::shared_ptr<const std::vector<VerbEntry>> m_verbs;
    ULONG m_position;
};

}  // namespace

// ---------------------------------------------------------------- the site

HRESULT COleControl::SetClientSite(IOleClientSite* pClientSite) {
    // A control still active in a container that takes its site away leaves it first.
    if (m_bInPlaceActive && pClientSite != m_pClientSite.Get()) InPlaceDeactivate();
    m_pClientSite = pClientSite;
    return S_OK;
}

HRESULT COleControl::GetClientSite(IOleClientSite** ppClientSite) {
    if (!ppClientSite) return E_POINTER;
    *ppClientSite = m_pClientSite.Get();
    if (*ppClientSite) (*ppClientSite)->AddRef();
    return S_OK;
}

// The control has no window title that the container's names would go into.
HRESULT COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT COleControl::Close(DWORD dwSaveOption) {
    if (dwSaveOption > OLECLOSE_PROMPTSAVE) return E_INVALIDARG;
    InPlaceDeactivate();
    // A control has nobody to ask: PROMPTSAVE saves as SAVEIFDIRTY does.
    if (dwSaveOption != OLECLOSE_NOSAVE && m_bModified && m_pClientSite) {
        if (HRESULT hr = m_pClientSite->SaveObject(); FAILED(hr)) return hr;
    }
    // Taken first: a sink may unadvise (or release the control) while it is told.
    const auto sinks = m_adviseSinks;
    for (const auto& sink : sinks) sink.second->OnClose();
    return S_OK;
}

// A control is not linked to (OLEMISC_CANTLINKINSIDE) and is not moved by data transfer.
HRESULT COleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT COleControl::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
}

HRESULT COleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT COleControl::GetClipboardData(DWORD, IDataObject** ppDataObject) {
    if (ppDataObject) *ppDataObject = nullptr;
    return E_NOTIMPL;
}

// Nothing is cached from a source: the object is always up to date.
HRESULT COleControl::Update() { return S_OK; }
HRESULT COleControl::IsUpToDate() { return S_OK; }

HRESULT COleControl::GetUserClassID(CLSID* pClsid) {
    if (!pClsid) return E_POINTER;
    *pClsid = GetControlClassID();
    return S_OK;
}

// Every form of the name is the user type name string.
HRESULT COleControl::GetUserType(DWORD, LPOLESTR* pszUserType) {
    if (!pszUserType) return E_POINTER;
    return AfxLoadTaskString(GetInstanceHandle(), GetUserTypeNameID(), pszUserType);
}

HRESULT COleControl::SetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (psizel->cx == m_cxExtent && psizel->cy == m_cyExtent) return S_OK;
    m_cxExtent = psizel->cx;
    m_cyExtent = psizel->cy;
    // The extent is saved with the control's state, and the picture is drawn to it.
    m_bModified = true;
    SendViewChange();
    return S_OK;
}

HRESULT COleControl::GetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    psizel->cx = m_cxExtent;
    psizel->cy = m_cyExtent;
    return S_OK;
}

HRESULT COleControl::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) {
    if (!pdwConnection) return E_POINTER;
    *pdwConnection = 0;
    if (!pAdvSink) return E_INVALIDARG;
    try {
        m_adviseSinks.emplace_back(m_dwNextAdviseCookie, ComPtr<IAdviseSink>(pAdvSink));
    } catch (...) {
        return HresultFromCurrentException();
    }
    *pdwConnection = m_dwNextAdviseCookie++;
    return S_OK;
}

HRESULT COleControl::Unadvise(DWORD dwConnection) {
    for (auto it = m_adviseSinks.begin(); it != m_adviseSinks.end(); ++it) {
        if (it->first != dwConnection) continue;
        ComPtr<IAdviseSink> sink = std::move(it->second);  // released after the list is whole
        m_adviseSinks.erase(it);
        return S_OK;
    }
    return OLE_E_NOCONNECTION;
}

HRESULT COleControl::EnumAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise) *ppenumAdvise = nullptr;
    return E_NOTIMPL;
}

HRESULT COleControl::GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = dwAspect == DVASPECT_CONTENT ? GetControlMiscStatus() : 0;
    return S_OK;
}

HRESULT COleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---------------------------------------------------------------- verbs

const AFX_OLEVERB* COleControl::GetVerbMap(ULONG* count) {
    *count = 0;
    return nullptr;
}

HRESULT COleControl::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) {
    if (!ppEnumOleVerb) return E_POINTER;
    *ppEnumOleVerb = nullptr;
    try {
        auto verbs = std::make_shared<std::vector<VerbEntry>>();
        for (const StandardVerb& v : kStandardVerbs)
            verbs->push_back({v.verb, v.name, OLEVERBATTRIB_NEVERDIRTIES});
        ULONG added = 0;
        const AFX_OLEVERB* map = GetVerbMap(&added);
        for (ULONG i = 0; i < added; ++i)
            verbs->push_back({map[i].lVerb, map[i].lpszName, map[i].grfAttribs});
        *ppEnumOleVerb = new CEnumOleVerb(std::move(verbs), 0);
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

// The verb map's verbs first; then the standard ones: the primary verb, Show, Open and the
// activation verbs activate the control in place (Open too: it has no window of its own to open
// in), Hide hides its window, Discard Undo State has nothing to discard. An unknown positive verb
// runs the primary one and says so; an unknown negative one is not implemented.
HRESULT COleControl::DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite*, LONG lindex, HWND hwndParent,
                            LPCRECT lprcPosRect) {
    // lindex is reserved and must be zero.
    if (lindex != 0) return DV_E_LINDEX;
    try {
        ULONG added = 0;
        const AFX_OLEVERB* map = GetVerbMap(&added);
        for (ULONG i = 0; i < added; ++i) {
            if (map[i].lVerb != iVerb) continue;
            if (!map[i].pfnHandler) return E_NOTIMPL;
            return (this->*map[i].pfnHandler)(lpmsg, hwndParent, lprcPosRect) ? S_OK : E_FAIL;
        }
        switch (iVerb) {
            case OLEIVERB_PRIMARY:
            case OLEIVERB_UIACTIVATE:
                return OnActivateInPlace(TRUE);
            case OLEIVERB_SHOW:
            case OLEIVERB_OPEN:
            case OLEIVERB_INPLACEACTIVATE:
                return OnActivateInPlace(FALSE);
            case OLEIVERB_HIDE:
                if (m_bInPlaceActive) {
                    UIDeactivate();
                    if (m_pWnd) m_pWnd->Show(false);
                }
                return S_OK;
            case OLEIVERB_DISCARDUNDOSTATE:
                return S_OK;
            default:
                break;
        }
        if (iVerb < 0) return E_NOTIMPL;
        const HRESULT hr = OnActivateInPlace(TRUE);
        return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
    } catch (...) {
        return HresultFromCurrentException();
    }
}
