#include "panel/bitmap_file.h"

#include "platform/base/little_endian.h"

namespace panel {

bool IsLoadableBitmap(const std::uint8_t* data, std::size_t size) {
    if (size < kInfoSizeOffset + kCoreInfoHeaderSize || data[kSignatureOffset] != 'B' ||
        data[kSignatureOffset + 1] != 'M')
        return false;
    const std::uint64_t offset = base::GetLe32(data + kPixelDataOffset);
    const std::uint64_t header = base::GetLe32(data + kInfoSizeOffset);
    std::int64_t width = 0, height = 0;
    unsigned planes = 0, bpp = 0, entry = 4;
    std::uint32_t compression = 0, colours = 0;
    if (header == kCoreInfoHeaderSize) {
        width = base::GetLe16(data + kCoreWidthOffset);
        height = static_cast<std::int16_t>(base::GetLe16(data + kCoreHeightOffset));
        planes = base::GetLe16(data + kCorePlanesOffset);
        bpp = base::GetLe16(data + kCoreBitCountOffset);
        entry = 3;
    } else if (header >= kInfoHeaderSize && header <= 124 &&
               size >= kFileHeaderSize + kInfoHeaderSize) {
        width = static_cast<std::int32_t>(base::GetLe32(data + kWidthOffset));
        height = static_cast<std::int32_t>(base::GetLe32(data + kHeightOffset));
        planes = base::GetLe16(data + kPlanesOffset);
        bpp = base::GetLe16(data + kBitCountOffset);
        compression = base::GetLe32(data + kCompressionOffset);
        colours = base::GetLe32(data + kColoursUsedOffset);
    } else {
        return false;
    }
    if (width <= 0 || height == 0 || planes != 1) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (compression != 0 && !(compression == 3 && (bpp == 16 || bpp == 32))) return false;
    std::uint64_t palette = 0;
    if (bpp <= 8) {
        const std::uint64_t max_colours = 1u << bpp;
        if (colours > max_colours) return false;
        palette = (colours ? colours : max_colours) * entry;
    }
    if (kFileHeaderSize + header + palette > offset || offset > size) return false;
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t row_bytes = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
    return row_bytes * rows <= size - offset;
}

}  // namespace panel
