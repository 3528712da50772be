// Window-system basics the platform declares beside its COM headers: rectangles, sizes, the
// word-packing helpers, and the handles of windows and device contexts. A handle is opaque, as
// the platform's are: the UI layer that made the window or the device context resolves it (see
// platform/ui/window_handles.h); nothing else may look inside.
#pragma once

#include "platform/com/wtypes.h"

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

// The same rectangle under the name the embedding interfaces give it.
struct RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECTL = RECTL*;
using LPCRECTL = const RECTL*;

struct SIZE {
    LONG cx;
    LONG cy;
};
using SIZEL = SIZE;
using LPSIZEL = SIZEL*;

struct POINT {
    LONG x;
    LONG y;
};
struct POINTL {
    LONG x;
    LONG y;
};

// A bitmap's description, as GetObject gives it for a bitmap.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

// The low word in bits 0-15, the high word in bits 16-31.
constexpr LONG MAKELONG(WORD low, WORD high) {
    return static_cast<LONG>(DWORD(low) | (DWORD(high) << 16));
}
constexpr WORD LOWORD(DWORD value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HIWORD(DWORD value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }

// Handles: distinct pointer types that point at nothing a caller may use.
#define DECLARE_HANDLE(name) \
    struct name##__ {        \
        int unused;          \
    };                       \
    using name = name##__*
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HACCEL);
DECLARE_HANDLE(HPALETTE);
using HANDLE = void*;
using HGLOBAL = HANDLE;

// A window message, as a message loop hands it on (the platform's winuser.h).
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

// How ShowWindow (and IPropertyPage::Show) shows a window: SW_HIDE hides it, every other
// command shows it.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
