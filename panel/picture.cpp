#include "panel/picture.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "panel/bitmap_file.h"
#include "panel/file_io.h"
#include "panel/frame_layout.h"
#include "platform/base/little_endian.h"
#include "platform/base/shown.h"

namespace panel {
namespace {}  // namespace

PictureStats ComputeStats(const std::uint8_t* pixels, std::size_t count, int width, int height) {
    PictureStats s;
    s.width = width;
    s.height = height;
    for (std::size_t i = 0; i < count; ++i) ++s.histogram[pixels[i]];
    if (count == 0) return s;
    // Exact integer sums; 128 bits hold n * sum of squares for any picture that fits in memory.
    unsigned __int128 sum = 0, squares = 0;
    bool seen = false;
    for (int v = 0; v < 256; ++v) {
        const std::uint64_t n = s.histogram[static_cast<std::size_t>(v)];
        if (n == 0) continue;
        if (!seen) s.min = v;
        seen = true;
        s.max = v;
        sum += static_cast<unsigned __int128>(n) * static_cast<unsigned>(v);
        squares += static_cast<unsigned __int128>(n) * static_cast<unsigned>(v * v);
    }
    const auto n = static_cast<unsigned __int128>(count);
    s.mean = static_cast<double>(sum) / static_cast<double>(count);
    // Variance = (n * sum(v^2) - sum(v)^2) / n^2, with the numerator in integers (never negative).
    const unsigned __int128 numerator = n * squares - sum * sum;
    const double variance =
        static_cast<double>(numerator) / (static_cast<double>(count) * static_cast<double>(count));
    s.stddev = std::sqrt(variance);
    s.zeros = s.histogram[0];
    s.saturated = s.histogram[255];
    return s;
}

base::Result<std::uint8_t> Probe(const Picture& picture, long long x, long long y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) {
        return base::Fail("(" + std::to_string(x) + ", " + std::to_string(y) +
                          ") is outside the picture of " + std::to_string(picture.width) + " x " +
                          std::to_string(picture.height) + " pixels");
    }
    return picture.At(static_cast<int>(x), static_cast<int>(y));
}

std::vector<std::uint8_t> RowProfile(const Picture& picture, int y) {
    std::vector<std::uint8_t> out;
    if (y < 0 || y >= picture.height) return out;
    out.reserve(static_cast<std::size_t>(picture.width));
    for (int x = 0; x < picture.width; ++x) out.push_back(picture.At(x, y));
    return out;
}

std::vector<std::uint8_t> ColumnProfile(const Picture& picture, int x) {
    std::vector<std::uint8_t> out;
    if (x < 0 || x >= picture.width) return out;
    out.reserve(static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) out.push_back(picture.At(x, y));
    return out;
}

base::Result<Picture> DecodeBitmap(const std::uint8_t* data, std::size_t size) {
    if (size < kFileHeaderSize + kInfoHeaderSize) {
        return base::Fail("too short for a bitmap (" + std::to_string(size) + " bytes)");
    }
    if (data[kSignatureOffset] != 'B' || data[kSignatureOffset + 1] != 'M')
        return base::Fail("not a bitmap (no BM signature)");
    const std::uint32_t offset = base::GetLe32(data + kPixelDataOffset);
    const std::uint32_t info_size = base::GetLe32(data + kInfoSizeOffset);
    if (info_size < kInfoHeaderSize) return base::Fail("unsupported bitmap header");
    const auto width = static_cast<std::int32_t>(base::GetLe32(data + kWidthOffset));
    const auto height = static_cast<std::int32_t>(base::GetLe32(data + kHeightOffset));
    const std::uint32_t planes = base::GetLe16(data + kPlanesOffset);
    const std::uint32_t bits = base::GetLe16(data + kBitCountOffset);
    const std::uint32_t compression = base::GetLe32(data + kCompressionOffset);
    if (planes != 1 || bits != 8 || compression != 0) {
        return base::Fail("not an uncompressed 8-bit bitmap (" + std::to_string(bits) +
                          " bits per pixel, compression " + std::to_string(compression) + ")");
    }
    if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) {
        return base::Fail("bad picture size " + std::to_string(width) + " x " +
                          std::to_string(height));
    }
    const std::uint64_t rows =
        static_cast<std::uint64_t>(height < 0 ? -std::int64_t{height} : std::int64_t{height});
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
    const std::uint64_t need = stride * (rows - 1) + static_cast<std::uint64_t>(width);
    if (offset > size || need > size - offset) {
        return base::Fail("the pixel rows of " + std::to_string(width) + " x " +
                          std::to_string(rows) + " pixels run past the end of the file (" +
                          std::to_string(size) + " bytes)");
    }
    Picture p;
    p.width = width;
    p.height = static_cast<int>(rows);
    p.pixels.resize(static_cast<std::size_t>(width) * rows);
    for (std::uint64_t r = 0; r < rows; ++r) {
        // A positive height stores the bottom row first.
        const std::uint64_t shown = height > 0 ? rows - 1 - r : r;
        std::memcpy(p.pixels.data() + shown * static_cast<std::uint64_t>(width),
                    data + offset + r * stride, static_cast<std::size_t>(width));
    }
    return p;
}

base::Result<Picture> ReadBitmapPicture(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const base::Result<> r = ReadWholeFile(path, &bytes);
    if (!r.ok() && r.error().Is(base::FileStep::kMissing)) {
        return r.error().Reworded(base::Shown(path) + " does not exist");
    }
    if (!r.ok()) return base::Fail("can't read " + base::Shown(path) + ": " + r.message());
    base::Result<Picture> p = DecodeBitmap(bytes.data(), bytes.size());
    if (!p.ok()) return base::Fail(base::Shown(path) + " is unusable: " + p.message());
    return p;
}

void PictureFromStream(const std::uint8_t* stream, int width, int height, bool row_skip,
                       Picture* out) {
    FrameGeometry g;
    g.FrameWidth = width;
    g.FrameHeight = height;
    g.RowSkip = row_skip;
    const FrameStreamLayout layout = StreamLayoutOf(g);
    out->width = width;
    out->height = height;
    out->pixels.resize(layout.width * static_cast<std::size_t>(layout.rows));
    for (int r = 0; r < layout.rows; ++r) {
        std::memcpy(
            out->pixels.data() + static_cast<std::size_t>(layout.PictureRow(r)) * layout.width,
            stream + layout.RowOffset(r), layout.width);
    }
}

std::string TwoDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace panel
