// An 8-bit grey picture as it is shown (rows top-down, x from the left, y from the top), its
// exact statistics, profiles, and reading it from an 8-bit bitmap file such as "image.bmp".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace panel {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height bytes, the top row first

    std::uint8_t At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

struct PictureStats {
    int width = 0;
    int height = 0;
    std::array<std::uint64_t, 256> histogram{};
    int min = 0;
    int max = 0;
    double mean = 0;    // from the histogram's integer sums
    double stddev = 0;  // of the population, from the histogram's integer sums
    std::uint64_t zeros = 0;
    std::uint64_t saturated = 0;  // pixels at 255
};

// The statistics of `count` pixel bytes making a width x height picture. An empty picture has
// every value 0.
PictureStats ComputeStats(const std::uint8_t* pixels, std::size_t count, int width, int height);
inline PictureStats ComputeStats(const Picture& p) {
    return ComputeStats(p.pixels.data(), p.pixels.size(), p.width, p.height);
}

// The value at (x, y), or an error naming the picture's size when the point is outside it.
base::Result<std::uint8_t> Probe(const Picture& picture, long long x, long long y);

// Row y from left to right, column x from top to bottom; empty when outside the picture.
std::vector<std::uint8_t> RowProfile(const Picture& picture, int y);
std::vector<std::uint8_t> ColumnProfile(const Picture& picture, int x);

// The picture of an uncompressed 8-bit bitmap (rows padded to 4 bytes, bottom-up for a positive
// height, top-down for a negative one); each pixel is its palette index. An error says what is
// wrong with the bytes.
base::Result<Picture> DecodeBitmap(const std::uint8_t* data, std::size_t size);
// The same, from a file; the error names the file.
base::Result<Picture> ReadBitmapPicture(const std::string& path);

// The picture of a frame as read from the port: `FrameHeight` rows of `FrameWidth` bytes, with
// one byte more per stream row dropped when `row_skip` is set (as Capture stores them), the
// first row read shown at the bottom. `stream` holds at least the bytes a geometry reads.
void PictureFromStream(const std::uint8_t* stream, int width, int height, bool row_skip,
                       Picture* out);

// "MEAN" style number with two decimals, as the console prints it.
std::string TwoDecimals(double value);

}  // namespace panel
