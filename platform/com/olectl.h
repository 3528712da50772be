// The property frame: a modal dialog with one tab per property page, for the objects the pages
// edit. The frame creates each page by its class identity (CoCreateInstance) and drives it only
// through IPropertyPage. The stand-in's frame is a window, so it is defined by the window layer
// (platform/ui, libui); a program that calls it links that library.
#pragma once

#include "platform/com/ocidl.h"

// What OleCreatePropertyFrameIndirect is given; cbStructSize is sizeof(OCPFIPARAMS).
struct OCPFIPARAMS {
    ULONG cbStructSize;
    HWND hWndOwner;
    int x;
    int y;
    LPCOLESTR lpszCaption;  // the objects' name: the frame is titled "<caption> Properties"
    ULONG cObjects;
    IUnknown** lplpUnk;
    ULONG cPages;
    CLSID* lpPages;
    LCID lcid;
    DISPID dispidInitialProperty;
};
using LPOCPFIPARAMS = OCPFIPARAMS*;

// Runs the frame modally and returns when it is closed (S_OK whether with OK or Cancel). OK and
// Apply apply the pages that say they hold changes. E_INVALIDARG for a null caption, objects or
// pages; E_FAIL when no window can be shown (no display); a page that cannot be created or
// refuses the objects is left out, and when none is left the frame fails with that page's error.
COM_EXPORT HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                                          ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                                          CLSID* pPageClsID, LCID lcid, DWORD dwReserved,
                                          void* pvReserved);
COM_EXPORT HRESULT OleCreatePropertyFrameIndirect(LPOCPFIPARAMS lpParams);
