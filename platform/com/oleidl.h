// OLE embedding, under the platform's names and in its method order: an object's status bits
// and verbs, the object itself (IOleObject), its view (IViewObject2), in-place activation
// (IOleInPlaceObject and, while the object's user interface is active, IOleInPlaceActiveObject
// on the object's side; IOleClientSite, IOleInPlaceSite and the frame's windows on the
// container's side). Header only.
#pragma once

#include "platform/com/objidl.h"
#include "platform/com/windef.h"

// Miscellaneous status bits of an object.
enum OLEMISC {
    OLEMISC_RECOMPOSEONRESIZE = 0x1,
    OLEMISC_ONLYICONIC = 0x2,
    OLEMISC_INSERTNOTREPLACE = 0x4,
    OLEMISC_STATIC = 0x8,
    OLEMISC_CANTLINKINSIDE = 0x10,
    OLEMISC_CANLINKBYOLE1 = 0x20,
    OLEMISC_ISLINKOBJECT = 0x40,
    OLEMISC_INSIDEOUT = 0x80,
    OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
    OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200,
    OLEMISC_INVISIBLEATRUNTIME = 0x400,
    OLEMISC_ALWAYSRUN = 0x800,
    OLEMISC_ACTSLIKEBUTTON = 0x1000,
    OLEMISC_ACTSLIKELABEL = 0x2000,
    OLEMISC_NOUIACTIVATE = 0x4000,
    OLEMISC_ALIGNABLE = 0x8000,
    OLEMISC_SIMPLEFRAME = 0x10000,
    OLEMISC_SETCLIENTSITEFIRST = 0x20000,
    OLEMISC_IMEMODE = 0x40000,
    OLEMISC_IGNOREACTIVATEWHENVISIBLE = 0x80000,
    OLEMISC_WANTSTOMENUMERGE = 0x100000,
    OLEMISC_SUPPORTSMULTILEVELUNDO = 0x200000,
};

// Standard verbs.
constexpr LONG OLEIVERB_PRIMARY = 0;
constexpr LONG OLEIVERB_SHOW = -1;
constexpr LONG OLEIVERB_OPEN = -2;
constexpr LONG OLEIVERB_HIDE = -3;
constexpr LONG OLEIVERB_UIACTIVATE = -4;
constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;
constexpr LONG OLEIVERB_DISCARDUNDOSTATE = -6;
constexpr LONG OLEIVERB_PROPERTIES = -7;

enum OLEVERBATTRIB {
    OLEVERBATTRIB_NEVERDIRTIES = 0x1,
    OLEVERBATTRIB_ONCONTAINERMENU = 0x2,
};

// IOleObject::Close: what happens to unsaved changes.
enum OLECLOSE { OLECLOSE_SAVEIFDIRTY = 0, OLECLOSE_NOSAVE = 1, OLECLOSE_PROMPTSAVE = 2 };
// IOleObject::GetUserType: which name.
enum USERCLASSTYPE { USERCLASSTYPE_FULL = 1, USERCLASSTYPE_SHORT = 2, USERCLASSTYPE_APPNAME = 3 };
enum OLEGETMONIKER {
    OLEGETMONIKER_ONLYIFTHERE = 1,
    OLEGETMONIKER_FORCEASSIGN = 2,
    OLEGETMONIKER_UNASSIGN = 3,
    OLEGETMONIKER_TEMPFORUSER = 4,
};
enum OLEWHICHMK { OLEWHICHMK_CONTAINER = 1, OLEWHICHMK_OBJREL = 2, OLEWHICHMK_OBJFULL = 3 };

struct LOGPALETTE;
struct IOleContainer;
struct IOleInPlaceActiveObject;
struct IOleInPlaceUIWindow;

