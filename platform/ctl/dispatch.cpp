#include "platform/ctl/dispatch.h"

#include <new>

#include "platform/com/com_holders.h"
#include "platform/ctl/dispatch_invoke.h"

namespace {

// Names are ASCII in the maps; other characters compare exactly.
inline char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool SameName(const char* name, const OLECHAR* text) {
    for (;; ++name, ++text) {
        char16_t a = Fold(static_cast<unsigned char>(*name));
        char16_t b = Fold(*text);
        if (a != b) return false;
        if (a == 0) return true;
    }
}

// A non-owning view of an argument with any reference taken away: VT_BYREF|VT_xx becomes VT_xx
// and VT_VARIANT|VT_BYREF the variant it points at.
HRESULT Dereference(const VARIANT& in, VARIANT* out) {
    const VARIANT* v = &in;
    if (v->vt == (VT_BYREF | VT_VARIANT)) {
        v = v->pvarVal;
        // A variant may refer to a value, not to another variant reference.
        if (!v || v->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
    }
    if (v->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (!(v->vt & VT_BYREF)) {
        *out = *v;
        return S_OK;
    }
    const void* p = v->byref;
    if (!p) return DISP_E_TYPEMISMATCH;
    VARTYPE base = static_cast<VARTYPE>(v->vt & ~VT_BYREF);
    VariantInit(out);
    out->vt = base;
    switch (base) {
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            out->iVal = *static_cast<const SHORT*>(p);
            break;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            out->lVal = *static_cast<const LONG*>(p);
            break;
        case VT_R4:
            out->fltVal = *static_cast<const FLOAT*>(p);
            break;
        case VT_R8:
        case VT_DATE:
            out->dblVal = *static_cast<const DOUBLE*>(p);
            break;
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            out->llVal = *static_cast<const LONGLONG*>(p);
            break;
        case VT_UI1:
        case VT_I1:
            out->bVal = *static_cast<const BYTE*>(p);
            break;
        case VT_BSTR:
            out->bstrVal = *static_cast<const BSTR*>(p);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            out->punkVal = *static_cast<IUnknown* const*>(p);
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Put(CCmdTarget* target, const AFX_DISPMAP_ENTRY& entry, const DISPPARAMS& params,
            UINT* puArgErr) {
    if (!entry.pfnSet) return DISP_E_MEMBERNOTFOUND;
    // The value travels as the one named argument DISPID_PROPERTYPUT.
    if (params.cNamedArgs == 0 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTOPTIONAL;
    if (params.cNamedArgs > 1) return DISP_E_NONAMEDARGS;
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;

    VARIANT arg;
    HRESULT hr = Dereference(params.rgvarg[0], &arg);
    if (SUCCEEDED(hr) && arg.vt == entry.vt) {
        entry.pfnSet(target, arg);  // the common case: no conversion, nothing to free
        return S_OK;
    }
    CComVariant converted;
    if (SUCCEEDED(hr)) hr = VariantChangeType(&converted, &arg, 0, entry.vt);
    if (FAILED(hr)) {
        if (puArgErr) *puArgErr = 0;
        return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    }
    entry.pfnSet(target, converted);
    return S_OK;
}

HRESULT Get(CCmdTarget* target, const AFX_DISPMAP_ENTRY& entry, const DISPPARAMS& params,
            VARIANT* pVarResult) {
    if (!entry.pfnGet) return DISP_E_MEMBERNOTFOUND;
    if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params.cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (pVarResult) {
        entry.pfnGet(target, pVarResult);
        return S_OK;
    }
    // The caller wants no result; the get still runs (a port read is a port cycle).
    CComVariant discarded;
    entry.pfnGet(target, &discarded);
    return S_OK;
}

}  // namespace

HRESULT afx_dispatch::InvokeGeneral(CCmdTarget* target, const AFX_DISPMAP& map, DISPID dispid,
                                    REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const AFX_DISPMAP_ENTRY* entry = FindEntry(map, dispid);
    if (!entry) return DISP_E_MEMBERNOTFOUND;
    if (!pDispParams) return E_INVALIDARG;
    const DISPPARAMS& params = *pDispParams;
    if ((params.cArgs && !params.rgvarg) || (params.cNamedArgs && !params.rgdispidNamedArgs) ||
        params.cNamedArgs > params.cArgs)
        return E_INVALIDARG;

    try {
        if (entry->kind == AfxDispKind::Method) {
            if (!(wFlags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
            return Get(target, *entry, params, pVarResult);
        }
        if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
            return Put(target, *entry, params, puArgErr);
        // Hosts commonly pass DISPATCH_METHOD | DISPATCH_PROPERTYGET for a property read.
        if (wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))
            return Get(target, *entry, params, pVarResult);
        return DISP_E_MEMBERNOTFOUND;
    } catch (...) {
        return DispExceptionFromCurrentException(pExcepInfo);
    }
}

HRESULT AfxDispatchInvoke(CCmdTarget* target, const AFX_DISPMAP& map, DISPID dispid, REFIID riid,
                          WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                          EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return afx_dispatch::Invoke(target, map, dispid, riid, wFlags, pDispParams, pVarResult,
                                pExcepInfo, puArgErr);
}

HRESULT AfxDispatchGetIDsOfNames(const AFX_DISPMAP& map, REFIID riid, LPOLESTR* rgszNames,
                                 UINT cNames, DISPID* rgDispId) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!rgszNames || !rgDispId || cNames == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    rgDispId[0] = DISPID_UNKNOWN;
    if (rgszNames[0]) {
        for (std::size_t i = 0; i < map.nEntries; ++i) {
            if (SameName(map.lpEntries[i].lpszName, rgszNames[0])) {
                rgDispId[0] = map.lpEntries[i].lDispID;
                break;
            }
        }
    }
    if (rgDispId[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    // The members take no named parameters, so every further name is unknown.
    for (UINT i = 1; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}
