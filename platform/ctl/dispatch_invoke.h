// IDispatch::Invoke over a dispatch map, as the framework runs it: a fast path for the calls a
// host makes per port cycle, inline in the caller, and the general path for everything else.
// AfxDispatchInvoke and COleControl::Invoke both use it; nothing outside this library does.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/ctl/dispatch.h"

namespace afx_dispatch {

// Every rule of Invoke: errors, puArgErr, conversions to the declared type, exceptions.
[[gnu::visibility("hidden")]] HRESULT InvokeGeneral(CCmdTarget* target, const AFX_DISPMAP& map,
                                                    DISPID dispid, REFIID riid, WORD wFlags,
                                                    DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                                    EXCEPINFO* pExcepInfo, UINT* puArgErr);

// What a handler's exception becomes; called from within a catch block.
[[gnu::visibility("hidden")]] HRESULT CurrentException(EXCEPINFO* info);

inline const AFX_DISPMAP_ENTRY* FindEntry(const AFX_DISPMAP& map, DISPID id) {
    // Maps usually list their members in DISPID order from 1: that place is tried first.
    const std::size_t guess = static_cast<std::size_t>(static_cast<std::uint32_t>(id)) - 1;
    if (guess < map.nEntries && map.lpEntries[guess].lDispID == id) return &map.lpEntries[guess];
    for (std::size_t i = 0; i < map.nEntries; ++i)
        if (map.lpEntries[i].lDispID == id) return &map.lpEntries[i];
    return nullptr;
}

static_assert(sizeof(IID) == 2 * sizeof(std::uint64_t));

inline bool IsNullIid(REFIID riid) {
    std::uint64_t half[2];
    std::memcpy(half, &riid, sizeof half);
    return (half[0] | half[1]) == 0;
}

// The argument of a put when it needs no conversion, or only one that can neither fail nor
// round: VT_I4 or VT_I2 as declared, VT_I2 widened to VT_I4, a VT_I4 that fits narrowed to VT_I2
// (in *scratch). Null for anything else.
inline const VARIANT* PlainIntegerArgument(const VARIANT& in, VARTYPE want, VARIANT* scratch) {
    if (in.vt == want) return want == VT_I4 || want == VT_I2 ? &in : nullptr;
    if (in.vt == VT_I2 && want == VT_I4) {
        *scratch = VARIANT{};
        scratch->vt = VT_I4;
        scratch->lVal = in.iVal;
        return scratch;
    }
    if (in.vt == VT_I4 && want == VT_I2 && in.lVal >= -32768 && in.lVal <= 32767) {
        *scratch = VARIANT{};
        scratch->vt = VT_I2;
        scratch->iVal = static_cast<SHORT>(in.lVal);
        return scratch;
    }
    return nullptr;
}

// The fast path takes a property put of one VT_I4 or VT_I2 value passed as the one named
// argument DISPID_PROPERTYPUT, and a property get with no arguments and a place for the result.
// Each condition is one the general path checks too, and whatever this path would have to
// refuse, convert or round goes the general way: the rules and their errors are the same.
[[gnu::always_inline]] inline HRESULT Invoke(CCmdTarget* target, const AFX_DISPMAP& map,
                                             DISPID dispid, REFIID riid, WORD wFlags,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                             EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (pDispParams && IsNullIid(riid)) {
        const DISPPARAMS& params = *pDispParams;
        const AFX_DISPMAP_ENTRY* entry = FindEntry(map, dispid);
        if (entry && entry->kind == AfxDispKind::Property) {
            if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
                VARIANT scratch;
                const VARIANT* value = nullptr;
                if (entry->pfnSet && params.cArgs == 1 && params.cNamedArgs == 1 && params.rgvarg &&
                    params.rgdispidNamedArgs && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT &&
                    (value = PlainIntegerArgument(params.rgvarg[0], entry->vt, &scratch))) {
                    try {
                        entry->pfnSet(target, *value);
                    } catch (...) {
                        return CurrentException(pExcepInfo);
                    }
                    return S_OK;
                }
            } else if ((wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) && entry->pfnGet &&
                       params.cArgs == 0 && params.cNamedArgs == 0 && pVarResult) {
                try {
                    entry->pfnGet(target, pVarResult);
                } catch (...) {
                    return CurrentException(pExcepInfo);
                }
                return S_OK;
            }
        }
    }
    return InvokeGeneral(target, map, dispid, riid, wFlags, pDispParams, pVarResult, pExcepInfo,
                         puArgErr);
}

}  // namespace afx_dispatch
