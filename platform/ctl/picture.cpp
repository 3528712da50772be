#include "platform/ctl/picture.h"

#include "platform/ctl/control_ui.h"

struct CPictureHolder::Impl {
    std::unique_ptr<ctl::Picture> picture;
};

CPictureHolder::CPictureHolder() = default;
CPictureHolder::~CPictureHolder() = default;

BOOL CPictureHolder::CreateFromBitmap(const std::string& bmpFile) {
    std::unique_ptr<ctl::Picture> picture = ctl::TheControlUi().DecodeBitmap(bmpFile);
    if (!picture) return FALSE;
    m_impl = std::make_unique<Impl>();
    m_impl->picture = std::move(picture);
    return TRUE;
}

BOOL CPictureHolder::IsEmpty() const { return m_impl == nullptr; }

LONG CPictureHolder::GetWidth() const { return m_impl ? m_impl->picture->Width() : 0; }

LONG CPictureHolder::GetHeight() const { return m_impl ? m_impl->picture->Height() : 0; }

void CPictureHolder::Render(CDC* pDC, const RECT& rcRender, const RECT& rcWBounds) {
    (void)rcWBounds;  // a raster target has no window bounds of its own
    if (m_impl) m_impl->picture->Render(pDC, rcRender);
}
