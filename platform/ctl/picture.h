// Drawing for controls: a device context over a Qt painter and CPictureHolder, a picture that
// renders a bitmap stretched into a rectangle. Without the GUI layer pictures cannot be created
// and nothing is drawn.
#pragma once

#include <memory>
#include <string>

#include "platform/com/windef.h"
#include "platform/ctl/module.h"

class QPainter;

// The drawing target handed to a control's OnDraw.
class CTL_EXPORT CDC {
public:
    explicit CDC(QPainter* painter, bool metafile = false)
        : m_pPainter(painter), m_bMetafile(metafile) {}
    QPainter* GetPainter() const { return m_pPainter; }
    bool IsMetafile() const { return m_bMetafile; }

private:
    QPainter* m_pPainter;
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
