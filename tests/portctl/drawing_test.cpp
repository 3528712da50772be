// The picture a container draws through IViewObject: bitmap 1 stretched over the bounds, onto
// the container's device context.
#include <QImage>
#include <QPainter>
#include <vector>

#include "platform/com/module_resources.h"
#include "platform/ctl/picture.h"
#include "platform/ui/window_handles.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

using DrawingTest = PinbusTest;

constexpr RECTL kMetafileBounds{0, 0, 24, 22};

QRgb Opaque(QRgb c) { return c | 0xFF000000u; }

// Draws the control's content onto `image` within `bounds` through IViewObject::Draw.
HRESULT DrawInto(const ComPtr<IDispatch>& control, QImage* image, const RECTL& bounds,
                 const RECTL* metafileBounds = nullptr) {
    ComPtr<IViewObject2> view;
    EXPECT_EQ(control.As(IID_IViewObject2, std::addressof(view)), S_OK);
    QPainter painter(image);
    ui::DeviceContext dc(&painter);
    return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.handle(), &bounds,
                      metafileBounds, nullptr, 0);
}

TEST_F(DrawingTest, DrawStretchesTheBitmapOverTheBounds) {
    const auto found = FindModuleResource(lib->path, ResourceType::Bitmap, 1);
    ASSERT_TRUE(found) << found.message();
    const std::string& bmp = *found;
    QImage picture;
    ASSERT_TRUE(
        picture.loadFromData(reinterpret_cast<const uchar*>(bmp.data()), int(bmp.size()), "BMP"));
    ASSERT_EQ(picture.width(), 24);
    ASSERT_EQ(picture.height(), 22);
    const int w = picture.width(), h = picture.height();

    auto c = NewControl();
    for (auto [width, height] : {std::pair{24, 22}, std::pair{96, 88}, std::pair{240, 33}}) {
        QImage target(width, height, QImage::Format_ARGB32);
        target.fill(Qt::transparent);
        ASSERT_EQ(DrawInto(c, &target, RECTL{0, 0, width, height}), S_OK);
        auto at = [&](int x, int y) { return Opaque(target.pixel(x, y)); };
        EXPECT_EQ(at(0, 0), Opaque(picture.pixel(0, 0)));
        EXPECT_EQ(at(width - 1, 0), Opaque(picture.pixel(w - 1, 0)));
        EXPECT_EQ(at(0, height - 1), Opaque(picture.pixel(0, h - 1)));
        EXPECT_EQ(at(width - 1, height - 1), Opaque(picture.pixel(w - 1, h - 1)));
        // At whole scale factors the centre pixel of the picture lands in the centre.
        if (width % w == 0 && height % h == 0) {
            EXPECT_EQ(at(width / 2, height / 2), Opaque(picture.pixel(w / 2, h / 2)));
        }
    }
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
}

// What the rendering was handed: a metafile target's window bounds are the bitmap's own
// rectangle, (0, 0) to (24, 22), whatever the bounds and the metafile's window the container
// gave; any other target gets the bounds themselves (it has no use for window bounds).
struct Rendered {
    bool metafile;
    RECT render, wBounds;
};
std::vector<Rendered> g_rendered;

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(DrawingTest, AMetafileTargetsWindowBoundsAreTheBitmapsRectangle) {
    auto c = NewControl();
    g_rendered.clear();
    SetRenderObserverForTesting([](bool metafile, const RECT& render, const RECT& wBounds) {
        g_rendered.push_back({metafile, render, wBounds});
    });
    const RECTL window{-5, 7, 300, 200};
    for (const RECTL* metafile : {static_cast<const RECTL*>(nullptr), &kMetafileBounds, &window}) {
        QImage target(100, 100, QImage::Format_ARGB32);
        EXPECT_EQ(DrawInto(c, &target, RECTL{10, 20, 58, 64}, metafile), S_OK);
    }
    SetRenderObserverForTesting(nullptr);
    ASSERT_EQ(g_rendered.size(), 3u);
    const RECT bounds{10, 20, 58, 64}, bitmap{0, 0, 24, 22};
    EXPECT_FALSE(g_rendered[0].metafile);
    EXPECT_TRUE(Same(g_rendered[0].wBounds, bounds));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(Same(g_rendered[i].render, bounds)) << i;
        if (i == 0) continue;
        EXPECT_TRUE(g_rendered[i].metafile) << i;
        EXPECT_TRUE(Same(g_rendered[i].wBounds, bitmap))
            << i << ": " << g_rendered[i].wBounds.left << "," << g_rendered[i].wBounds.top << ","
            << g_rendered[i].wBounds.right << "," << g_rendered[i].wBounds.bottom;
    }
}

// Bounds inside a larger surface: the picture fills them and nothing outside; a metafile
// target (its window bounds given) draws the same picture.
TEST_F(DrawingTest, DrawStaysWithinItsBounds) {
    auto c = NewControl();
    for (const RECTL* metafile : {static_cast<const RECTL*>(nullptr), &kMetafileBounds}) {
        QImage target(100, 100, QImage::Format_ARGB32);
        target.fill(Qt::transparent);
        ASSERT_EQ(DrawInto(c, &target, RECTL{10, 20, 58, 64}, metafile), S_OK);
        EXPECT_EQ(qAlpha(target.pixel(9, 40)), 0);
        EXPECT_EQ(qAlpha(target.pixel(58, 40)), 0);
        EXPECT_EQ(qAlpha(target.pixel(30, 19)), 0);
        EXPECT_EQ(qAlpha(target.pixel(30, 64)), 0);
        EXPECT_NE(qAlpha(target.pixel(10, 20)), 0);
        EXPECT_NE(qAlpha(target.pixel(57, 63)), 0);
    }
    // A device context that is gone is no device context.
    HDC gone = nullptr;
    {
        QImage image(4, 4, QImage::Format_ARGB32);
        QPainter painter(&image);
        gone = ui::DeviceContext(&painter).handle();
    }
    ComPtr<IViewObject2> view;
    ASSERT_EQ(c.As(IID_IViewObject2, std::addressof(view)), S_OK);
    const RECTL bounds{0, 0, 4, 4};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, gone, &bounds, nullptr,
                         nullptr, 0),
              E_INVALIDARG);
}

}  // namespace
