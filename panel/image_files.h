// The image files of a capture: "image.raw" (the bytes as read), the header template
// "bmphead1" and the 8-bit bitmap "image.bmp", all in the current directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panel/bitmap_template.h"
#include "platform/base/result.h"

namespace panel {

inline constexpr char kRawFile[] = "image.raw";
inline constexpr char kTemplateFile[] = "bmphead1";
inline constexpr char kBitmapFile[] = "image.bmp";
// The title of the file messages.
inline constexpr char kLensbayTitle[] = "Lensbay";

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

// Little-endian 32-bit fields of a buffer.
void PutLe32(std::uint8_t* at, std::uint32_t v);
std::uint32_t GetLe32(const std::uint8_t* at);

// The file operations below fail with the step that failed as the error's code and the
// strerror text of the call that failed as its message; a name that is no regular file gives
// kFileOpen and what it is ("it is a FIFO, not a regular file").
enum FileStep : long { kFileMissing = 1, kFileOpen, kFileRead, kFileWrite, kFileTooLarge };

// Replaces the file whole (a temporary file beside it, flushed and renamed over it; a symbolic
// link's target is replaced): on any failure the previous file stays as it was. kFileOpen when the
// name is not a regular file, is a file the user may not write, or no file can be made beside
// it; kFileWrite when writing fails.
base::Result<> WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);
// Reads never block and refuse anything but a regular file (kFileOpen).
// Reads up to `max` bytes from the start of the file into buffer; *got is how many. kFileMissing
// when the file does not exist.
base::Result<> ReadFileStart(const std::string& path, std::uint8_t* buffer, std::size_t max,
                             std::size_t* got);
// Reads the whole file. A file of more than `max` bytes is refused before anything is read
// (kFileTooLarge, its size as the message: "3221225472 bytes").
base::Result<> ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out,
                             std::size_t max = ~std::size_t{0});
// Writes 32-bit little-endian values at offsets of an existing file, leaving the rest as it is.
struct Le32Field {
    std::size_t offset;
    std::uint32_t value;
};
base::Result<> WriteFields(const std::string& path, const std::vector<Le32Field>& fields);

// Whether the bytes form an uncompressed bitmap a picture loader can show: "BM", a 40-byte or
// larger information header (or the 12-byte core header), planes 1, 1/4/8/16/24/32 bits per
// pixel, no compression (or bit fields for 16/32), a non-zero size, the palette and pixel rows
// within the file.
bool IsLoadableBitmap(const std::uint8_t* data, std::size_t size);

}  // namespace panel
