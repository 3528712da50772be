#include "platform/ctl/picture.h"

#include <atomic>

#include "platform/ctl/control_ui.h"

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;

BOOL CBitmap::LoadBitmap(HINSTANCE instance, std::uint16_t id) {
    m_bitmap = ctl::TheControlUi().LoadModuleBitmap(instance, id);
    return m_bitmap != nullptr;
}

int CBitmap::GetBitmap(BITMAP* pBitMap) const {
    if (!m_bitmap || !pBitMap) return 0;
    *pBitMap = m_bitmap->Describe();
    return static_cast<int>(sizeof(BITMAP));
}

struct CPictureHolder::Impl {
    // Declared first, so destroyed after the picture drawn from it.
    std::unique_ptr<ctl::Bitmap> ownedBitmap;
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

BOOL CPictureHolder::CreateFromBitmap(CBitmap* pBitmap, BOOL bTransferOwnership) {
    if (!pBitmap || !pBitmap->m_bitmap) return FALSE;
    std::unique_ptr<ctl::Picture> picture = pBitmap->m_bitmap->CreatePicture();
    if (!picture) return FALSE;
    auto impl = std::make_unique<Impl>();
    if (bTransferOwnership) impl->ownedBitmap = std::move(pBitmap->m_bitmap);
    impl->picture = std::move(picture);
    m_impl = std::move(impl);
    return TRUE;
}

BOOL CPictureHolder::IsEmpty() const { return m_impl == nullptr; }

LONG CPictureHolder::GetWidth() const { return m_impl ? m_impl->picture->Width() : 0; }

LONG CPictureHolder::GetHeight() const { return m_impl ? m_impl->picture->Height() : 0; }

namespace {
std::atomic<RenderObserverForTesting> g_renderObserver{nullptr};
}  // namespace

void SetRenderObserverForTesting(RenderObserverForTesting observer) {
    g_renderObserver.store(observer);
}

void CPictureHolder::Render(CDC* pDC, const RECT& rcRender, const RECT& rcWBounds) {
    if (!m_impl) return;
    if (const RenderObserverForTesting observe = g_renderObserver.load(); observe && pDC)
        observe(pDC->IsMetafile(), rcRender, rcWBounds);
    m_impl->picture->Render(pDC, rcRender, rcWBounds);
}
