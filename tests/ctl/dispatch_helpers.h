// Variants and Invoke calls made the way hosts make them, for tests.
#pragma once

#include "platform/com/oleauto.h"

// Variants for arguments.
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
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    ~BstrVar() { VariantClear(&v); }
    VARIANT v;
};

// Calls the way hosts do: a put passes the value as the named argument DISPID_PROPERTYPUT.
inline HRESULT PutProp(IDispatch* d, DISPID id, VARIANT value, UINT* argErr = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                     nullptr, argErr);
}
inline HRESULT GetProp(IDispatch* d, DISPID id, VARIANT* result,
                       WORD flags = DISPATCH_PROPERTYGET) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VariantInit(result);
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}
inline HRESULT CallMethod(IDispatch* d, DISPID id, VARIANT* result = nullptr) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    if (result) VariantInit(result);
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr,
                     nullptr);
}
