// What the tests know of the test server module (tests/platform/com/test_server.cpp).
#pragma once

#include "platform/com/wtypes.h"

inline constexpr CLSID kTestObjectClsid = {
    0x5A1C0E37, 0x2B44, 0x4F0D, {0x9C, 0x61, 0x7E, 0x32, 0xA8, 0x15, 0xD0, 0x4C}};
inline constexpr const char* kTestObjectProgId = "LensbayTest.Object.1";
// A class the server does not hold (its DllGetClassObject answers CLASS_E_CLASSNOTAVAILABLE).
inline constexpr CLSID kUnheldClsid = {
    0x5A1C0E37, 0x2B44, 0x4F0D, {0x9C, 0x61, 0x7E, 0x32, 0xA8, 0x15, 0xD0, 0x4D}};
