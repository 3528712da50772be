// COleControl: the base of an in-process control. It serves
//   IDispatch            through the class's dispatch map (see dispatch.h),
//   IPersistStreamInit   through the class's DoPropExchange (see propexchange.h),
//   IOleControlEmbedding the host's view of type name, status, extent, verbs, pages and drawing,
//   IPersistPropertyBag  the same DoPropExchange by property name (see propbag.h),
//   IConnectionPointContainer  one connection point, for the event interface (see connpoint.h),
//   IProvideClassInfo2   the coclass from the type library and the default source interface.
// A derived class provides its dispatch map, class identity, user type name and misc status,
// and overrides DoPropExchange, OnDraw, GetPropPageIDs and GetVerbMap as it needs.
#pragma once

#include <atomic>

#include "platform/com/oaidl.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/ctl/connpoint.h"
#include "platform/ctl/dispatch.h"
#include "platform/ctl/embedding.h"
#include "platform/ctl/picture.h"
#include "platform/ctl/propexchange.h"

class COleControl;

// A verb the control adds to the standard set.
struct AFX_OLEVERB {
    LONG lVerb;
    const char* lpszName;
    DWORD grfAttribs;
    BOOL (COleControl::*pfnHandler)();
};

// IDispatch comes first so that a host's Invoke reaches COleControl::Invoke without a this-
// adjusting thunk: it is the call made for every port cycle.
class CTL_EXPORT COleControl : public IDispatch,
                               public CCmdTarget,
                               public IPersistStreamInit,
                               public IOleControlEmbedding,
                               public IPersistPropertyBag,
                               public IConnectionPointContainer,
                               public IProvideClassInfo2,
                               public ISupportErrorInfo {
public:
    COleControl();
    ~COleControl() override;

    AFX_DECLARE_IUNKNOWN

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // ISupportErrorInfo: S_OK for the primary dispatch interface (and IDispatch), whose failed
    // calls leave their description in the thread's error object; S_FALSE for the rest.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IPersistStreamInit. Load reads exactly the exchanged size (a shorter stream or a read
    // error fails and leaves the object as it was); Save writes it and leaves the stream just
    // past it.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* pStm) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;  // also IPersistPropertyBag's

    // IPersistPropertyBag (propbag.cpp). A failed Load leaves the object as it was.
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* pPropBag, BOOL fClearDirty,
                                   BOOL fSaveAllProperties) override;

    // IConnectionPointContainer and IProvideClassInfo2 (ctlinfo.cpp)
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

    // IOleControlEmbedding
    HRESULT STDMETHODCALLTYPE GetUserType(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, const SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetVerbCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE GetVerb(ULONG index, LONG* verb, BSTR* name, DWORD* attribs) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb) override;
    HRESULT STDMETHODCALLTYPE GetPages(ULONG capacity, CLSID* pages, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE Draw(LONG width, LONG height, DWORD* pixels) override;

    IUnknown* GetControllingUnknown() override;
    void* GetInterface(REFIID riid) override;

    // The modified flag behind IsDirty.
    void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified != FALSE; }
    BOOL IsModified() const { return m_bModified; }

    // Exchange steps for DoPropExchange. ExchangeVersion remembers a loaded version; with
    // bConvert a save writes the current version, else the loaded one.
    BOOL ExchangeVersion(CPropExchange* pPX, DWORD dwVersionDefault, BOOL bConvert = TRUE);
    // The extent in HIMETRIC. A reset keeps the extent the host has set.
    BOOL ExchangeExtent(CPropExchange* pPX);
    // The stock-property mask: none are used, a save writes 0 and a load reads it unchecked.
    void ExchangeStockProps(CPropExchange* pPX);
    DWORD GetLoadedVersion() const { return m_dwVersionLoaded; }

    // The persistent state; the default exchanges the extent and the stock-property mask.
    virtual void DoPropExchange(CPropExchange* pPX);
    // Reset: the exchange in its default-setting direction.
    virtual void OnResetState();
    // Design-time picture; the default draws nothing.
    virtual void OnDraw(CDC* pDC, const RECT& rcBounds, const RECT& rcInvalid);
    // Opens the property frame on the pages of GetPropPageIDs. TRUE when it was shown.
    BOOL OnProperties();

protected:
    // What a derived class declares.
    virtual const AFX_DISPMAP& GetDispatchMap() const = 0;
    virtual REFCLSID GetControlClassID() const = 0;
    virtual std::uint16_t GetUserTypeNameID() const = 0;
    virtual DWORD GetControlMiscStatus() const = 0;
    // The property pages (none by default); the array outlives the object.
    virtual const CLSID* GetPropPageIDs(ULONG* count);
    // Verbs added to the standard set (none by default).
    virtual const AFX_OLEVERB* GetVerbMap(ULONG* count);

    // Registers the dispatch interfaces (the primary one is also answered by QueryInterface).
    void InitializeIIDs(const IID* piidPrimary, const IID* piidEvents);
    // The type library behind GetTypeInfo.
    void InitializeTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor);
    // The extent before a host sets one, from a size in pixels (96 per inch).
    void SetInitialSize(int cxPixels, int cyPixels);

    HINSTANCE GetInstanceHandle() const { return m_pModuleState->m_hCurrentInstanceHandle; }

private:
    HRESULT MeasureState(std::string* bytes);
    // The calls Invoke's fast path leaves; its signature is Invoke's own, so that Invoke hands
    // them on with a jump and keeps no frame for them.
    HRESULT InvokeGeneral(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                          DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                          UINT* puArgErr);
    BOOL DoStandardVerb(LONG verb);

    // GetDispatchMap()'s entries, kept from the first automation call on (a class's map is
    // static), so that each call reaches an entry in two loads instead of three. The count is
    // stored before the entries are published.
    std::atomic<const AFX_DISPMAP_ENTRY*> m_pDispatchEntries{nullptr};
    std::atomic<std::size_t> m_nDispatchEntries{0};
    bool m_bModified = false;
    LONG m_cxExtent = 0;
    LONG m_cyExtent = 0;
    DWORD m_dwVersionLoaded = 0;
    const IID* m_piidPrimary = nullptr;
    const IID* m_piidEvents = nullptr;
    GUID m_tlid = GUID_NULL;
    WORD m_wVerMajor = 0;
    WORD m_wVerMinor = 0;
    // Sinks of the event interface; released with the object.
    CConnectionPoint m_xEventConnPt{this};
};
