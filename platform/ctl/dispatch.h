// Dispatch maps: a class's automation members as a static table of DISPID, name, declared type
// and handlers. The framework's IDispatch converts each argument to the declared type before a
// handler runs; a handler never sees a variant of another type.
//
//   static const AFX_DISPMAP_ENTRY kEntries[] = {
//       AfxDispProperty<&CMyCtrl::GetWidth, &CMyCtrl::SetWidth>(1, "Width"),
//       AfxDispPropertyGet<&CMyCtrl::GetCount>(2, "Count"),
//       AfxDispMethod<&CMyCtrl::Refresh>(3, "Refresh"),
//   };
//
// Handlers are member functions: a getter `T Get()`, a setter `void Set(T)` and a method
// `void Run()` (or `T Run()`), with T one of LONG, SHORT, BYTE, FLOAT, DOUBLE, VARIANT_BOOL via
// AfxBool, or BSTR (a getter returns a string the caller then owns; a setter borrows it).
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/com/com_exception.h"
#include "platform/com/oleauto.h"
#include "platform/ctl/cmdtarget.h"

enum class AfxDispKind : std::uint8_t { Property, Method };

struct AFX_DISPMAP_ENTRY {
    const char* lpszName;  // ASCII; matched without regard to case
    DISPID lDispID;
    VARTYPE vt;  // property type, or the method's result type (VT_EMPTY for none)
    AfxDispKind kind;
    // Stores the property (or the method's result) into *result, which the caller initialised.
    void (*pfnGet)(CCmdTarget* target, VARIANT* result);
    // Receives an argument already of type vt.
    void (*pfnSet)(CCmdTarget* target, const VARIANT& value);
    // Invoke's fast path, one function per member so that Invoke jumps straight to it: a get into
    // *result (any property with a getter), and a put of an argument already of type vt (VT_I4
    // and VT_I2 properties only); a handler's exception becomes the result. Null where the member
    // has no such path.
    HRESULT (*pfnPlainGet)(CCmdTarget* target, VARIANT* result, EXCEPINFO* excep) = nullptr;
    HRESULT (*pfnPlainPut)(CCmdTarget* target, const VARIANT& value, EXCEPINFO* excep) = nullptr;
};

struct AFX_DISPMAP {
    const AFX_DISPMAP_ENTRY* lpEntries;
    std::size_t nEntries;
};

// A VARIANT_BOOL property is declared with this type so that it is told from a SHORT.
struct AfxBool {
    VARIANT_BOOL value;
};

namespace afx_dispatch {

template <typename T>
struct VarType;
template <>
struct VarType<LONG> : std::integral_constant<VARTYPE, VT_I4> {};
template <>
struct VarType<SHORT> : std::integral_constant<VARTYPE, VT_I2> {};
template <>
struct VarType<BYTE> : std::integral_constant<VARTYPE, VT_UI1> {};
template <>
struct VarType<float> : std::integral_constant<VARTYPE, VT_R4> {};
template <>
struct VarType<double> : std::integral_constant<VARTYPE, VT_R8> {};
template <>
struct VarType<BSTR> : std::integral_constant<VARTYPE, VT_BSTR> {};
template <>
struct VarType<AfxBool> : std::integral_constant<VARTYPE, VT_BOOL> {};

inline void Store(VARIANT* v, LONG x) { v->vt = VT_I4, v->lVal = x; }
inline void Store(VARIANT* v, SHORT x) { v->vt = VT_I2, v->iVal = x; }
inline void Store(VARIANT* v, BYTE x) { v->vt = VT_UI1, v->bVal = x; }
inline void Store(VARIANT* v, FLOAT x) { v->vt = VT_R4, v->fltVal = x; }
inline void Store(VARIANT* v, DOUBLE x) { v->vt = VT_R8, v->dblVal = x; }
inline void Store(VARIANT* v, BSTR x) { v->vt = VT_BSTR, v->bstrVal = x; }
inline void Store(VARIANT* v, AfxBool x) { v->vt = VT_BOOL, v->boolVal = x.value; }

template <typename T>
T Load(const VARIANT& v);
template <>
inline LONG Load<LONG>(const VARIANT& v) {
    return v.lVal;
}
template <>
inline SHORT Load<SHORT>(const VARIANT& v) {
    return v.iVal;
}
template <>
inline BYTE Load<BYTE>(const VARIANT& v) {
    return v.bVal;
}
template <>
inline FLOAT Load<FLOAT>(const VARIANT& v) {
    return v.fltVal;
}
template <>
inline DOUBLE Load<DOUBLE>(const VARIANT& v) {
    return v.dblVal;
}
template <>
inline BSTR Load<BSTR>(const VARIANT& v) {
    return v.bstrVal;
}
template <>
inline AfxBool Load<AfxBool>(const VARIANT& v) {
    return AfxBool{v.boolVal};
}

template <typename M>
struct Member;
template <typename C, typename R>
struct Member<R (C::*)()> {
    using Class = C;
    using Result = R;
};
template <typename C, typename R>
struct Member<R (C::*)() const> {
    using Class = C;
    using Result = R;
};
template <typename C, typename A>
struct Member<void (C::*)(A)> {
    using Class = C;
    using Arg = std::remove_cvref_t<A>;
};

// The thunks cast the target by reference: it is never null, and a pointer cast would test it on
// every call where the class's CCmdTarget part is not at its start.
template <auto Get>
void GetThunk(CCmdTarget* target, VARIANT* result) {
    using M = Member<decltype(Get)>;
    Store(result, (static_cast<typename M::Class&>(*target).*Get)());
}

template <auto Set>
void SetThunk(CCmdTarget* target, const VARIANT& value) {
    using M = Member<decltype(Set)>;
    (static_cast<typename M::Class&>(*target).*Set)(Load<typename M::Arg>(value));
}

template <auto Get>
HRESULT PlainGetThunk(CCmdTarget* target, VARIANT* result, EXCEPINFO* excep) {
    try {
        GetThunk<Get>(target, result);
    } catch (...) {
        return DispExceptionFromCurrentException(excep);
    }
    return S_OK;
}

// The argument is of the member's own type (the caller has checked).
template <auto Set>
HRESULT PlainPutThunk(CCmdTarget* target, const VARIANT& value, EXCEPINFO* excep) {
    try {
        SetThunk<Set>(target, value);
    } catch (...) {
        return DispExceptionFromCurrentException(excep);
    }
    return S_OK;
}

template <auto Set>
constexpr auto PlainPutFor() -> HRESULT (*)(CCmdTarget*, const VARIANT&, EXCEPINFO*) {
    using A = typename Member<decltype(Set)>::Arg;
    if constexpr (std::is_same_v<A, LONG> || std::is_same_v<A, SHORT>)
        return &PlainPutThunk<Set>;
    else
        return nullptr;
}

template <auto Method>
void MethodThunk(CCmdTarget* target, VARIANT* result) {
    using M = Member<decltype(Method)>;
    auto* self = &static_cast<typename M::Class&>(*target);
    if constexpr (std::is_void_v<typename M::Result>) {
        (self->*Method)();
        result->vt = VT_EMPTY;
    } else {
        Store(result, (self->*Method)());
    }
}

}  // namespace afx_dispatch

