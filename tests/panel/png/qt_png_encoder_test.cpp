// PNG encoding of the panel's pictures, read back with Qt's own PNG reader.
#include "panel/png/qt_png_encoder.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

// An odd width, so that the picture's rows are not a whole number of 4-byte words (as the
// encoder's image rows are), and every pixel a value of its own.
TEST(QtPngEncoder, EncodesEveryPixelInPlaceAsEightBitGrey) {
    panel::Picture picture;
    picture.width = 5;
    picture.height = 3;
    for (int i = 0; i < 15; ++i) picture.pixels.push_back(static_cast<std::uint8_t>(17 * i));
    panel::QtPngEncoder encoder;
    const base::Result<std::vector<std::uint8_t>> png = encoder.EncodePng(picture);
    ASSERT_TRUE(png.ok()) << png.message();
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(png->data(), static_cast<int>(png->size()), "PNG"));
    ASSERT_EQ(decoded.format(), QImage::Format_Grayscale8);
    ASSERT_EQ(decoded.width(), 5);
    ASSERT_EQ(decoded.height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(decoded.constScanLine(y)[x], picture.At(x, y)) << x << ", " << y;
}

// No bytes for a picture with no pixels, or with fewer pixels than its size says.
TEST(QtPngEncoder, RefusesAnEmptyOrShortPicture) {
    panel::QtPngEncoder encoder;
    panel::Picture empty;
    EXPECT_EQ(encoder.EncodePng(empty).message(), "the picture is empty");
    panel::Picture short_rows;
    short_rows.width = 4;
    short_rows.height = 2;
    short_rows.pixels.assign(7, 0);
    EXPECT_EQ(encoder.EncodePng(short_rows).message(), "the picture is empty");
}

}  // namespace
