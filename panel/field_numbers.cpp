#include "panel/field_numbers.h"

#include "platform/com/guid_text.h"
#include "platform/com/utf.h"

namespace panel {
namespace {

// Converts a text held in a BSTR variant; *out receives the converted variant.
HRESULT ConvertText(const std::string& text, VARTYPE vt, VARIANT* out) {
    const std::u16string ole = Utf8ToOle(text);
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(ole.data(), static_cast<UINT>(ole.size()));
    if (!src.bstrVal) return E_OUTOFMEMORY;
    VariantInit(out);
    const HRESULT hr = VariantChangeType(out, &src, 0, vt);
    VariantClear(&src);
    return hr;
}

}  // namespace

std::string QuoteFieldText(const std::string& text) {
    constexpr std::size_t kMax = 40;
    if (text.size() <= kMax) return "\"" + text + "\"";
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // UTF-8
    return "\"" + text.substr(0, cut) + "...\"";
}

HRESULT TextToInteger(const std::string& text, LONG* out) {
    VARIANT v;
    const HRESULT hr = ConvertText(text, VT_I4, &v);
    if (FAILED(hr)) return hr;
    *out = v.lVal;
    return S_OK;
}

HRESULT TextToReal(const std::string& text, double* out) {
    VARIANT v;
    const HRESULT hr = ConvertText(text, VT_R8, &v);
    if (FAILED(hr)) return hr;
    *out = v.dblVal;
    return S_OK;
}

HRESULT RealToInteger(double value, LONG* out) {
    VARIANT src, dest;
    VariantInit(&src);
    VariantInit(&dest);
    src.vt = VT_R8;
    src.dblVal = value;
    const HRESULT hr = VariantChangeType(&dest, &src, 0, VT_I4);
    if (FAILED(hr)) return hr;
    *out = dest.lVal;
    return S_OK;
}

std::string FieldDescription(int n) {
    static const char* const kNames[] = {
        "",
        "Exposure time",
        "Gain",
        "Frame rate divider",
        "Horizontal start block",
        "Horizontal end block",
        "Vertical start block",
        "Vertical end block",
        "File name",
    };
    if (n < 1 || n > 8) return "Field";
    return kNames[n];
}

std::string FieldErrorText(int n, const std::string& text, HRESULT hr) {
    const std::string field = FieldDescription(n) + " (Text" + std::to_string(n) + ")";
    if (text.empty()) return field + " is empty: type a number.";
    if (hr == DISP_E_OVERFLOW) return field + ": " + QuoteFieldText(text) + " is out of range.";
    if (hr == DISP_E_TYPEMISMATCH) return field + ": " + QuoteFieldText(text) + " is not a number.";
    return field + ": " + QuoteFieldText(text) + " cannot be converted (" + HresultToString(hr) +
           ").";
}

}  // namespace panel
