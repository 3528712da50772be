// What a host asks of a control besides dispatch and stream persistence, under the platform's
// names: connection points (the control's event sources), class information, named persistence
// over a host's property bag, persistence in a memory block (IPersistMemory), quick activation
// (IQuickActivate with QACONTAINER and QACONTROL), the control's own interface and its site's
// (IOleControl, IOleControlSite), and property pages (ISpecifyPropertyPages, IPropertyPage and
// the frame's IPropertyPageSite). Header only.
#pragma once

#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/oleidl.h"

struct ITypeInfo;

// ---------------------------------------------------------------- connection points

constexpr HRESULT CONNECT_E_NOCONNECTION = hresult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = hresult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresult(0x80040202);
constexpr HRESULT CONNECT_E_OVERRIDDEN = hresult(0x80040203);

inline constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

struct CONNECTDATA {
    IUnknown* pUnk;  // a reference the receiver releases
    DWORD dwCookie;
};
using LPCONNECTDATA = CONNECTDATA*;

struct IConnectionPoint;
struct IConnectionPointContainer;

// Enumerators: Next fills up to `count` entries (each holding a reference the caller releases)
// and answers S_FALSE when fewer were left; `fetched` may be null only when count is 1. Skip
// answers S_FALSE when it ran past the end. A clone starts where its original stands.
struct IEnumConnections : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, LPCONNECTDATA rgcd, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cConnections) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumConnections** ppEnum) = 0;

protected:
    ~IEnumConnections() = default;
};

struct IEnumConnectionPoints : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cConnections) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumConnectionPoints** ppEnum) = 0;

protected:
    ~IEnumConnectionPoints() = default;
};

// One outgoing interface of an object. Advise takes a sink that answers QueryInterface for the
// outgoing interface (or IDispatch, for a dispinterface) and hands out a non-zero cookie;
// CONNECT_E_CANNOTCONNECT for any other sink. Unadvise of a cookie not handed out (or already
// taken back) is CONNECT_E_NOCONNECTION.
struct IConnectionPoint : IUnknown {
    STDMETHOD(GetConnectionInterface)(IID* pIID) = 0;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) = 0;
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    STDMETHOD(Unadvise)(DWORD dwCookie) = 0;
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) = 0;

protected:
    ~IConnectionPoint() = default;
};

// FindConnectionPoint answers CONNECT_E_NOCONNECTION for an interface the object does not source.
struct IConnectionPointContainer : IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) = 0;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

// ---------------------------------------------------------------- class information

