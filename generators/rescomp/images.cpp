// 16-colour bitmaps and icons in the platform's file formats.
#include "generators/rescomp/rescomp.h"
#include "platform/com/le_bytes.h"

namespace rescomp {
namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPaletteSize = 16 * 4;

// Rows of a device-independent bitmap are padded to whole 32-bit words.
std::uint32_t RowBytes(int width, int bitsPerPixel) {
    return ((static_cast<std::uint32_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

void WriteInfoHeader(lebytes::Writer& w, int width, int height, std::uint32_t imageSize,
                     std::uint32_t colorsUsed) {
    w.U32(kInfoHeaderSize);
    w.I32(width);
    w.I32(height);
    w.U16(1);  // planes
    w.U16(4);  // bits per pixel
    w.U32(0);  // no compression
    w.U32(imageSize);
    w.I32(0);  // no preferred resolution
    w.I32(0);
    w.U32(colorsUsed);
    w.U32(0);  // all colours important
}

void WritePalette(lebytes::Writer& w) {
    for (std::uint32_t rgb : StandardPalette()) {
        w.U8(static_cast<std::uint8_t>(rgb));        // blue
        w.U8(static_cast<std::uint8_t>(rgb >> 8));   // green
        w.U8(static_cast<std::uint8_t>(rgb >> 16));  // red
        w.U8(0);
    }
}

// 4-bit rows, bottom row first, the left pixel in the high nibble; transparent pixels are 0.
void WriteColorRows(lebytes::Writer& w, const PixelArt& art) {
    const std::uint32_t rowBytes = RowBytes(art.width, 4);
    for (int y = art.height - 1; y >= 0; --y) {
        std::string row(rowBytes, '\0');
        for (int x = 0; x < art.width; ++x) {
            int index = art.pixels[static_cast<std::size_t>(y) * art.width + x];
            if (index < 0) index = 0;
            row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 ? index : index << 4));
        }
        w.Bytes(row);
    }
}

// 1-bit rows, bottom row first: a set bit lets the background show through.
void WriteMaskRows(lebytes::Writer& w, const PixelArt& art) {
    const std::uint32_t rowBytes = RowBytes(art.width, 1);
    for (int y = art.height - 1; y >= 0; --y) {
        std::string row(rowBytes, '\0');
        for (int x = 0; x < art.width; ++x) {
            if (art.pixels[static_cast<std::size_t>(y) * art.width + x] < 0)
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        w.Bytes(row);
    }
}

}  // namespace

const std::array<std::uint32_t, 16>& StandardPalette() {
    static constexpr std::array<std::uint32_t, 16> kPalette = {
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
        0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    return kPalette;
}

std::string BuildBitmapFile(const PixelArt& art) {
    const std::uint32_t imageSize = RowBytes(art.width, 4) * art.height;
    const std::uint32_t dataOffset = 14 + kInfoHeaderSize + kPaletteSize;
    lebytes::Writer w;
    w.Bytes("BM");
    w.U32(dataOffset + imageSize);
    w.U16(0);
    w.U16(0);
    w.U32(dataOffset);
    WriteInfoHeader(w, art.width, art.height, imageSize, 16);
    WritePalette(w);
    WriteColorRows(w, art);
    return std::move(w.str());
}

std::string BuildIconFile(const std::vector<PixelArt>& images) {
    lebytes::Writer w;
    w.U16(0);  // reserved
    w.U16(1);  // an icon (2 would be a cursor)
    w.U16(static_cast<std::uint16_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    std::vector<std::uint32_t> sizes;
    for (const PixelArt& art : images) {
        const std::uint32_t colorBytes = RowBytes(art.width, 4) * art.height;
        const std::uint32_t maskBytes = RowBytes(art.width, 1) * art.height;
        const std::uint32_t size = kInfoHeaderSize + kPaletteSize + colorBytes + maskBytes;
        sizes.push_back(size);
        w.U8(static_cast<std::uint8_t>(art.width >= 256 ? 0 : art.width));
        w.U8(static_cast<std::uint8_t>(art.height >= 256 ? 0 : art.height));
        w.U8(16);  // colours
        w.U8(0);
        w.U16(1);  // planes
        w.U16(4);  // bits per pixel
        w.U32(size);
        w.U32(offset);
        offset += size;
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        const PixelArt& art = images[i];
        const std::uint32_t colorBytes = RowBytes(art.width, 4) * art.height;
        const std::uint32_t maskBytes = RowBytes(art.width, 1) * art.height;
        // The image's height counts the colour rows and the mask rows together.
        WriteInfoHeader(w, art.width, art.height * 2, colorBytes + maskBytes, 0);
        WritePalette(w);
        WriteColorRows(w, art);
        WriteMaskRows(w, art);
    }
    return std::move(w.str());
}

}  // namespace rescomp