inline constexpr IID IID_IOleWindow = {0x00000114, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceObject = {
    0x00000113, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceActiveObject = {
    0x00000117, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceUIWindow = {
    0x00000115, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceFrame = {
    0x00000116, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceSite = {
    0x00000119, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleClientSite = {
    0x00000118, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumOLEVERB = {
    0x00000104, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IViewObject = {0x0000010D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IViewObject2 = {
    0x00000127, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---------------------------------------------------------------- windows of in-place activation

struct IOleWindow : IUnknown {
    STDMETHOD(GetWindow)(HWND* phwnd) = 0;
    STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) = 0;

protected:
    ~IOleWindow() = default;
};

// The object's side of in-place activation.
struct IOleInPlaceObject : IOleWindow {
    STDMETHOD(InPlaceDeactivate)() = 0;
    STDMETHOD(UIDeactivate)() = 0;
    STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT lprcClipRect) = 0;
    STDMETHOD(ReactivateAndUndo)() = 0;

protected:
    ~IOleInPlaceObject() = default;
};

// The object whose user interface is active, as the container's frame and document window know
// it (IOleInPlaceUIWindow::SetActiveObject): keystrokes and the activation of those windows.
struct IOleInPlaceActiveObject : IOleWindow {
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg) = 0;
    STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) = 0;
    STDMETHOD(OnDocWindowActivate)(BOOL fActivate) = 0;
    STDMETHOD(ResizeBorder)
    (LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) = 0;
    STDMETHOD(EnableModeless)(BOOL fEnable) = 0;

protected:
    ~IOleInPlaceActiveObject() = default;
};

// The container's document window, and its frame window (menus, status line, accelerators).
struct IOleInPlaceUIWindow : IOleWindow {
    STDMETHOD(GetBorder)(LPRECT lprectBorder) = 0;
    STDMETHOD(RequestBorderSpace)(LPCRECT pborderwidths) = 0;
    STDMETHOD(SetBorderSpace)(LPCRECT pborderwidths) = 0;
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) = 0;

protected:
    ~IOleInPlaceUIWindow() = default;
};

struct OLEINPLACEFRAMEINFO {
    UINT cb;  // set by the object before it asks for the window context
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
};
using LPOLEINPLACEFRAMEINFO = OLEINPLACEFRAMEINFO*;

struct OLEMENUGROUPWIDTHS {
    LONG width[6];
};
using LPOLEMENUGROUPWIDTHS = OLEMENUGROUPWIDTHS*;
using HOLEMENU = HGLOBAL;

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
    STDMETHOD(InsertMenus)(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) = 0;
    STDMETHOD(SetMenu)(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) = 0;
    STDMETHOD(RemoveMenus)(HMENU hmenuShared) = 0;
    STDMETHOD(SetStatusText)(LPCOLESTR pszStatusText) = 0;
    STDMETHOD(EnableModeless)(BOOL fEnable) = 0;
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg, WORD wID) = 0;

protected:
    ~IOleInPlaceFrame() = default;
};

// The container's side of in-place activation: whether the object may activate, the window it
// lives in and where, and the notifications of its activation.
struct IOleInPlaceSite : IOleWindow {
    STDMETHOD(CanInPlaceActivate)() = 0;
    STDMETHOD(OnInPlaceActivate)() = 0;
    STDMETHOD(OnUIActivate)() = 0;
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
     LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) = 0;
    STDMETHOD(Scroll)(SIZE scrollExtent) = 0;
    STDMETHOD(OnUIDeactivate)(BOOL fUndoable) = 0;
    STDMETHOD(OnInPlaceDeactivate)() = 0;
    STDMETHOD(DiscardUndoState)() = 0;
    STDMETHOD(DeactivateAndUndo)() = 0;
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) = 0;

protected:
    ~IOleInPlaceSite() = default;
};

// ---------------------------------------------------------------- the object and its site

// What an embedded object asks of the container it sits in.
struct IOleClientSite : IUnknown {
    STDMETHOD(SaveObject)() = 0;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) = 0;
    STDMETHOD(ShowObject)() = 0;
    STDMETHOD(OnShowWindow)(BOOL fShow) = 0;
    STDMETHOD(RequestNewObjectLayout)() = 0;

protected:
    ~IOleClientSite() = default;
};

// One verb: its number, its menu text (freed by the receiver with CoTaskMemFree), the menu
// flags and the OLEVERBATTRIB bits.
struct OLEVERB {
    LONG lVerb;
    LPOLESTR lpszVerbName;
    DWORD fuFlags;
    DWORD grfAttribs;
};
using LPOLEVERB = OLEVERB*;

// Next fills up to celt verbs and answers S_FALSE when fewer were left; pceltFetched may be null
// only when celt is 1.
struct IEnumOLEVERB : IUnknown {
    STDMETHOD(Next)(ULONG celt, LPOLEVERB rgelt, ULONG* pceltFetched) = 0;
    STDMETHOD(Skip)(ULONG celt) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumOLEVERB** ppenum) = 0;

protected:
    ~IEnumOLEVERB() = default;
};

struct IOleObject : IUnknown {
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) = 0;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) = 0;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) = 0;
    STDMETHOD(Close)(DWORD dwSaveOption) = 0;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) = 0;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) = 0;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) = 0;
    STDMETHOD(DoVerb)
    (LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
     LPCRECT lprcPosRect) = 0;
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) = 0;
    STDMETHOD(Update)() = 0;
    STDMETHOD(IsUpToDate)() = 0;
    STDMETHOD(GetUserClassID)(CLSID* pClsid) = 0;
    // The name is the caller's to free with CoTaskMemFree.
    STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) = 0;
    // Extents are in HIMETRIC (0.01 mm).
    STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    STDMETHOD(Unadvise)(DWORD dwConnection) = 0;
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) = 0;
    STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) = 0;
    STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) = 0;

protected:
    ~IOleObject() = default;
};

// ---------------------------------------------------------------- the object's view

// Draw renders the aspect onto hdcDraw within lprcBounds; lprcWBounds is given (the metafile's
// window) only when hdcDraw is a metafile.
struct IViewObject : IUnknown {
    STDMETHOD(Draw)
    (DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev,
     HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
     BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR dwContinue), ULONG_PTR dwContinue) = 0;
    STDMETHOD(GetColorSet)
    (DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hicTargetDev,
     LOGPALETTE** ppColorSet) = 0;
    STDMETHOD(Freeze)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) = 0;
    STDMETHOD(Unfreeze)(DWORD dwFreeze) = 0;
    STDMETHOD(SetAdvise)(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) = 0;
    STDMETHOD(GetAdvise)(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) = 0;

protected:
    ~IViewObject() = default;
};

struct IViewObject2 : IViewObject {
    STDMETHOD(GetExtent)
    (DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL lpsizel) = 0;

protected:
    ~IViewObject2() = default;
};
