// Connection points: how an object hands its outgoing (event) interfaces to a host. A
// CConnectionPoint lives inside the object that sources the interface; it has no life of its own
// (AddRef and Release go to its container), keeps the advised sinks by cookie and lets them go when
// they are unadvised or when the object dies.
#pragma once

#include <map>
#include <vector>

#include "platform/com/ocidl.h"
#include "platform/ctl/module.h"

class CTL_EXPORT CConnectionPoint final : public IConnectionPoint {
public:
    // `container` is the object's connection point container (and its lifetime).
    explicit CConnectionPoint(IConnectionPointContainer* container) : m_pContainer(container) {}
    ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    // The outgoing interface; set once, before the point is handed out.
    void SetInterface(const IID* piid) { m_piid = piid; }
    const IID* GetInterface() const { return m_piid; }

    // IUnknown: IUnknown and IConnectionPoint; references count on the container.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return m_pContainer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_pContainer->Release(); }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    // The sinks advised now, each with a reference of the caller's own (for firing events).
    std::vector<ComPtr<IUnknown>> GetConnections() const;
    std::size_t GetConnectionCount() const { return m_sinks.size(); }

private:
    IConnectionPointContainer* m_pContainer;
    const IID* m_piid = nullptr;
    std::map<DWORD, IUnknown*> m_sinks;  // cookie -> one reference
    DWORD m_dwNextCookie = 1;
};

// An enumerator over the given connection points (each held for the enumerator's life).
CTL_EXPORT HRESULT AfxCreateEnumConnectionPoints(const std::vector<IConnectionPoint*>& points,
                                                 IEnumConnectionPoints** ppEnum);
