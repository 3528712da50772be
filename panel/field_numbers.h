// Field texts as numbers: the window's fields are free text, converted only when an operation
// uses them, through the automation conversions (integers round half to even; overflow and
// non-numbers are errors).
#pragma once

#include <string>

#include "platform/com/oleauto.h"

namespace panel {

// Text -> signed 32-bit integer (VT_BSTR -> VT_I4).
HRESULT TextToInteger(const std::string& text, LONG* out);
// Text -> double (VT_BSTR -> VT_R8).
HRESULT TextToReal(const std::string& text, double* out);
// A double result -> signed 32-bit integer, rounding halves to even (VT_R8 -> VT_I4).
HRESULT RealToInteger(double value, LONG* out);

// What field TextN holds, for messages: "Exposure time", "Horizontal start block", ...
std::string FieldDescription(int n);
// The user's text in quotes for a message, cut short (at a character boundary) when long.
std::string QuoteFieldText(const std::string& text);
// A message naming the field and what is wrong with its text, e.g.
// "Exposure time (Text1): \"abc\" is not a number."
std::string FieldErrorText(int n, const std::string& text, HRESULT hr);

}  // namespace panel