template <auto Get, auto Set>
constexpr AFX_DISPMAP_ENTRY AfxDispProperty(DISPID id, const char* name) {
    using T = typename afx_dispatch::Member<decltype(Get)>::Result;
    static_assert(std::is_same_v<T, typename afx_dispatch::Member<decltype(Set)>::Arg>,
                  "getter and setter must agree on the property's type");
    return {name,
            id,
            afx_dispatch::VarType<T>::value,
            AfxDispKind::Property,
            &afx_dispatch::GetThunk<Get>,
            &afx_dispatch::SetThunk<Set>,
            &afx_dispatch::PlainGetThunk<Get>,
            afx_dispatch::PlainPutFor<Set>()};
}

template <auto Get>
constexpr AFX_DISPMAP_ENTRY AfxDispPropertyGet(DISPID id, const char* name) {
    using T = typename afx_dispatch::Member<decltype(Get)>::Result;
    return {name,
            id,
            afx_dispatch::VarType<T>::value,
            AfxDispKind::Property,
            &afx_dispatch::GetThunk<Get>,
            nullptr,
            &afx_dispatch::PlainGetThunk<Get>};
}

template <auto Set>
constexpr AFX_DISPMAP_ENTRY AfxDispPropertyPut(DISPID id, const char* name) {
    using T = typename afx_dispatch::Member<decltype(Set)>::Arg;
    return {name,
            id,
            afx_dispatch::VarType<T>::value,
            AfxDispKind::Property,
            nullptr,
            &afx_dispatch::SetThunk<Set>,
            nullptr,
            afx_dispatch::PlainPutFor<Set>()};
}

template <auto Method>
constexpr AFX_DISPMAP_ENTRY AfxDispMethod(DISPID id, const char* name) {
    using R = typename afx_dispatch::Member<decltype(Method)>::Result;
    VARTYPE vt = VT_EMPTY;
    if constexpr (!std::is_void_v<R>) vt = afx_dispatch::VarType<R>::value;
    return {name, id, vt, AfxDispKind::Method, &afx_dispatch::MethodThunk<Method>, nullptr};
}

template <std::size_t N>
constexpr AFX_DISPMAP AfxMakeDispatchMap(const AFX_DISPMAP_ENTRY (&entries)[N]) {
    return {entries, N};
}

// Thrown by a member to fail its Invoke with DISP_E_EXCEPTION: the EXCEPINFO carries `scode`
// and the description (UTF-8 here).
class COleDispatchException : public ComException {
public:
    using ComException::ComException;
};

// The framework's IDispatch::Invoke and GetIDsOfNames over a map, for any target.
CTL_EXPORT HRESULT AfxDispatchInvoke(CCmdTarget* target, const AFX_DISPMAP& map, DISPID dispid,
                                     REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
CTL_EXPORT HRESULT AfxDispatchGetIDsOfNames(const AFX_DISPMAP& map, REFIID riid,
                                            LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId);
