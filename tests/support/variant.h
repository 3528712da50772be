// Small helpers for tests that handle VARIANTs and BSTRs: a VARIANT that clears itself, BSTRs
// made from and read as UTF-8, argument variants by value, and an object that counts references.
#pragma once

#include <string>

#include "platform/com/com_holders.h"
#include "platform/com/oleauto.h"
#include "platform/com/utf.h"

// A VARIANT that clears itself.
using Var = CComVariant;

inline BSTR MakeBstr(const std::string& utf8) {
    const std::u16string text = Utf8ToOle(utf8);
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

inline std::string BstrText(BSTR text) {
    return OleToUtf8(std::u16string(text ? text : u"", SysStringLen(text)));
}

// Variants for arguments, passed by value (nothing to clear).
inline VARIANT VarI4(LONG v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}
inline VARIANT VarI2(SHORT v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_I2;
    r.iVal = v;
    return r;
}
inline VARIANT VarR8(DOUBLE v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}

// Owns a BSTR variant.
struct BstrVar {
    explicit BstrVar(const char16_t* text) {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    CComVariant v;
};

// An object that only counts its references.
struct CountedObject : IDispatch {
    ULONG refs = 1;
    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    virtual ~CountedObject() = default;
};
