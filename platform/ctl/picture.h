// Drawing for controls: CDC, the device context a control's OnDraw is given (the platform's HDC,
// which the control UI resolves), and CPictureHolder, a picture that renders a bitmap stretched
// into a rectangle. Without the GUI layer pictures cannot be created and nothing is drawn.
#pragma once

#include <memory>
#include <string>

#include "platform/com/windef.h"
#include "platform/ctl/module.h"

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

class CTL_EXPORT CPictureHolder {
public:
    CPictureHolder();
    ~CPictureHolder();
    CPictureHolder(const CPictureHolder&) = delete;
    CPictureHolder& operator=(const CPictureHolder&) = delete;

    // Wraps a bitmap given as the bytes of a .bmp file. The picture decodes its own copy, so the
    // caller keeps (and frees) the bytes it passed. FALSE for bytes that are no bitmap.
    BOOL CreateFromBitmap(const std::string& bmpFile);
    BOOL IsEmpty() const;
    LONG GetWidth() const;   // pixels, 0 when empty
    LONG GetHeight() const;  // pixels, 0 when empty
    // Draws the whole picture stretched over rcRender. rcWBounds is the window bounds of a
    // metafile target (unused for other targets).
    void Render(CDC* pDC, const RECT& rcRender, const RECT& rcWBounds);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
