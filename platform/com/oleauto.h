// OLE Automation: BSTR, VARIANT, DISPPARAMS, EXCEPINFO, IDispatch and the variant functions.
#pragma once

#include <cstddef>

#include "platform/com/unknwn.h"

struct ITypeInfo;
struct IRecordInfo;

// ---------------------------------------------------------------- BSTR
// Length-prefixed (a 32-bit byte count before the characters), NUL-terminated, char16_t.
COM_EXPORT BSTR SysAllocString(LPCOLESTR text);
COM_EXPORT BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
COM_EXPORT void SysFreeString(BSTR text);
COM_EXPORT UINT SysStringLen(BSTR text);
COM_EXPORT UINT SysStringByteLen(BSTR text);
COM_EXPORT BOOL SysReAllocString(BSTR* target, LPCOLESTR text);

// ---------------------------------------------------------------- VARIANT
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct IDispatch;

// The type tag and its value; a DECIMAL takes the whole variant, its reserved word standing
// where vt stands (so a VT_DECIMAL variant keeps its tag).
struct VARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                signed char cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                DOUBLE* pdblVal;
                BSTR* pbstrVal;
                VARIANT* pvarVal;
                DECIMAL* pdecVal;
                CY* pcyVal;
                void* byref;
                struct {
                    void* pvRecord;
                    IRecordInfo* pRecInfo;
                };
            };
        };
        DECIMAL decVal;
    };
};
// The platform's layout: an array of arguments (DISPPARAMS::rgvarg) has its stride.
static_assert(sizeof(VARIANT) == (sizeof(void*) == 8 ? 24 : 16));
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, llVal) == 8);
static_assert(offsetof(VARIANT, pRecInfo) == 8 + sizeof(void*));
static_assert(offsetof(VARIANT, decVal) == 0 && sizeof(DECIMAL) == 16);
using VARIANTARG = VARIANT;

// Flags of VariantChangeType.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;

COM_EXPORT void VariantInit(VARIANT* v);
COM_EXPORT HRESULT VariantClear(VARIANT* v);
COM_EXPORT HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to vt into dest. Supported among VT_EMPTY, VT_BOOL, VT_UI1, VT_I2, VT_I4,
// VT_UI4, VT_R4, VT_R8 and VT_BSTR with the Automation rules (integers round half to even,
// DISP_E_OVERFLOW out of range, DISP_E_TYPEMISMATCH for a string that is no number).
// dest may equal src. On failure dest is left untouched.
COM_EXPORT HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
COM_EXPORT HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags,
                                       VARTYPE vt);

// ---------------------------------------------------------------- IDispatch
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_ABOUTBOX = -552;

struct DISPPARAMS {
    VARIANTARG* rgvarg;  // arguments in reverse order
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};
