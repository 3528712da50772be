// VARIANT lifetime and the Automation conversions among the basic types. Conversions between
// numeric types never allocate: they sit on the path of every dispatch call.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/number_text.h"
#include "platform/com/oleauto.h"

namespace {

constexpr VARTYPE kTypeMask = 0x0FFF;
constexpr VARTYPE kFlagMask = static_cast<VARTYPE>(~kTypeMask);

bool IsKnownBase(VARTYPE base) { return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT); }

// What may stand in a VARIANT's vt: a plain type or a reference to one. Arrays are not part of
// this stand-in, so nothing holding one can be freed here.
bool IsValidContent(VARTYPE vt) {
    const VARTYPE base = vt & kTypeMask;
    const VARTYPE flags = vt & kFlagMask;
    if (base == 15 || !IsKnownBase(base)) return false;
    if (flags == 0) return base != VT_VARIANT;
    if (flags == VT_BYREF) return base != VT_EMPTY && base != VT_NULL;
    return false;
}

bool IsValidTarget(VARTYPE vt) { return (vt & kFlagMask) == 0 && IsValidContent(vt); }

// Bytes a reference of the given type points at, or 0 when it cannot be read as a plain value.
std::size_t ReferentSize(VARTYPE base) {
    switch (base) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return sizeof(void*);
        default:
            return 0;
    }
}

