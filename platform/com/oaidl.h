// The error object: what a failed call leaves beside its HRESULT for its caller to read, one per
// thread. A function that fails sets it (SetErrorInfo with an object made by CreateErrorInfo);
// its caller takes it with GetErrorInfo, which leaves the thread without one. An object that
// sets it for the methods of an interface says so through ISupportErrorInfo.
#pragma once

#include "platform/com/unknwn.h"

inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// The strings handed out are the caller's to free with SysFreeString (null when never set).
struct IErrorInfo : IUnknown {
    STDMETHOD(GetGUID)(GUID* pGUID) = 0;  // the interface that defined the error
    STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    STDMETHOD(SetGUID)(REFGUID rguid) = 0;
    STDMETHOD(SetSource)(LPOLESTR szSource) = 0;
    STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0;
    STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;
    STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

// S_OK when the object sets the error object on failures of riid's methods, S_FALSE otherwise.
struct ISupportErrorInfo : IUnknown {
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// dwReserved must be 0 (E_INVALIDARG otherwise). SetErrorInfo takes a reference to perrinfo
// (null clears the thread's object). GetErrorInfo hands over the thread's object, leaving none
// behind; S_FALSE and a null *pperrinfo when there is none.
COM_EXPORT HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
COM_EXPORT HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
// A new, empty error object (its IErrorInfo answers QueryInterface on it).
COM_EXPORT HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
