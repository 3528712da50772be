// Invoke calls made the way hosts make them, for tests (the variants they pass: variant.h).
#pragma once

#include "platform/com/oleauto.h"
#include "tests/support/variant.h"

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
