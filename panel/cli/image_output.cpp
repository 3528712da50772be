#include "panel/cli/image_output.h"

#include <png.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "panel/image_files.h"
#include "platform/base/shown.h"

namespace panel::cli {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The picture of an image.bmp Capture wrote: width, height and the rows as stored.
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::size_t row_bytes = 0;
    const std::uint8_t* bottom_row = nullptr;
    const std::uint8_t* Row(std::uint32_t y) const {  // y from the top
        return bottom_row + static_cast<std::size_t>(height - 1 - y) * row_bytes;
    }
};

base::Result<Picture> PictureOf(const std::vector<std::uint8_t>& bmp) {
    if (!IsLoadableBitmap(bmp.data(), bmp.size()) || bmp.size() < kBitmapHeaderSize)
        return base::Fail("image.bmp is not an 8-bit bitmap");
    Picture p;
    p.width = GetLe32(bmp.data() + kWidthOffset);
    p.height = GetLe32(bmp.data() + kHeightOffset);
    p.row_bytes = (static_cast<std::size_t>(p.width) + 3) & ~std::size_t{3};
    if (p.width == 0 || p.height == 0 || p.height > (1u << 20) ||
        kBitmapHeaderSize + p.row_bytes * p.height > bmp.size()) {
        return base::Fail("image.bmp does not hold the frame its header names");
    }
    p.bottom_row = bmp.data() + kBitmapHeaderSize;
    return p;
}

// Every output is made in memory first, then written as Capture writes its files: beside the
// target and renamed over it, so that a signal or a full disk keeps the previous file, and a
// name that is no regular file (a FIFO, a device, a link to one) is refused without blocking.
base::Result<> WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const base::Result<> r = WriteWholeFile(path, bytes.data(), bytes.size());
    if (r.ok()) return {};
    return base::Fail("cannot write " + base::Shown(path) + ": " + r.message());
}

std::vector<std::uint8_t> EncodePgm(const Picture& p) {
    char header[64];
    const int n = std::snprintf(header, sizeof header, "P5\n%u %u\n255\n", p.width, p.height);
    std::vector<std::uint8_t> out(header, header + n);
    out.reserve(out.size() + static_cast<std::size_t>(p.width) * p.height);
    for (std::uint32_t y = 0; y < p.height; ++y)
        out.insert(out.end(), p.Row(y), p.Row(y) + p.width);
    return out;
}

struct PngSink {
    std::vector<std::uint8_t> bytes;
    char message[200] = "";
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

void OnPngData(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        sink->bytes.insert(sink->bytes.end(), data, data + size);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored) png_error(png, "not enough memory");  // a long jump: not from a handler
}
void OnPngFlush(png_structp) {}

// `sink` outlives the long jump: nothing with a destructor is made between setjmp and the end.
bool EncodePng(const Picture& p, PngSink* sink) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(sink->message, sizeof sink->message, "not enough memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, OnPngData, OnPngFlush);
    png_set_IHDR(png, info, p.width, p.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < p.height; ++y) png_write_row(png, p.Row(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

base::Result<ImageFormat> FormatOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string ext = Lower(path.substr(dot));
        if (ext == ".bmp") return ImageFormat::kBmp;
        if (ext == ".raw") return ImageFormat::kRaw;
        if (ext == ".png") return ImageFormat::kPng;
        if (ext == ".pgm") return ImageFormat::kPgm;
    }
    return base::Fail(base::Shown(path) + ": the name must end in .bmp, .png, .pgm or .raw");
}

base::Result<std::string> FrameName(const std::string& pattern, int number) {
    std::string out;
    bool numbered = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // %d or %0Nd (N one or two digits), once.
        std::size_t j = i + 1;
        int width = 0;
        if (j < pattern.size() && pattern[j] == '0') {
            ++j;
            const std::size_t digits_start = j;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) &&
                   j - digits_start < 2) {
                width = width * 10 + (pattern[j] - '0');
                ++j;
            }
            if (j == digits_start) width = 0;
        }
        if (numbered || j >= pattern.size() || pattern[j] != 'd') {
            return base::Fail(base::Shown(pattern) + ": only one %d or %0Nd may number the frames");
        }
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*d", width, number);
        out += digits;
        numbered = true;
        i = j;
    }
    if (numbered) return out;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-%04d", number);
    const auto slash = pattern.rfind('/');
    auto dot = pattern.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = out.size();
    return pattern.substr(0, dot) + suffix + pattern.substr(dot);
}

base::Result<> WriteImage(const std::string& path, ImageFormat format,
                          const std::vector<std::uint8_t>& bmp,
                          const std::vector<std::uint8_t>& raw) {
    switch (format) {
        case ImageFormat::kBmp:
            return WriteBytes(path, bmp);
        case ImageFormat::kRaw:
            return WriteBytes(path, raw);
        case ImageFormat::kPng:
        case ImageFormat::kPgm:
            break;
    }
    const auto picture = PictureOf(bmp);
    if (!picture) return picture.error();
    if (format == ImageFormat::kPgm) return WriteBytes(path, EncodePgm(*picture));
    PngSink sink;
    if (!EncodePng(*picture, &sink))
        return base::Fail("cannot write " + base::Shown(path) + ": " + sink.message);
    return WriteBytes(path, sink.bytes);
}

}  // namespace panel::cli
