// Window-system basics the platform declares beside its COM headers: rectangles, sizes and the
// word-packing helpers.
#pragma once

#include "platform/com/wtypes.h"

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct SIZE {
    LONG cx;
    LONG cy;
};
using SIZEL = SIZE;

struct POINT {
    LONG x;
    LONG y;
};

// The low word in bits 0-15, the high word in bits 16-31.
constexpr LONG MAKELONG(WORD low, WORD high) {
    return static_cast<LONG>(DWORD(low) | (DWORD(high) << 16));
}
constexpr WORD LOWORD(DWORD value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HIWORD(DWORD value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
