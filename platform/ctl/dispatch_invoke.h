// IDispatch::Invoke over a dispatch map, as the framework runs it: a fast path for the calls a
// host makes per port cycle, told apart inline in the caller, and the general path for
// everything else.
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

// The fast path takes a property put of one value of the property's own type (VT_I4 or VT_I2)
// passed as the one named argument DISPID_PROPERTYPUT, and a property get with no arguments and a
// place for the result. Each condition is one the general path checks too, and whatever this path
// would have to refuse, convert or round goes the general way: the rules and their errors are the
// same.
//
// The call is first only classified, with nothing run, and then handed on whole to the member's
// own fast function (the entry's pfnPlainPut or pfnPlainGet) or to the general path: so the
// caller keeps no frame of its own, and a caller whose signature matches the general path's
// hands the other calls on without touching its arguments.
enum class FastCall { None, Put, Get };

[[gnu::always_inline]] inline bool IsPlainPut(const AFX_DISPMAP_ENTRY& entry,
                                              const DISPPARAMS& params) {
    if (!entry.pfnPlainPut || params.cArgs != 1 || params.cNamedArgs != 1 || !params.rgvarg ||
        !params.rgdispidNamedArgs || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return false;
    // Only the declared type itself: every other argument, even one that would convert without
    // loss, goes the general way and its conversion rules.
    return params.rgvarg[0].vt == entry.vt;
}

[[gnu::always_inline]] inline FastCall Classify(const AFX_DISPMAP_ENTRY* entry, REFIID riid,
                                                WORD wFlags, const DISPPARAMS* pDispParams,
                                                const VARIANT* pVarResult) {
    // Only properties have the fast functions, so a method never passes their checks below.
    if (!pDispParams || !entry || !IsNullIid(riid)) return FastCall::None;
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return IsPlainPut(*entry, *pDispParams) ? FastCall::Put : FastCall::None;
    if ((wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) && entry->pfnPlainGet &&
        pDispParams->cArgs == 0 && pDispParams->cNamedArgs == 0 && pVarResult)
        return FastCall::Get;
    return FastCall::None;
}

// Runs a call the fast path takes, or hands it to `general` (called with no arguments).
template <typename General>
[[gnu::always_inline]] inline HRESULT InvokeFastOr(CCmdTarget* target,
                                                   const AFX_DISPMAP_ENTRY* entry, REFIID riid,
                                                   WORD wFlags, DISPPARAMS* pDispParams,
                                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                                   General&& general) {
    switch (Classify(entry, riid, wFlags, pDispParams, pVarResult)) {
        case FastCall::Put:
            return entry->pfnPlainPut(target, pDispParams->rgvarg[0], pExcepInfo);
        case FastCall::Get:
            return entry->pfnPlainGet(target, pVarResult, pExcepInfo);
        case FastCall::None:
            break;
    }
    return general();
}

[[gnu::always_inline]] inline HRESULT Invoke(CCmdTarget* target, const AFX_DISPMAP& map,
                                             DISPID dispid, REFIID riid, WORD wFlags,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                             EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return InvokeFastOr(target, FindEntry(map, dispid), riid, wFlags, pDispParams, pVarResult,
                        pExcepInfo, [&] {
                            return InvokeGeneral(target, map, dispid, riid, wFlags, pDispParams,
                                                 pVarResult, pExcepInfo, puArgErr);
                        });
}

}  // namespace afx_dispatch
