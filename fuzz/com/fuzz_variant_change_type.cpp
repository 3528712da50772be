// Any source value, any target type, into a fresh, an occupied or the source variant itself:
// success gives the target type, failure leaves the destination exactly as it was, and nothing
// leaks or is freed twice.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/com/oleauto.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Types worth trying, the unsupported and invalid ones included.
constexpr VARTYPE kTypes[] = {
    VT_EMPTY,         VT_NULL,         VT_I2,  VT_I4, VT_R4,  VT_R8, VT_CY, VT_DATE, VT_BSTR,
    VT_ERROR,         VT_BOOL,         VT_UI1, VT_I1, VT_UI4, VT_I8, 15,    99,      VT_VARIANT,
    VT_BYREF | VT_I4, VT_ARRAY | VT_I4};

struct Snapshot {
    VARIANT v;
    std::u16string text;
    bool hasText;
};

Snapshot Take(const VARIANT& v) {
    Snapshot s{v, {}, v.vt == VT_BSTR && v.bstrVal};
    if (s.hasText) s.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
    return s;
}

bool Same(const Snapshot& s, const VARIANT& v) {
    if (std::memcmp(&s.v, &v, sizeof v) != 0) return false;
    return !s.hasText || s.text == std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
}

// The value of an I2, I4, UI1 or BOOL variant; the union's other bytes may hold anything.
bool SameValue(const VARIANT& a, const VARIANT& b) {
    switch (a.vt) {
        case VT_I2:
            return a.iVal == b.iVal;
        case VT_I4:
            return a.lVal == b.lVal;
        case VT_UI1:
            return a.bVal == b.bVal;
        default:
            return (a.boolVal != 0) == (b.boolVal != 0);
    }
}

bool IsValidType(VARTYPE vt) {
    return vt != 15 && vt != 99 && vt != VT_VARIANT && !(vt & VT_ARRAY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const VARTYPE sourceType = kTypes[data[0] % std::size(kTypes)];
    const VARTYPE target = kTypes[data[1] % std::size(kTypes)];
    const int mode = data[2] % 3;  // fresh destination, occupied destination, in place
    data += 3;
    size -= 3;

    VARIANT src;
    VariantInit(&src);
    src.vt = sourceType;
    std::int64_t referent = 0;
    if (sourceType == VT_BSTR) {
        // Arbitrary UTF-16, NULs and lone surrogates included.
        src.bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(size / 2));
        if (!src.bstrVal) return 0;
        std::memcpy(src.bstrVal, data, size / 2 * 2);
    } else if (sourceType == (VT_BYREF | VT_I4)) {
        std::memcpy(&referent, data, size < sizeof referent ? size : sizeof referent);
        src.byref = &referent;
    } else {
        std::memcpy(&src.llVal, data, size < sizeof src.llVal ? size : sizeof src.llVal);
    }

    VARIANT other;
    VariantInit(&other);
    if (mode == 1) {
        other.vt = VT_BSTR;
        other.bstrVal = SysAllocString(u"occupied");
    }
    VARIANT* dest = mode == 2 ? &src : &other;
    const Snapshot before = Take(*dest);
    const Snapshot sourceBefore = Take(src);

    const HRESULT hr = VariantChangeType(dest, &src, 0, target);
    if (SUCCEEDED(hr)) {
        Check(hr == S_OK, "success is S_OK");
        Check(dest->vt == target, "result has the target type");
        if (target == VT_BSTR) Check(dest->bstrVal != nullptr || sourceType == VT_BSTR, "text");
        if (mode != 2) Check(Same(sourceBefore, src), "source untouched");
        // A converted value converts to text and back to the same type.
        if (target == VT_I2 || target == VT_I4 || target == VT_UI1 || target == VT_BOOL) {
            VARIANT text, back;
            VariantInit(&text);
            VariantInit(&back);
            Check(VariantChangeType(&text, dest, 0, VT_BSTR) == S_OK, "number to text");
            Check(VariantChangeType(&back, &text, 0, target) == S_OK, "text to number");
            Check(back.vt == dest->vt && SameValue(back, *dest), "text round trip");
            VariantClear(&text);
        }
    } else {
        Check(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE,
              "a known failure");
        Check(Same(before, *dest), "failure leaves the destination untouched");
        Check(Same(sourceBefore, src), "failure leaves the source untouched");
    }

    if (mode != 2) VariantClear(&other);
    const HRESULT cleared = VariantClear(&src);
    Check(IsValidType(src.vt) ? cleared == S_OK : cleared == DISP_E_BADVARTYPE, "clear");
    return 0;
}
