// COleControl: the base of an in-process control. It serves
//   IDispatch            through the class's dispatch map (see dispatch.h),
//   IPersistStreamInit   through the class's DoPropExchange (see propexchange.h),
//   IOleObject           the container's view of the object: its site, type name, status,
//                        extent, verbs (oleobject.cpp),
//   IOleInPlaceObject    in-place activation in a window of its own, painted by OnDraw, and
//   IOleControl          the control's mnemonics, ambient changes and frozen events (inplace.cpp),
//   IViewObject2         drawing onto a container's device context, and
//   ISpecifyPropertyPages  the property pages the properties verb shows (viewobject.cpp),
//   IPersistPropertyBag  the same DoPropExchange by property name (see propbag.h),
//   IConnectionPointContainer  one connection point, for the event interface (see connpoint.h),
//   IProvideClassInfo2   the coclass from the type library and the default source interface.
// A derived class provides its dispatch map, class identity, user type name and misc status,
// and overrides DoPropExchange, OnDraw, GetPropPageIDs and GetVerbMap as it needs.
//
// What a container may rely on: SetClientSite before or after InitNew or Load; SetHostNames is
// optional; SetExtent at any time, in HIMETRIC; in-place activation (the activation verbs) needs
// a site that answers IOleInPlaceSite; Close deactivates the control, then SetClientSite(NULL)
// lets the site go and the last Release ends the object.
#pragma once

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "platform/com/oaidl.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/com/oleidl.h"
#include "platform/ctl/connpoint.h"
#include "platform/ctl/dispatch.h"
#include "platform/ctl/picture.h"
#include "platform/ctl/propexchange.h"

class COleControl;
namespace ctl {
class Window;
}

// A verb the control adds to the standard set: its handler gets DoVerb's message, parent window
// and rectangle and says whether the verb was carried out.
struct AFX_OLEVERB {
    LONG lVerb;
    const char* lpszName;
    DWORD grfAttribs;
    BOOL (COleControl::*pfnHandler)(LPMSG pMsg, HWND hWndParent, LPCRECT lpRect);
};

// IDispatch comes first so that a host's Invoke reaches COleControl::Invoke without a this-
// adjusting thunk: it is the call made for every port cycle.
class CTL_EXPORT COleControl : public IDispatch,
                               public CCmdTarget,
                               public IPersistStreamInit,
                               public IOleObject,
                               public IOleInPlaceObject,
                               public IViewObject2,
                               public IOleControl,
                               public ISpecifyPropertyPages,
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

    // IOleObject (oleobject.cpp)
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** ppClientSite) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR szContainerApp,
                                           LPCOLESTR szContainerObj) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker,
                                         IMoniker** ppmk) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* pDataObject, BOOL fCreation,
                                           DWORD dwReserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD dwReserved,
                                               IDataObject** ppDataObject) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite,
                                     LONG lindex, HWND hwndParent, LPCRECT lprcPosRect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* pClsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** ppenumAdvise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* pLogpal) override;

    // IOleInPlaceObject and IOleControl (inplace.cpp)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL fEnterMode) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* pCI) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* pMsg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID dispID) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL bFreeze) override;

    // IViewObject2 and ISpecifyPropertyPages (viewobject.cpp)
    HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                   DVTARGETDEVICE* ptd, HDC hdcTargetDev, HDC hdcDraw,
                                   LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
                                   BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR dwContinue),
                                   ULONG_PTR dwContinue) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                          DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                          LOGPALETTE** ppColorSet) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                     DWORD* pdwFreeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD dwFreeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* pAspects, DWORD* pAdvf,
                                        IAdviseSink** ppAdvSink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd,
                                        LPSIZEL lpsizel) override;
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

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
    // The picture: in the control's own window and on a container's device context. The
    // default draws nothing.
    virtual void OnDraw(CDC* pDC, const RECT& rcBounds, const RECT& rcInvalid);
    // The properties verb: the site's own frame when it shows one (IOleControlSite), else the
    // property frame on the pages of GetPropPageIDs, owned by the container's window. TRUE
    // when a frame was shown.
    BOOL OnProperties(LPMSG pMsg, HWND hWndParent, LPCRECT lpRect);

    // The site the container gave the control (null before SetClientSite and after
    // SetClientSite(NULL)).
    IOleClientSite* GetClientSite() const { return m_pClientSite.Get(); }
    BOOL IsInPlaceActive() const { return m_bInPlaceActive; }
    // Whether the container froze the control's events (IOleControl::FreezeEvents).
    BOOL AreEventsFrozen() const { return m_nFreezeEvents > 0; }

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
    // In-place activation through the client site's IOleInPlaceSite, with the UI active or not.
    HRESULT OnActivateInPlace(BOOL bUIActivate);
    // The container's window: the in-place site's, else `fallback`.
    HWND ContainerWindow(HWND fallback) const;
    // Tells the view's advise sink that the picture changed.
    void SendViewChange();
    // The calls Invoke's fast path leaves; its signature is Invoke's own, so that Invoke hands
    // them on with a jump and keeps no frame for them.
    HRESULT InvokeGeneral(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                          DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                          UINT* puArgErr);

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

    // The container: its site, and while the control is active in place, its in-place site and
    // the control's own window.
    ComPtr<IOleClientSite> m_pClientSite;
    ComPtr<IOleInPlaceSite> m_pInPlaceSite;
    std::unique_ptr<ctl::Window> m_pWnd;
    bool m_bInPlaceActive = false;
    bool m_bUIActive = false;
    long m_nFreezeEvents = 0;
    // IOleObject::Advise's sinks by cookie, and IViewObject::SetAdvise's one sink.
    std::vector<std::pair<DWORD, ComPtr<IAdviseSink>>> m_adviseSinks;
    DWORD m_dwNextAdviseCookie = 1;
    ComPtr<IAdviseSink> m_pViewAdviseSink;
    DWORD m_dwViewAdviseAspects = 0;
    DWORD m_dwViewAdviseFlags = 0;
};
