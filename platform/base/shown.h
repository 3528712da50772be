// Text from outside (a path, an argument) quoted back in a message: control characters escaped so
// that no name can drive the user's terminal, and a runaway one cut with a note of its length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// The length of the well-formed UTF-8 character that starts `text` at `i` (2 to 4 bytes; no
// overlong forms, surrogates or code points past U+10FFFF), or 0 when the byte there starts none.
inline std::size_t Utf8CharLength(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = at(0);
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size() || at(1) < low || at(1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(k) < 0x80 || at(k) > 0xBF) return 0;
    return n;
}

// Backslash, tab, newline and CR as \\, \t, \n and \r, every other control character (C0, DEL,
// and the C1 range as UTF-8 encodes it) and every byte that is not part of well-formed UTF-8 as
// \xNN; everything else as it is.
inline std::string EscapeText(std::string_view text) {
    static const char kDigits[] = "0123456789abcdef";
    auto hex = [](std::string* out, unsigned char byte) {
        *out += "\\x";
        *out += kDigits[byte >> 4];
        *out += kDigits[byte & 0xF];
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7F) {
                    hex(&out, byte);
                } else if (byte < 0x80) {
                    out += c;
                } else if (const std::size_t n = Utf8CharLength(text, i); n == 0) {
                    hex(&out, byte);  // not UTF-8: the byte alone
                } else if (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
                    hex(&out, byte);  // a C1 control
                    hex(&out, static_cast<unsigned char>(text[++i]));
                } else {
                    out.append(text.substr(i, n));
                    i += n - 1;
                }
            }
        }
    }
    return out;
}

// How many bytes of a name a message shows before cutting it.
inline constexpr std::size_t kShownLimit = 200;

// The name in double quotes, escaped; past kShownLimit bytes (cut at a character boundary) a
// note of its whole length follows the quote.
inline std::string Shown(std::string_view name) {
    if (name.size() <= kShownLimit) return "\"" + EscapeText(name) + "\"";
    std::size_t cut = kShownLimit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + EscapeText(name.substr(0, cut)) + "\"... (cut; " + std::to_string(name.size()) +
           " bytes in all)";
}

}  // namespace base
