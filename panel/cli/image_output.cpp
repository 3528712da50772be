#include "panel/cli/image_output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/base/shown.h"

namespace panel::cli {
namespace {

// A width past any frame number's digits (seven at most) is a slip, not a wish.
constexpr std::size_t kMaxFrameWidth = 99;

}  // namespace

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

}  // namespace panel::cli
