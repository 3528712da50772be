// What a host asks of a control besides dispatch and stream persistence, under the platform's
// names: connection points (the control's event sources), class information, and named
// persistence over a host's property bag. Header only.
#pragma once

#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"

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
