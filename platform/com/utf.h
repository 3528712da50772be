// UTF-8 <-> UTF-16, wherever OLE strings meet the rest of the program (utf.cpp, which both builds
// of Pinbus compile).
#pragma once

#include <string>

#include "platform/com/wtypes.h"

COM_EXPORT std::u16string Utf8ToOle(const std::string& text);
COM_EXPORT std::string OleToUtf8(const std::u16string& text);
COM_EXPORT std::string OleToUtf8(LPCOLESTR text);
