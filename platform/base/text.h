// Small text helpers our parsers and printers share: trimming and hex digits.
#pragma once

#include <string>
#include <string_view>

namespace base {

// Blanks as the text formats we read mean them: spaces and tabs.
inline constexpr std::string_view kBlanks = " \t";

// `s` without leading and trailing characters of `blanks`.
inline std::string_view Trim(std::string_view s, std::string_view blanks = kBlanks) {
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// The value of a hex digit in either case, or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends `bytes` as lower-case hex pairs, `separator` between two of them ("" for none).
inline void AppendHexBytes(std::string* out, std::string_view bytes,
                           std::string_view separator = "") {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out->append(separator);
        const auto b = static_cast<unsigned char>(bytes[i]);
        out->push_back(kDigits[b >> 4]);
        out->push_back(kDigits[b & 0xF]);
    }
}

}  // namespace base
