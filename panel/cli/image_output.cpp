#include "panel/cli/image_output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "panel/image_files.h"
#include "panel/picture.h"
#include "platform/base/shown.h"

namespace panel::cli {
namespace {

// A width past any frame number's digits (seven at most) is a slip, not a wish.
constexpr std::size_t kMaxFrameWidth = 99;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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
    const int n = std::snprintf(header, sizeof header, "P5\n%d %d\n255\n", p.width, p.height);
    std::vector<std::uint8_t> out(header, header + n);
    out.insert(out.end(), p.pixels.begin(), p.pixels.end());  // rows top-down, as shown
    return out;
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
        // %d or %0Nd, once. The number is written whole whatever the width asks.
        std::size_t j = i + 1;
        std::size_t width = 0;
        if (j < pattern.size() && pattern[j] == '0') {
            ++j;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
                width = std::min<std::size_t>(
                    width * 10 + static_cast<std::size_t>(pattern[j] - '0'), kMaxFrameWidth + 1);
                ++j;
            }
        }
        if (numbered || j >= pattern.size() || pattern[j] != 'd') {
            return base::Fail(base::Shown(pattern) + ": only one %d or %0Nd may number the frames");
        }
        if (width > kMaxFrameWidth) {
            return base::Fail(base::Shown(pattern) + ": a frame number's width is at most " +
                              std::to_string(kMaxFrameWidth) + " digits");
        }
        const std::string digits = std::to_string(number);
        if (digits.size() < width) out.append(width - digits.size(), '0');
        out += digits;
        numbered = true;
        i = j;
    }
    if (numbered) return out;
    // Without a number in the name, "-0001" goes before the extension of the name as written
    // ("%%" already made "%").
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%04d", number);
    const auto slash = out.rfind('/');
    auto dot = out.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = out.size();
    return out.substr(0, dot) + suffix + out.substr(dot);
}

base::Result<> WriteImage(const std::string& path, ImageFormat format,
                          const std::vector<std::uint8_t>& bmp,
                          const std::vector<std::uint8_t>& raw, PngEncoder* png) {
    switch (format) {
        case ImageFormat::kBmp:
            return WriteBytes(path, bmp);
        case ImageFormat::kRaw:
            return WriteBytes(path, raw);
        case ImageFormat::kPng:
        case ImageFormat::kPgm:
            break;
    }
    const base::Result<Picture> picture = DecodeBitmap(bmp.data(), bmp.size());
    if (!picture) return base::Fail("image.bmp: " + picture.message());
    if (format == ImageFormat::kPgm) return WriteBytes(path, EncodePgm(*picture));
    if (png == nullptr)
        return base::Fail(base::Shown(path) +
                          ": this build of lensbay writes no PNG (it has no Qt)");
    base::Result<std::vector<std::uint8_t>> encoded = png->EncodePng(*picture);
    if (!encoded) return base::Fail("cannot write " + base::Shown(path) + ": " + encoded.message());
    return WriteBytes(path, *encoded);
}

}  // namespace panel::cli
