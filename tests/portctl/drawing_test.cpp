// The design-time picture: bitmap 1 stretched over the bounds.
#include <QImage>

#include "platform/com/module_resources.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

using DrawingTest = PinbusTest;

QRgb Opaque(QRgb c) { return c | 0xFF000000u; }

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
        std::vector<DWORD> pixels(std::size_t(width) * height, 0);
        ASSERT_EQ(Embedding(c)->Draw(width, height, pixels.data()), S_OK);
        auto at = [&](int x, int y) { return Opaque(pixels[std::size_t(y) * width + x]); };
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

}  // namespace
