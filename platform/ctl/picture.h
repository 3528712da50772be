// Drawing for controls: CDC, the device context a control's OnDraw is given (the platform's HDC,
// which the control UI resolves), CBitmap, a bitmap of a module's resources, and CPictureHolder,
// a picture that renders a bitmap stretched into a rectangle. Without the GUI layer pictures
// cannot be created and nothing is drawn.
#pragma once

#include <memory>
#include <string>

#include "platform/com/windef.h"
#include "platform/ctl/module.h"

namespace ctl {
class Bitmap;
}

// The drawing target handed to a control's OnDraw. A metafile target is one whose container gave
// the metafile's window bounds (IViewObject::Draw's lprcWBounds).
class CTL_EXPORT CDC {
public:
    explicit CDC(HDC hdc, bool metafile = false) : m_hDC(hdc), m_bMetafile(metafile) {}
    HDC GetSafeHdc() const { return m_hDC; }
    bool IsMetafile() const { return m_bMetafile; }

private:
    HDC m_hDC;
    bool m_bMetafile;
};

class CTL_EXPORT CBitmap {
public:
    CBitmap();
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // Loads bitmap resource `id` of the module `instance` (in place of one loaded before); FALSE
    // when the module has none or there are no pictures.
    BOOL LoadBitmap(HINSTANCE instance, std::uint16_t id);
    // Fills *pBitMap with the bitmap's description (its size in pixels); the bytes written, 0
    // when nothing is loaded.
    int GetBitmap(BITMAP* pBitMap) const;

private:
    friend class CPictureHolder;
    std::unique_ptr<ctl::Bitmap> m_bitmap;
};

class CTL_EXPORT CPictureHolder {
public:
    CPictureHolder();
    ~CPictureHolder();
    CPictureHolder(const CPictureHolder&) = delete;
    CPictureHolder& operator=(const CPictureHolder&) = delete;

    // Wraps a bitmap given as the bytes of a .bmp file. The picture decodes its own copy, so the
    // caller keeps (and frees) the bytes it passed. FALSE for bytes that are no bitmap.
    BOOL CreateFromBitmap(const std::string& bmpFile);
    // Wraps a loaded bitmap. Without bTransferOwnership the caller keeps the bitmap and must keep
    // it for as long as the picture lives; with it the picture takes it (pBitmap is then empty)
    // and frees it after itself. FALSE when pBitmap holds no bitmap.
    BOOL CreateFromBitmap(CBitmap* pBitmap, BOOL bTransferOwnership);
    BOOL IsEmpty() const;
    LONG GetWidth() const;   // pixels, 0 when empty
    LONG GetHeight() const;  // pixels, 0 when empty
    // Draws the whole picture stretched over rcRender. rcWBounds is the window bounds of a
    // metafile target (other targets have no use for it).
    void Render(CDC* pDC, const RECT& rcRender, const RECT& rcWBounds);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// For tests: called by every CPictureHolder::Render that draws, with whether the target is a
// metafile and the rectangles handed to the picture (the window bounds have an effect only on a
// platform whose pictures play into metafiles). Null removes it.
using RenderObserverForTesting = void (*)(bool metafile, const RECT& render, const RECT& wBounds);
CTL_EXPORT void SetRenderObserverForTesting(RenderObserverForTesting observer);
