// Basic types of the COM and OLE Automation stand-in, under the platform's own names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define COM_EXPORT __attribute__((visibility("default")))

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using FLOAT = float;
using DOUBLE = double;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using DATE = double;
// Integers as wide as a pointer, and the parameters of a window message.
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_NEUTRAL = 0x0000;

// ---------------------------------------------------------------- HRESULT

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT hresult(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
constexpr HRESULT E_POINTER = hresult(0x80004003);
constexpr HRESULT E_ABORT = hresult(0x80004004);
constexpr HRESULT E_FAIL = hresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hresult(0x80070005);
constexpr HRESULT E_HANDLE = hresult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = hresult(0x80070057);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = hresult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = hresult(0x8002000C);
constexpr HRESULT DISP_E_ARRAYISLOCKED = hresult(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresult(0x8002000F);

constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresult(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = hresult(0x8002801D);
constexpr HRESULT TYPE_E_INVALIDSTATE = hresult(0x80028029);
constexpr HRESULT TYPE_E_REGISTRYACCESS = hresult(0x8002801C);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = hresult(0x80029C4A);
constexpr HRESULT TYPE_E_IOERROR = hresult(0x80028CA2);
constexpr HRESULT TYPE_E_INVDATAREAD = hresult(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = hresult(0x80028019);

constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = hresult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = hresult(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = hresult(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = hresult(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
constexpr HRESULT CO_E_ALREADYINITIALIZED = hresult(0x800401F1);
constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = hresult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = hresult(0x800401F9);
constexpr HRESULT SELFREG_E_TYPELIB = hresult(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = hresult(0x80040201);

constexpr HRESULT STG_E_INVALIDFUNCTION = hresult(0x80030001);
constexpr HRESULT STG_E_READFAULT = hresult(0x8003001E);
constexpr HRESULT STG_E_WRITEFAULT = hresult(0x8003001D);
constexpr HRESULT STG_E_MEDIUMFULL = hresult(0x80030070);
constexpr HRESULT STG_E_INVALIDPOINTER = hresult(0x80030009);

// OLE embedding: objects, views and in-place activation.
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = hresult(0x80040003);
constexpr HRESULT OLE_E_NOCONNECTION = hresult(0x80040004);
constexpr HRESULT OLE_E_NOTRUNNING = hresult(0x80040005);
constexpr HRESULT OLE_E_INVALIDRECT = hresult(0x8004000D);
constexpr HRESULT OLE_E_INVALIDHWND = hresult(0x8004000F);
constexpr HRESULT OLE_E_NOT_INPLACEACTIVE = hresult(0x80040010);
constexpr HRESULT DV_E_LINDEX = hresult(0x80040068);
constexpr HRESULT DV_E_DVASPECT = hresult(0x8004006B);
constexpr HRESULT OLEOBJ_S_INVALIDVERB = 0x00040180;
constexpr HRESULT OLEOBJ_S_CANNOT_DOVERB_NOW = 0x00040181;
constexpr HRESULT OLEOBJ_E_NOVERBS = hresult(0x80040180);
constexpr HRESULT INPLACE_E_NOTUNDOABLE = hresult(0x800401A0);
constexpr HRESULT CO_E_OBJNOTREG = hresult(0x800401FB);

// ---------------------------------------------------------------- data aspects

enum DVASPECT {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8,
};

// ---------------------------------------------------------------- currency and decimal

// A currency amount: a 64-bit integer scaled by 10000.
union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};

// A 96-bit integer with a sign and a power-of-ten scale (0..28).
struct DECIMAL {
    USHORT wReserved;
    union {
        struct {
            BYTE scale;
            BYTE sign;  // 0x80: negative
        };
        USHORT signscale;
    };
    ULONG Hi32;
    union {
        struct {
            ULONG Lo32;
            ULONG Mid32;
        };
        ULONGLONG Lo64;
    };
};

// ---------------------------------------------------------------- GUID

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;

// The platform's functions over OLE strings.
COM_EXPORT int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
COM_EXPORT HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
COM_EXPORT HRESULT IIDFromString(LPCOLESTR text, IID* iid);
