// VARIANTs and variant types as text for people and scripts: "VT_I4 888", "VT_BSTR text".
#pragma once

#include <string>

#include "platform/com/oleauto.h"

// "VT_I4", "VT_BSTR", ... for the types a host meets; null for any other.
COM_EXPORT const char* VarTypeName(VARTYPE vt);
// VarTypeName, or "VT_" and the number for a type without a name.
COM_EXPORT std::string VarTypeText(VARTYPE vt);
// The type and the value: integers in decimal, VT_R4 with 9 and VT_R8 with 17 significant digits
// (so that the text reads back to the same number), VT_ERROR as its HRESULT, VT_BSTR as its
// UTF-8 text; other types as their conversion to VT_BSTR when there is one, else the type alone.
COM_EXPORT std::string FormatVariant(const VARIANT& v);