inline constexpr IID IID_IProvideClassInfo = {
    0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IProvideClassInfo2 = {
    0xA6BC3AC0, 0xDBAA, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

// The object's coclass, from its type library.
struct IProvideClassInfo : IUnknown {
    STDMETHOD(GetClassInfo)(ITypeInfo** ppTI) = 0;

protected:
    ~IProvideClassInfo() = default;
};

// GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID): the IID of the default source dispinterface;
// E_INVALIDARG for any other kind.
struct IProvideClassInfo2 : IProvideClassInfo {
    STDMETHOD(GetGUID)(DWORD dwGuidKind, GUID* pGUID) = 0;

protected:
    ~IProvideClassInfo2() = default;
};

// ---------------------------------------------------------------- named persistence

inline constexpr IID IID_IErrorLog = {
    0x3127CA40, 0x446E, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IPropertyBag = {
    0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IPersistPropertyBag = {
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

// Where a property bag's reader reports a property it could not take.
struct IErrorLog : IUnknown {
    STDMETHOD(AddError)(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;

protected:
    ~IErrorLog() = default;
};

// A host's named storage. Read: on entry pVar->vt is the type wanted (VT_EMPTY: any); a property
// the bag does not hold is E_INVALIDARG. Write copies the value.
struct IPropertyBag : IUnknown {
    STDMETHOD(Read)(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    STDMETHOD(Write)(LPCOLESTR pszPropName, VARIANT* pVar) = 0;

protected:
    ~IPropertyBag() = default;
};

struct IPersistPropertyBag : IPersist {
    STDMETHOD(InitNew)() = 0;
    STDMETHOD(Load)(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
    STDMETHOD(Save)(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

// ---------------------------------------------------------------- persistence in memory

inline constexpr IID IID_IPersistMemory = {
    0xBD1AE5E0, 0xA6AE, 0x11CE, {0xBD, 0x37, 0x50, 0x42, 0x00, 0xC1, 0x00, 0x00}};

// IPersistStreamInit over a memory block of the caller's: Load reads from the cbSize bytes at
// pMem, Save writes into them and never past them.
struct IPersistMemory : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(Load)(void* pMem, ULONG cbSize) = 0;
    STDMETHOD(Save)(void* pMem, BOOL fClearDirty, ULONG cbSize) = 0;
    STDMETHOD(GetSizeMax)(ULONG* pCbSize) = 0;
    STDMETHOD(InitNew)() = 0;

protected:
    ~IPersistMemory() = default;
};

// ---------------------------------------------------------------- quick activation

inline constexpr IID IID_IQuickActivate = {
    0xCF51ED10, 0x62FE, 0x11CF, {0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0x36}};
inline constexpr IID IID_IAdviseSinkEx = {
    0x3AF24290, 0x0C96, 0x11CE, {0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A, 0xB8}};
inline constexpr IID IID_IPropertyNotifySink = {
    0x9BFBBC02, 0xEFF1, 0x101A, {0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

using OLE_COLOR = DWORD;

// An advise sink that also hears of changes of the view's status.
struct IAdviseSinkEx : IAdviseSink {
    STDMETHOD_(void, OnViewStatusChange)(DWORD dwViewStatus) = 0;

protected:
    ~IAdviseSinkEx() = default;
};

// What QuickActivate names but a control of ours never calls.
struct IPropertyNotifySink;
struct IFont;
struct IOleUndoManager;
struct IBindHost;
struct IServiceProvider;
struct IOleControlSite;

// The ambient flags a container hands over with QuickActivate.
enum QACONTAINERFLAGS {
    QACONTAINER_SHOWHATCHING = 0x1,
    QACONTAINER_SHOWGRABHANDLES = 0x2,
    QACONTAINER_USERMODE = 0x4,
    QACONTAINER_DISPLAYASDEFAULT = 0x8,
    QACONTAINER_UIDEAD = 0x10,
    QACONTAINER_AUTOCLIP = 0x20,
    QACONTAINER_MESSAGEREFLECT = 0x40,
    QACONTAINER_SUPPORTSMNEMONICS = 0x80,
};

// How a view draws (QACONTROL::dwViewStatus).
enum VIEWSTATUS {
    VIEWSTATUS_OPAQUE = 0x1,
    VIEWSTATUS_SOLIDBKGND = 0x2,
    VIEWSTATUS_DVASPECTOPAQUE = 0x4,
    VIEWSTATUS_DVASPECTTRANSPARENT = 0x8,
    VIEWSTATUS_SURFACE = 0x10,
    VIEWSTATUS_3DSURFACE = 0x20,
};

// The container's half of QuickActivate: its site, sinks and ambient properties at once. cbSize
// says how much of it the container filled (older containers end at pBindHost).
struct QACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSinkEx* pAdviseSink;
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags;  // QACONTAINERFLAGS
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IFont* pFont;
    IOleUndoManager* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    HPALETTE hpal;
    IBindHost* pBindHost;
    IOleControlSite* pOleControlSite;
    IServiceProvider* pServiceProvider;
};

// The control's half: its status and the cookies of the sinks it connected. cbSize is the
// container's (older containers end at dwPropNotifyCookie).
struct QACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;
    DWORD dwPropNotifyCookie;
    DWORD dwPointerActivationPolicy;
};

struct IQuickActivate : IUnknown {
    STDMETHOD(QuickActivate)(QACONTAINER* pQaContainer, QACONTROL* pQaControl) = 0;
    STDMETHOD(SetContentExtent)(LPSIZEL pSizel) = 0;
    STDMETHOD(GetContentExtent)(LPSIZEL pSizel) = 0;

protected:
    ~IQuickActivate() = default;
};

// ---------------------------------------------------------------- controls and their sites

inline constexpr IID IID_IOleControl = {
    0xB196B288, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IOleControlSite = {
    0xB196B289, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// A control's keyboard mnemonics: an accelerator table and its size (none: null and 0).
struct CONTROLINFO {
    ULONG cb;
    HACCEL hAccel;
    USHORT cAccel;
    DWORD dwFlags;  // CTRLINFO
};
using LPCONTROLINFO = CONTROLINFO*;
enum CTRLINFO { CTRLINFO_EATS_RETURN = 1, CTRLINFO_EATS_ESCAPE = 2 };

struct IOleControl : IUnknown {
    STDMETHOD(GetControlInfo)(CONTROLINFO* pCI) = 0;
    STDMETHOD(OnMnemonic)(MSG* pMsg) = 0;
    STDMETHOD(OnAmbientPropertyChange)(DISPID dispID) = 0;
    STDMETHOD(FreezeEvents)(BOOL bFreeze) = 0;

protected:
    ~IOleControl() = default;
};

struct POINTF {
    FLOAT x;
    FLOAT y;
};
enum XFORMCOORDS {
    XFORMCOORDS_POSITION = 0x1,
    XFORMCOORDS_SIZE = 0x2,
    XFORMCOORDS_HIMETRICTOCONTAINER = 0x4,
    XFORMCOORDS_CONTAINERTOHIMETRIC = 0x8,
    XFORMCOORDS_EVENTCOMPAT = 0x10,
};

// The container's side of a control. ShowPropertyFrame answers S_OK when the container showed
// a frame of its own (with its extended properties) for the control.
struct IOleControlSite : IUnknown {
    STDMETHOD(OnControlInfoChanged)() = 0;
    STDMETHOD(LockInPlaceActive)(BOOL fLock) = 0;
    STDMETHOD(GetExtendedControl)(IDispatch** ppDisp) = 0;
    STDMETHOD(TransformCoords)(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) = 0;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg, DWORD grfModifiers) = 0;
    STDMETHOD(OnFocus)(BOOL fGotFocus) = 0;
    STDMETHOD(ShowPropertyFrame)() = 0;

protected:
    ~IOleControlSite() = default;
};

// ---------------------------------------------------------------- property pages

inline constexpr IID IID_ISpecifyPropertyPages = {
    0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IPropertyPageSite = {
    0xB196B28C, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IPropertyPage = {
    0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// A counted array of GUIDs; pElems is allocated with CoTaskMemAlloc and freed by the receiver.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};
using LPCAUUID = CAUUID*;

struct ISpecifyPropertyPages : IUnknown {
    STDMETHOD(GetPages)(CAUUID* pPages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

enum PROPPAGESTATUS {
    PROPPAGESTATUS_DIRTY = 0x1,
    PROPPAGESTATUS_VALIDATE = 0x2,
    PROPPAGESTATUS_CLEAN = 0x4,
};

struct IPropertyPage;

// The property frame's side of one page.
struct IPropertyPageSite : IUnknown {
    STDMETHOD(OnStatusChange)(DWORD dwFlags) = 0;
    STDMETHOD(GetLocaleID)(LCID* pLocaleID) = 0;
    STDMETHOD(GetPageContainer)(IUnknown** ppUnk) = 0;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) = 0;

protected:
    ~IPropertyPageSite() = default;
};

// What a page tells its frame: its tab's title and its size in pixels (the strings are freed by
// the frame with CoTaskMemFree).
struct PROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle;
    SIZE size;
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};
using LPPROPPAGEINFO = PROPPAGEINFO*;

// One page of a property frame. The frame sets its site and objects, asks for its info, then
// activates it as a child of one of its windows, shows, moves, applies and deactivates it.
struct IPropertyPage : IUnknown {
    STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) = 0;
    STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL bModal) = 0;
    STDMETHOD(Deactivate)() = 0;
    STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) = 0;
    STDMETHOD(SetObjects)(ULONG cObjects, IUnknown** ppUnk) = 0;
    STDMETHOD(Show)(UINT nCmdShow) = 0;
    STDMETHOD(Move)(LPCRECT pRect) = 0;
    STDMETHOD(IsPageDirty)() = 0;
    STDMETHOD(Apply)() = 0;
    STDMETHOD(Help)(LPCOLESTR pszHelpDir) = 0;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) = 0;

protected:
    ~IPropertyPage() = default;
};
