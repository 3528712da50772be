// The built-in header template of "image.bmp": a 1078-byte header of an uncompressed 8-bit
// bitmap with a 256-entry grey palette. The program uses it when "bmphead1" is missing or too
// short, and the build writes the same bytes to build/bin/bmphead1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace panel {

constexpr std::size_t kBitmapHeaderSize = 1078;  // file header 14 + info header 40 + palette 1024
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kImageSizeOffset = 34;

using BitmapHeader = std::array<std::uint8_t, kBitmapHeaderSize>;

constexpr void PutLe32(BitmapHeader& h, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr BitmapHeader MakeDefaultBitmapHeader() {
    BitmapHeader h{};
    // Sized for the full frame (384 x 288); Capture replaces the size fields anyway.
    constexpr std::uint32_t kWidth = 384, kHeight = 288;
    h[0] = 'B';
    h[1] = 'M';
    PutLe32(h, kFileSizeOffset, kBitmapHeaderSize + kWidth * kHeight);
    PutLe32(h, 10, kBitmapHeaderSize);  // pixel data offset
    PutLe32(h, 14, 40);                 // information header size
    PutLe32(h, kWidthOffset, kWidth);
    PutLe32(h, kHeightOffset, kHeight);
    h[26] = 1;  // planes
    h[28] = 8;  // bits per pixel; compression (30) stays 0
    PutLe32(h, kImageSizeOffset, kWidth * kHeight);
    PutLe32(h, 38, 2835);  // 72 dpi in pixels per metre
    PutLe32(h, 42, 2835);
    PutLe32(h, 46, 256);  // colours used
    PutLe32(h, 50, 0);    // all colours important
    for (std::size_t i = 0; i < 256; ++i) {
        const std::size_t at = 54 + 4 * i;
        h[at] = h[at + 1] = h[at + 2] = static_cast<std::uint8_t>(i);  // blue, green, red
        h[at + 3] = 0;
    }
    return h;
}

inline constexpr BitmapHeader kDefaultBitmapHeader = MakeDefaultBitmapHeader();

}  // namespace panel
