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
//   IPersistStorage      the same bytes as the stream, in a stream "Contents" of a container's
//   IPersistMemory       storage, and in a memory block of the container's (persist.cpp),
//   IQuickActivate       the container's site, sinks and ambient properties at once, answered
//                        with the control's status (persist.cpp),
//   IOleInPlaceActiveObject  while the control's user interface is active; the container's
//                        frame and document window are told of it (inplace.cpp),
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
                               public IPersistStorage,
                               public IPersistMemory,
                               public IQuickActivate,
                               public IOleInPlaceActiveObject,
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
    HRESULT STDMETHODCALLTYPE
    InitNew() override;  // also IPersistPropertyBag's and IPersistMemory's

    // IPersistPropertyBag (propbag.cpp). A failed Load leaves the object as it was.
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* pPropBag, BOOL fClearDirty,
                                   BOOL fSaveAllProperties) override;

    // IPersistStorage (persist.cpp): the stream's bytes in the storage's stream "Contents".
    // InitNew or Load once (CO_E_ALREADYINITIALIZED after either; a failed Load leaves the object
    // as it was and uninitialised); Save with fSameAsLoad clears the modified flag and, like
    // every Save, leaves the object writing nothing until SaveCompleted (E_UNEXPECTED without a
    // Save or HandsOffStorage before); after HandsOffStorage the object holds no storage and
    // Save is E_UNEXPECTED until SaveCompleted gives it one (E_INVALIDARG for none).
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* pStg) override;
    HRESULT STDMETHODCALLTYPE Load(IStorage* pStg) override;
    HRESULT STDMETHODCALLTYPE Save(IStorage* pStgSave, BOOL fSameAsLoad) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* pStgNew) override;
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

    // IPersistMemory (persist.cpp): the stream's bytes in the caller's block. A block shorter
    // than the state is STG_E_READFAULT for Load (the object stays as it was) and
    // STG_E_MEDIUMFULL for Save (nothing is written).
    HRESULT STDMETHODCALLTYPE Load(void* pMem, ULONG cbSize) override;
    HRESULT STDMETHODCALLTYPE Save(void* pMem, BOOL fClearDirty, ULONG cbSize) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULONG* pCbSize) override;

    // IQuickActivate (persist.cpp). QuickActivate takes the container's client site (as
    // SetClientSite), its advise sink (as the view's, IViewObject::SetAdvise), its event sink
    // (on the event connection point: dwEventCookie, 0 when the sink does not take the events)
    // and its ambient properties, and answers the misc status (GetMiscStatus's), the view
    // status (GetViewStatus) and no pointer activation policy. The control has no property
    // notifications: dwPropNotifyCookie is 0. A QACONTAINER or QACONTROL shorter than their first
    // published forms is E_INVALIDARG. The content extent is IOleObject's, in HIMETRIC.
    HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* pQaContainer,
                                            QACONTROL* pQaControl) override;
    HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL pSizel) override;
    HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL pSizel) override;

    // IOleInPlaceActiveObject (inplace.cpp): handed to the frame and the document window while
    // the control's user interface is active. No accelerators, no border tools.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow,
                                           BOOL fFrameWindow) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL fEnable) override;

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
    BOOL IsUIActive() const { return m_bUIActive; }
    // The ambient flags (QACONTAINERFLAGS) a container handed over with QuickActivate (0 before).
    DWORD GetQuickAmbientFlags() const { return m_dwQuickAmbientFlags; }
    // Whether the container froze the control's events (IOleControl::FreezeEvents).
    BOOL AreEventsFrozen() const { return m_nFreezeEvents > 0; }

protected:
    // What a derived class declares.
    virtual const AFX_DISPMAP& GetDispatchMap() const = 0;
    virtual REFCLSID GetControlClassID() const = 0;
    virtual std::uint16_t GetUserTypeNameID() const = 0;
    virtual DWORD GetControlMiscStatus() const = 0;
    // How the control's picture covers its bounds (VIEWSTATUS); none promised by default.
    virtual DWORD GetViewStatus() const;
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
    // Loads the state from exactly the bytes a save writes; a failed exchange restores
    // `previous` (the state before) and answers STG_E_READFAULT.
    HRESULT LoadState(const std::string& bytes, const std::string& previous);
    // Tells the frame and the document window which object is UI active (null: none).
    void SetActiveObjectOnWindows(IOleInPlaceActiveObject* active);
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
    // The frame and document window of the activation, told of the UI-active object.
    ComPtr<IOleInPlaceFrame> m_pInPlaceFrame;
    ComPtr<IOleInPlaceUIWindow> m_pInPlaceDocument;
    long m_nFreezeEvents = 0;
    // IOleObject::Advise's sinks by cookie, and IViewObject::SetAdvise's one sink.
    std::vector<std::pair<DWORD, ComPtr<IAdviseSink>>> m_adviseSinks;
    DWORD m_dwNextAdviseCookie = 1;
    ComPtr<IAdviseSink> m_pViewAdviseSink;
    DWORD m_dwViewAdviseAspects = 0;
    DWORD m_dwViewAdviseFlags = 0;

    // IPersistStorage's state: whether InitNew or Load ran, whether the object may write, and
    // the storage it holds (none in hands-off mode).
    enum class StorageMode { kNormal, kNoScribble, kHandsOff };
    bool m_bStorageInitialized = false;
    StorageMode m_storageMode = StorageMode::kNormal;
    ComPtr<IStorage> m_pStorage;
    DWORD m_dwQuickAmbientFlags = 0;
};
