// What a host uses of a control besides IDispatch and IPersistStreamInit: the user type name, the
// miscellaneous status, the extent, the verbs, the property pages and the design-time picture.
// One small interface of this framework's own, IOleControlEmbedding, serves all of them; every
// COleControl answers QueryInterface for it. Header only: a host needs no library to use it.
//
//   ComPtr<IOleControlEmbedding> e;  control->QueryInterface(IID_IOleControlEmbedding, ...)
//   e->GetMiscStatus(DVASPECT_CONTENT, &status)       // e.g. 132497
//   e->SetExtent(DVASPECT_CONTENT, &size)             // HIMETRIC, saved with the control's state
//   e->GetVerbCount(&n); e->GetVerb(i, &verb, &name, &attribs); e->DoVerb(OLEIVERB_PROPERTIES)
//   e->GetPages(capacity, clsids, &count)             // the property pages' class identities
//   e->Draw(width, height, pixels)                    // the picture as 0xAARRGGBB, rows top-down
#pragma once

#include "platform/com/oleauto.h"
#include "platform/com/oleidl.h"
#include "platform/com/windef.h"

// {5C3D8A41-7E2B-4F6A-9B1D-3E8F0C2A6D17}
inline constexpr IID IID_IOleControlEmbedding = {
    0x5C3D8A41, 0x7E2B, 0x4F6A, {0x9B, 0x1D, 0x3E, 0x8F, 0x0C, 0x2A, 0x6D, 0x17}};

struct IOleControlEmbedding : IUnknown {
    // The class's user type name ("Pinbus Control"); the caller frees it with SysFreeString.
    STDMETHOD(GetUserType)(BSTR* name) = 0;
    // OLEMISC bits for DVASPECT_CONTENT; 0 for every other aspect.
    STDMETHOD(GetMiscStatus)(DWORD aspect, DWORD* status) = 0;
    // The size the host gives the control, in HIMETRIC (0.01 mm); part of the saved state.
    // Only DVASPECT_CONTENT has an extent (DV_E_DVASPECT otherwise).
    STDMETHOD(SetExtent)(DWORD aspect, const SIZEL* size) = 0;
    STDMETHOD(GetExtent)(DWORD aspect, SIZEL* size) = 0;
    // The verbs the control offers, in menu order; GetVerb's name is freed by the caller and
    // DISP_E_BADINDEX answers an index past the end.
    STDMETHOD(GetVerbCount)(ULONG* count) = 0;
    STDMETHOD(GetVerb)(ULONG index, LONG* verb, BSTR* name, DWORD* attribs) = 0;
    // Runs a verb: OLEIVERB_PROPERTIES opens the property frame modally and returns when it is
    // closed; the activation verbs have nothing to do for a windowless object and succeed; an
    // unknown positive verb runs the primary one and answers OLEOBJ_S_INVALIDVERB; an unknown
    // negative verb is E_NOTIMPL.
    STDMETHOD(DoVerb)(LONG verb) = 0;
    // The CLSIDs of the control's property pages: *count is the number of pages; up to
    // `capacity` of them are copied (E_POINTER for a null count, or null pages with capacity).
    STDMETHOD(GetPages)(ULONG capacity, CLSID* pages, ULONG* count) = 0;
    // Draws the design-time picture stretched over width x height pixels (0xAARRGGBB, row-major,
    // top row first). E_INVALIDARG for sizes outside 1..4096, E_NOTIMPL without the GUI layer.
    STDMETHOD(Draw)(LONG width, LONG height, DWORD* pixels) = 0;

protected:
    ~IOleControlEmbedding() = default;
};
