#include "platform/ctl/picture.h"

#if CTL_HAVE_UI
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QRect>
#endif

struct CPictureHolder::Impl {
#if CTL_HAVE_UI
    QImage image;
#endif
};

CPictureHolder::CPictureHolder() = default;
CPictureHolder::~CPictureHolder() = default;

BOOL CPictureHolder::CreateFromBitmap(const std::string& bmpFile) {
#if CTL_HAVE_UI
    QImage image;
    if (bmpFile.empty() || !image.loadFromData(reinterpret_cast<const uchar*>(bmpFile.data()),
                                               static_cast<int>(bmpFile.size()), "BMP"))
        return FALSE;
    m_impl = std::make_unique<Impl>();
    m_impl->image = std::move(image);
    return TRUE;
#else
    (void)bmpFile;
    return FALSE;
#endif
}

BOOL CPictureHolder::IsEmpty() const { return m_impl == nullptr; }

LONG CPictureHolder::GetWidth() const {
#if CTL_HAVE_UI
    if (m_impl) return m_impl->image.width();
#endif
    return 0;
}

LONG CPictureHolder::GetHeight() const {
#if CTL_HAVE_UI
    if (m_impl) return m_impl->image.height();
#endif
    return 0;
}

void CPictureHolder::Render(CDC* pDC, const RECT& rcRender, const RECT& rcWBounds) {
    (void)rcWBounds;  // a raster target has no window bounds of its own
#if CTL_HAVE_UI
    if (!m_impl || !pDC || !pDC->GetPainter()) return;
    QRect target(rcRender.left, rcRender.top, rcRender.right - rcRender.left,
                 rcRender.bottom - rcRender.top);
    pDC->GetPainter()->drawImage(target, m_impl->image);
#else
    (void)pDC;
    (void)rcRender;
#endif
}
