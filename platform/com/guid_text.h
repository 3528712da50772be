// The text of GUIDs and HRESULTs in messages and in the registry (guid_text.cpp, which both builds
// of Pinbus compile).
#pragma once

#include <string>

#include "platform/com/wtypes.h"

// Registry form "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}" (upper-case hex, braces).
COM_EXPORT std::string GuidToString(REFGUID guid);
// Parses the registry form (braces required, hex digits of either case); false on anything else.
COM_EXPORT bool GuidFromString(const std::string& text, GUID* guid);

// An HRESULT as "0x80020005" (lower-case hex, 8 digits).
COM_EXPORT std::string HresultToString(HRESULT hr);
