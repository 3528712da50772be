// The built-in header template of "image.bmp": a 1078-byte header of an uncompressed 8-bit
// bitmap with a 256-entry grey palette. The program uses it when "bmphead1" is missing or too
// short, and the build writes the same bytes to build/bin/bmphead1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "panel/bitmap_file.h"
#include "platform/base/little_endian.h"

namespace panel {

constexpr std::size_t kBitmapHeaderSize = 1078;  // file header 14 + info header 40 + palette 1024

using BitmapHeader = std::array<std::uint8_t, kBitmapHeaderSize>;

constexpr BitmapHeader MakeDefaultBitmapHeader() {
    BitmapHeader h{};
    // Sized for the full frame (384 x 288); Capture replaces the size fields anyway.
    constexpr std::uint32_t kWidth = 384, kHeight = 288;
    h[kSignatureOffset] = 'B';
    h[kSignatureOffset + 1] = 'M';
    std::uint8_t* at = h.data();
    base::PutLe32(at + kFileSizeOffset, kBitmapHeaderSize + kWidth * kHeight);
    base::PutLe32(at + kPixelDataOffset, kBitmapHeaderSize);
    base::PutLe32(at + kInfoSizeOffset, kInfoHeaderSize);
    base::PutLe32(at + kWidthOffset, kWidth);
    base::PutLe32(at + kHeightOffset, kHeight);
    base::PutLe16(at + kPlanesOffset, 1);
    base::PutLe16(at + kBitCountOffset, 8);  // compression stays 0
    base::PutLe32(at + kImageSizeOffset, kWidth * kHeight);
    base::PutLe32(at + kXResolutionOffset, 2835);  // 72 dpi in pixels per metre
    base::PutLe32(at + kYResolutionOffset, 2835);
    base::PutLe32(at + kColoursUsedOffset, 256);
    base::PutLe32(at + kColoursImportantOffset, 0);  // all of them
    for (std::size_t i = 0; i < 256; ++i) {
        const std::size_t entry = kPaletteOffset + 4 * i;
        h[entry] = h[entry + 1] = h[entry + 2] = static_cast<std::uint8_t>(i);  // blue, green, red
        h[entry + 3] = 0;
    }
    return h;
}

inline constexpr BitmapHeader kDefaultBitmapHeader = MakeDefaultBitmapHeader();

}  // namespace panel
