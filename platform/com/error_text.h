// Our own helpers over the thread's error object (oaidl.h): its description as UTF-8 text, and
// the one way a failing function of ours leaves its text there. Both builds declare them here;
// each implements them on its own error object.
#pragma once

#include <string>

#include "platform/com/oaidl.h"

// Sets the thread's error object to one with this description (UTF-8) and source. Never fails:
// when no object can be made, the thread is left without one.
COM_EXPORT void SetErrorInfoText(const std::string& description, const std::string& source = {});
// Takes the thread's error object (as GetErrorInfo) and gives its description in UTF-8; empty
// when there was none.
COM_EXPORT std::string TakeErrorInfoText();

// `return FailWithText(E_INVALIDARG, "...")`: the failure's HRESULT, with its text left in the
// thread's error object.
inline HRESULT FailWithText(HRESULT hr, const std::string& text) {
    SetErrorInfoText(text);
    return hr;
}
