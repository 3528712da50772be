#include "platform/ctl/connpoint.h"

#include <atomic>
#include <new>

#include "platform/com/com_exception.h"

namespace {

// A snapshot enumerator: the items are held (one reference each) for its whole life, so a
// connection made or broken later does not disturb an enumeration under way.
template <typename Interface, typename Item, const IID& Iid>
class Enumerator final : public Interface {
public:
    explicit Enumerator(std::vector<Item> items, ULONG position = 0)
        : items_(std::move(items)), pos_(position) {
        for (Item& item : items_) Ref(item)->AddRef();
    }
    ~Enumerator() {
        for (Item& item : items_) Ref(item)->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == Iid) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count != 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++];
            Ref(out[n])->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const ULONG left = static_cast<ULONG>(items_.size()) - pos_;
        if (count > left) {
            pos_ = static_cast<ULONG>(items_.size());
            return S_FALSE;
        }
        pos_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        try {
            auto* copy = new Enumerator(items_, pos_);
            copy->AddRef();
            *ppEnum = copy;
            return S_OK;
        } catch (...) {
            return HresultFromCurrentException();
        }
    }

private:
    static IUnknown* Ref(const CONNECTDATA& d) { return d.pUnk; }
    static IUnknown* Ref(IConnectionPoint* p) { return p; }

    std::vector<Item> items_;
    ULONG pos_;
    std::atomic<ULONG> refs_{0};
};

using ConnectionsEnumerator = Enumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;
using PointsEnumerator =
    Enumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;

}  // namespace

CConnectionPoint::~CConnectionPoint() {
    for (auto& [cookie, sink] : m_sinks) sink->Release();
}

HRESULT CConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    if (!m_piid) return E_UNEXPECTED;
    *pIID = *m_piid;
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    *ppCPC = m_pContainer;
    m_pContainer->AddRef();
    return S_OK;
}

HRESULT CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink || !m_piid) return E_POINTER;
    // The sink must speak the outgoing interface; a dispinterface is also reached as IDispatch.
    void* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(*m_piid, &sink)) || !sink) {
        sink = nullptr;
        if (FAILED(pUnkSink->QueryInterface(IID_IDispatch, &sink)) || !sink)
            return CONNECT_E_CANNOTCONNECT;
    }
    // Cookies are never 0 and never handed out twice while a connection holds them.
    const DWORD first = m_dwNextCookie;
    while (m_dwNextCookie == 0 || m_sinks.count(m_dwNextCookie)) {
        ++m_dwNextCookie;
        if (m_dwNextCookie == first) {
            static_cast<IUnknown*>(sink)->Release();
            return CONNECT_E_ADVISELIMIT;
        }
    }
    try {
        m_sinks.emplace(m_dwNextCookie, static_cast<IUnknown*>(sink));
    } catch (...) {
        static_cast<IUnknown*>(sink)->Release();
        return HresultFromCurrentException();
    }
    *pdwCookie = m_dwNextCookie++;
    return S_OK;
}

HRESULT CConnectionPoint::Unadvise(DWORD dwCookie) {
    auto it = m_sinks.find(dwCookie);
    if (it == m_sinks.end()) return CONNECT_E_NOCONNECTION;
    IUnknown* sink = it->second;
    m_sinks.erase(it);
    sink->Release();  // last: the sink's release may come back into this object
    return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<CONNECTDATA> items;
        items.reserve(m_sinks.size());
        for (const auto& [cookie, sink] : m_sinks) items.push_back({sink, cookie});
        auto* e = new ConnectionsEnumerator(std::move(items));
        e->AddRef();
        *ppEnum = e;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

std::vector<ComPtr<IUnknown>> CConnectionPoint::GetConnections() const {
    std::vector<ComPtr<IUnknown>> sinks;
    for (const auto& entry : m_sinks) sinks.emplace_back(entry.second);
    return sinks;
}

HRESULT AfxCreateEnumConnectionPoints(const std::vector<IConnectionPoint*>& points,
                                      IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        auto* e = new PointsEnumerator(points);
        e->AddRef();
        *ppEnum = e;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}
