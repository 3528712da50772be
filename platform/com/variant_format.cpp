#include "platform/com/variant_format.h"

#include <cstdio>

#include "platform/com/com_holders.h"
#include "platform/com/guid_text.h"
#include "platform/com/utf.h"

const char* VarTypeName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
            return "VT_EMPTY";
        case VT_NULL:
            return "VT_NULL";
        case VT_I2:
            return "VT_I2";
        case VT_I4:
            return "VT_I4";
        case VT_R4:
            return "VT_R4";
        case VT_R8:
            return "VT_R8";
        case VT_CY:
            return "VT_CY";
        case VT_DATE:
            return "VT_DATE";
        case VT_BSTR:
            return "VT_BSTR";
        case VT_DISPATCH:
            return "VT_DISPATCH";
        case VT_ERROR:
            return "VT_ERROR";
        case VT_BOOL:
            return "VT_BOOL";
        case VT_VARIANT:
            return "VT_VARIANT";
        case VT_UNKNOWN:
            return "VT_UNKNOWN";
        case VT_I1:
            return "VT_I1";
        case VT_UI1:
            return "VT_UI1";
        case VT_UI2:
            return "VT_UI2";
        case VT_UI4:
            return "VT_UI4";
        case VT_I8:
            return "VT_I8";
        case VT_UI8:
            return "VT_UI8";
        case VT_INT:
            return "VT_INT";
        case VT_UINT:
            return "VT_UINT";
        case VT_VOID:
            return "VT_VOID";
        case VT_HRESULT:
            return "VT_HRESULT";
        case VT_PTR:
            return "VT_PTR";
        case VT_USERDEFINED:
            return "VT_USERDEFINED";
        default:
            return nullptr;
    }
}

std::string VarTypeText(VARTYPE vt) {
    const char* name = VarTypeName(vt);
    return name ? name : "VT_" + std::to_string(vt);
}

std::string FormatVariant(const VARIANT& v) {
    char buf[64];
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return VarTypeText(v.vt);
        case VT_I2:
            return "VT_I2 " + std::to_string(v.iVal);
        case VT_I4:
            return "VT_I4 " + std::to_string(v.lVal);
        case VT_UI1:
            return "VT_UI1 " + std::to_string(v.bVal);
        case VT_BOOL:
            return "VT_BOOL " + std::to_string(v.boolVal);
        case VT_ERROR:
            return "VT_ERROR " + HresultToString(v.scode);
        case VT_R4:
            std::snprintf(buf, sizeof buf, "VT_R4 %.9g", v.fltVal);
            return buf;
        case VT_R8:
            std::snprintf(buf, sizeof buf, "VT_R8 %.17g", v.dblVal);
            return buf;
        case VT_BSTR:
            return "VT_BSTR " + (v.bstrVal ? OleToUtf8(v.bstrVal) : std::string());
        default:
            break;
    }
    CComVariant text;
    std::string out = VarTypeText(v.vt);
    if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)) && text.bstrVal)
        out += " " + OleToUtf8(text.bstrVal);
    return out;
}
