// Where a frame's bytes go: the frame a capture reads (from the four window fields), how the video
// port sends it, and where its bytes land in "image.bmp".
#pragma once

#include <cstddef>
#include <cstdint>

namespace panel {

// The frame a capture reads, from the four window fields.
struct FrameGeometry {
    std::int32_t FrameWidth = 0;   // pixels (bytes) per bitmap row
    std::int32_t FrameHeight = 0;  // bitmap rows
    bool RowSkip = false;          // each row of the stream carries one byte more, dropped
    std::int64_t ByteCount = 0;    // bytes read: (FrameWidth + 1) * FrameHeight
};

// How the video port sends a frame: FrameHeight rows of FrameWidth pixel bytes, the picture's
// bottom row first. Each row is followed by one more byte: with RowSkip it is read as part of the
// row and dropped; without it those FrameHeight bytes come after the last row (ByteCount is
// (FrameWidth + 1) * FrameHeight either way).
struct FrameStreamLayout {
    std::size_t width = 0;     // pixel bytes of a row
    std::size_t row_step = 0;  // stream bytes from one row's first pixel to the next one's
    int rows = 0;
    std::size_t tail = 0;  // bytes after the last row that belong to no row

    // The picture row (0 at the top) that stream row `r` holds.
    int PictureRow(int r) const { return rows - 1 - r; }
    std::size_t RowOffset(int r) const { return static_cast<std::size_t>(r) * row_step; }
};
FrameStreamLayout StreamLayoutOf(const FrameGeometry& g);

// Where the bytes of "image.bmp" go for a geometry. Rows are padded to a multiple of 4 bytes, as
// bitmap readers expect; whole blocks (multiples of 24) need no padding, and then the file is
// 1078 + ByteCount + 1 bytes: header, FrameWidth * FrameHeight pixels, FrameHeight + 1 tail bytes.
struct BitmapLayout {
    std::size_t row_bytes = 0;   // a stored row with its padding
    std::size_t pixel_area = 0;  // row_bytes * FrameHeight (the header's image size)
    std::size_t file_size = 0;   // 1078 + pixel_area + FrameHeight + 1
};
BitmapLayout LayoutFor(const FrameGeometry& g);

// Copies the pixel rows from the stream into the bitmap buffer at offset 1078: with RowSkip the
// last byte of each stream row is dropped; padding bytes are 0. The first row read is the first
// stored (the bottom row of the picture).
void FillPixelArea(const FrameGeometry& g, const BitmapLayout& layout, const std::uint8_t* raw,
                   std::uint8_t* bitmap);

}  // namespace panel