// The value a (possibly by-reference) variant stands for, as a shallow by-value variant.
HRESULT Dereference(const VARIANT& src, VARIANT* value) {
    const VARIANT* v = &src;
    if (v->vt == (VT_BYREF | VT_VARIANT)) {
        if (!v->pvarVal) return E_INVALIDARG;
        v = v->pvarVal;
        if (!IsValidContent(v->vt) || v->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
    }
    if (!(v->vt & VT_BYREF)) {
        *value = *v;
        return S_OK;
    }
    const VARTYPE base = v->vt & kTypeMask;
    const std::size_t size = ReferentSize(base);
    if (size == 0) return DISP_E_TYPEMISMATCH;
    if (!v->byref) return E_INVALIDARG;
    VariantInit(value);
    value->vt = base;
    std::memcpy(&value->llVal, v->byref, size);
    return S_OK;
}

// ---------------------------------------------------------------- sources

// The text of a BSTR in ASCII; a number or a truth word never holds anything else.
bool NarrowText(BSTR text, std::string* out) {
    const UINT length = SysStringLen(text);
    out->resize(length);
    for (UINT i = 0; i < length; ++i) {
        // The no-break space is white space to the number parsing as the blank is.
        if (text[i] == 0xA0) {
            (*out)[i] = ' ';
            continue;
        }
        if (text[i] == 0 || text[i] > 0x7F) return false;
        (*out)[i] = static_cast<char>(text[i]);
    }
    return true;
}

HRESULT ParseText(BSTR text, numtext::Number* number) {
    std::string narrow;
    if (!NarrowText(text, &narrow) || !numtext::Parse(narrow, number)) return DISP_E_TYPEMISMATCH;
    return S_OK;
}

// Round to nearest, halves to even, independent of the floating-point rounding mode.
HRESULT RoundReal(double x, std::int64_t lo, std::int64_t hi, std::int64_t* out) {
    if (!(x >= static_cast<double>(lo) - 1.0 && x <= static_cast<double>(hi) + 1.0))
        return DISP_E_OVERFLOW;                                // NaN and infinities too
    std::int64_t rounded = static_cast<std::int64_t>(x);       // toward zero
    const double fraction = x - static_cast<double>(rounded);  // exact: both are this close
    const bool odd = (rounded & 1) != 0;
    if (fraction > 0.5 || (fraction == 0.5 && odd))
        ++rounded;
    else if (fraction < -0.5 || (fraction == -0.5 && odd))
        --rounded;
    if (rounded < lo || rounded > hi) return DISP_E_OVERFLOW;
    *out = rounded;
    return S_OK;
}

HRESULT ToInteger(const VARIANT& s, int bits, bool isSigned, std::int64_t* out) {
    const std::int64_t lo = isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
    const std::int64_t hi =
        isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
    std::int64_t v;
    switch (s.vt) {
        case VT_EMPTY:
            *out = 0;
            return S_OK;
        case VT_BOOL:
            // True is -1, which an unsigned byte holds as all bits set.
            *out = s.boolVal == 0 ? 0 : (isSigned ? -1 : hi);
            return S_OK;
        case VT_UI1:
            v = s.bVal;
            break;
        case VT_I2:
            v = s.iVal;
            break;
        case VT_I4:
            v = s.lVal;
            break;
        case VT_UI4:
            v = s.ulVal;
            break;
        case VT_R4:
            return RoundReal(s.fltVal, lo, hi, out);
        case VT_R8:
            return RoundReal(s.dblVal, lo, hi, out);
        case VT_BSTR: {
            numtext::Number number;
            if (HRESULT hr = ParseText(s.bstrVal, &number); FAILED(hr)) return hr;
            return numtext::ToInteger(number, bits, isSigned, out) ? S_OK : DISP_E_OVERFLOW;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
    if (v < lo || v > hi) return DISP_E_OVERFLOW;
    *out = v;
    return S_OK;
}

HRESULT ToDouble(const VARIANT& s, double* out) {
    switch (s.vt) {
        case VT_EMPTY:
            *out = 0;
            return S_OK;
        case VT_BOOL:
            *out = s.boolVal == 0 ? 0 : -1;
            return S_OK;
        case VT_UI1:
            *out = s.bVal;
            return S_OK;
        case VT_I2:
            *out = s.iVal;
            return S_OK;
        case VT_I4:
            *out = s.lVal;
            return S_OK;
        case VT_UI4:
            *out = s.ulVal;
            return S_OK;
        case VT_R4:
            *out = s.fltVal;
            return S_OK;
        case VT_R8:
            *out = s.dblVal;
            return S_OK;
        case VT_BSTR: {
            numtext::Number number;
            if (HRESULT hr = ParseText(s.bstrVal, &number); FAILED(hr)) return hr;
            return numtext::ToDouble(number, out) ? S_OK : DISP_E_OVERFLOW;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToFloat(const VARIANT& s, float* out) {
    if (s.vt == VT_BSTR) {
        // Straight from the digits: going through a double first could round twice.
        numtext::Number number;
        if (HRESULT hr = ParseText(s.bstrVal, &number); FAILED(hr)) return hr;
        return numtext::ToFloat(number, out) ? S_OK : DISP_E_OVERFLOW;
    }
    double d;
    if (HRESULT hr = ToDouble(s, &d); FAILED(hr)) return hr;
    if (std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
    *out = static_cast<float>(d);
    return S_OK;
}

HRESULT ToBool(const VARIANT& s, VARIANT_BOOL* out) {
    bool truth;
    if (s.vt == VT_BSTR) {
        std::string narrow;
        if (NarrowText(s.bstrVal, &narrow) && numtext::ParseBooleanWord(narrow, &truth)) {
            *out = truth ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
    }
    double d;
    if (HRESULT hr = ToDouble(s, &d); FAILED(hr)) return hr;
    *out = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;  // NaN counts as nonzero
    return S_OK;
}

// ---------------------------------------------------------------- text

BSTR AllocAscii(std::string_view text) {
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < text.size(); ++i) result[i] = static_cast<OLECHAR>(text[i]);
    return result;
}

// "%.<digits>G" in the C locale: no trailing zeros, exponent form only for large or small
// magnitudes ("2.5", "1E+20", "1E-05").
std::string_view FormatReal(double x, int digits, char* buffer, std::size_t size) {
    if (x == 0) return "0";  // also for -0
    auto [end, ec] = std::to_chars(buffer, buffer + size, x, std::chars_format::general, digits);
    if (ec != std::errc()) return "0";  // cannot happen with the buffer sizes used here
    for (char* p = buffer; p != end; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
}

HRESULT ToText(const VARIANT& s, BSTR* out) {
    char buffer[64];
    std::string_view text;
    switch (s.vt) {
        case VT_EMPTY:
            text = "";
            break;
        case VT_BOOL:
            text = s.boolVal != 0 ? "True" : "False";
            break;
        case VT_UI1:
        case VT_I2:
        case VT_I4: {
            const LONG v = s.vt == VT_UI1 ? s.bVal : s.vt == VT_I2 ? s.iVal : s.lVal;
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
            text = std::string_view(buffer, static_cast<std::size_t>(end - buffer));
            break;
        }
        case VT_UI4: {
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, s.ulVal).ptr;
            text = std::string_view(buffer, static_cast<std::size_t>(end - buffer));
            break;
        }
        case VT_R4:
            text = FormatReal(s.fltVal, 7, buffer, sizeof buffer);
            break;
        case VT_R8:
            text = FormatReal(s.dblVal, 15, buffer, sizeof buffer);
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    *out = AllocAscii(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------- copies

// A deep copy of a by-value variant into result (which owns nothing yet).
HRESULT CopyValue(const VARIANT& src, VARIANT* result) {
    *result = src;
    if (src.vt == VT_BSTR && src.bstrVal) {
        result->bstrVal = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
        if (!result->bstrVal) return E_OUTOFMEMORY;
    } else if ((src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) && src.punkVal) {
        // AddRef before dest is cleared: dest may hold the last reference to the same object.
        src.punkVal->AddRef();
    }
    return S_OK;
}

HRESULT Convert(const VARIANT& s, VARTYPE vt, VARIANT* result) {
    VariantInit(result);
    if (s.vt == vt) return CopyValue(s, result);
    std::int64_t i;
    HRESULT hr;
    switch (vt) {
        case VT_EMPTY:
            return S_OK;
        case VT_UI1:
            if (FAILED(hr = ToInteger(s, 8, false, &i))) return hr;
            result->bVal = static_cast<BYTE>(i);
            break;
        case VT_I2:
            if (FAILED(hr = ToInteger(s, 16, true, &i))) return hr;
            result->iVal = static_cast<SHORT>(i);
            break;
        case VT_I4:
            if (FAILED(hr = ToInteger(s, 32, true, &i))) return hr;
            result->lVal = static_cast<LONG>(i);
            break;
        case VT_UI4:
            if (FAILED(hr = ToInteger(s, 32, false, &i))) return hr;
            result->ulVal = static_cast<ULONG>(i);
            break;
        case VT_R4:
            if (FAILED(hr = ToFloat(s, &result->fltVal))) return hr;
            break;
        case VT_R8:
            if (FAILED(hr = ToDouble(s, &result->dblVal))) return hr;
            break;
        case VT_BOOL:
            if (FAILED(hr = ToBool(s, &result->boolVal))) return hr;
            break;
        case VT_BSTR:
            if (FAILED(hr = ToText(s, &result->bstrVal))) return hr;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    result->vt = vt;
    return S_OK;
}

// Values that own nothing: converting among them needs no clean-up and no allocation.
bool IsPlainValue(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_BOOL:
        case VT_UI1:
        case VT_I2:
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_R8:
            return true;
        default:
            return false;
    }
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (!v) return;
    *v = VARIANT{};  // VT_EMPTY, nothing left over in the value
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!IsValidContent(v->vt)) return DISP_E_BADVARTYPE;
    switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (v->punkVal) v->punkVal->Release();
            break;
        default:
            break;  // plain values and references own nothing
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!IsValidContent(src->vt) || !IsValidContent(dest->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy;
    if (HRESULT hr = CopyValue(*src, &copy); FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID /*lcid*/, USHORT /*flags*/,
                            VARTYPE vt) {
    // Numbers always use '.' as their decimal point: the texts converted here are the program's
    // own, not the user's locale's.
    if (!dest || !src) return E_INVALIDARG;
    if (IsPlainValue(src->vt) && IsPlainValue(vt) && IsPlainValue(dest->vt)) {
        // The argument conversions of every dispatch call come this way.
        VARIANT result;
        if (HRESULT hr = Convert(*src, vt, &result); FAILED(hr)) return hr;
        *dest = result;
        return S_OK;
    }
    if (!IsValidContent(src->vt) || !IsValidTarget(vt)) return DISP_E_BADVARTYPE;
    if (dest != src && !IsValidContent(dest->vt)) return DISP_E_BADVARTYPE;
    if (dest == src && src->vt == vt) return S_OK;

    VARIANT value;
    if (HRESULT hr = Dereference(*src, &value); FAILED(hr)) return hr;
    VARIANT result;
    if (HRESULT hr = Convert(value, vt, &result); FAILED(hr)) return hr;
    // Only now is the old content released; in place, that is the source just read.
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
    return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}
