#include "panel/png/qt_png_encoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <cstring>

namespace panel {

base::Result<std::vector<std::uint8_t>> QtPngEncoder::EncodePng(const Picture& picture) {
    if (picture.width < 1 || picture.height < 1 ||
        picture.pixels.size() !=
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height)) {
        return base::Fail("the picture is empty");
    }
    QImage image(picture.width, picture.height, QImage::Format_Grayscale8);
    if (image.isNull()) return base::Fail("not enough memory for the picture");
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(image.scanLine(y),
                    picture.pixels.data() +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width),
                    static_cast<std::size_t>(picture.width));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) return base::Fail("can't open a memory buffer");
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        return base::Fail("the PNG writer failed: " + writer.errorString().toStdString());
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace panel
