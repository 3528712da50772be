// The bitmap file: where its fields sit (the 14-byte file header, then the information header of
// 40 bytes, or longer in its later forms, or 12 in the old core form, then the palette and the
// pixel rows; every field little-endian, platform/base/little_endian.h), and whether bytes make a
// bitmap a picture loader can show. The readers of bitmaps and the writer of "image.bmp" name
// their fields from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace panel {

// The file header.
inline constexpr std::size_t kSignatureOffset = 0;   // "BM"
inline constexpr std::size_t kFileSizeOffset = 2;    // 32 bits: the whole file
inline constexpr std::size_t kPixelDataOffset = 10;  // 32 bits: where the pixel rows start
inline constexpr std::size_t kFileHeaderSize = 14;

// The information header, after the file header.
inline constexpr std::size_t kInfoSizeOffset = 14;  // 32 bits: the information header's size
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kWidthOffset = 18;             // 32 bits, signed
inline constexpr std::size_t kHeightOffset = 22;            // 32 bits, signed: < 0 is top-down
inline constexpr std::size_t kPlanesOffset = 26;            // 16 bits
inline constexpr std::size_t kBitCountOffset = 28;          // 16 bits: bits per pixel
inline constexpr std::size_t kCompressionOffset = 30;       // 32 bits: 0 none, 3 bit fields
inline constexpr std::size_t kImageSizeOffset = 34;         // 32 bits: the pixel rows' bytes
inline constexpr std::size_t kXResolutionOffset = 38;       // 32 bits: pixels per metre
inline constexpr std::size_t kYResolutionOffset = 42;       // 32 bits
inline constexpr std::size_t kColoursUsedOffset = 46;       // 32 bits: 0 is all
inline constexpr std::size_t kColoursImportantOffset = 50;  // 32 bits: 0 is all
inline constexpr std::size_t kPaletteOffset = kFileHeaderSize + kInfoHeaderSize;  // 4 bytes each

// The old core header (12 bytes) in its place: 16-bit fields and 3-byte palette entries.
inline constexpr std::size_t kCoreInfoHeaderSize = 12;
inline constexpr std::size_t kCoreWidthOffset = 18;     // 16 bits
inline constexpr std::size_t kCoreHeightOffset = 20;    // 16 bits, signed
inline constexpr std::size_t kCorePlanesOffset = 22;    // 16 bits
inline constexpr std::size_t kCoreBitCountOffset = 24;  // 16 bits

// Whether the bytes form an uncompressed bitmap a picture loader can show: "BM", a 40-byte or
// larger information header (or the 12-byte core header), planes 1, 1/4/8/16/24/32 bits per
// pixel, no compression (or bit fields for 16/32), a non-zero size, the palette and pixel rows
// within the file.
bool IsLoadableBitmap(const std::uint8_t* data, std::size_t size);

}  // namespace panel
