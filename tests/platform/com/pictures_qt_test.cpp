// The bitmap and icon of PINBUS.OCX decode with Qt's readers, which the About box and the
// design-time drawing use: sizes, transparency of the icon's background, and the palette colours.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>

#include "platform/com/resource_table.h"
#include "tests/platform/com/resource_results.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

std::vector<QImage> Decode(ResourceType type) {
    std::string bytes, error;
    EXPECT_TRUE(FindModuleResource(TEST_MODULE_PATH, type, 1, &bytes, &error)) << error;
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    std::vector<QImage> images;
    do {
        QImage image = reader.read();
        if (image.isNull()) break;
        images.push_back(image);
    } while (reader.jumpToNextImage());
    return images;
}

TEST(PicturesInQt, BitmapDecodesAt24By22) {
    std::vector<QImage> images = Decode(ResourceType::Bitmap);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].size(), QSize(24, 22));
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(0xC0, 0xC0, 0xC0));  // top row: the toolbox grey
}

TEST(PicturesInQt, IconDecodesBothSizesWithTransparentCorners) {
    std::vector<QImage> images = Decode(ResourceType::Icon);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].size(), QSize(32, 32));
    EXPECT_EQ(images[1].size(), QSize(16, 16));
    for (const QImage& image : images) {
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
    }
}

}  // namespace
