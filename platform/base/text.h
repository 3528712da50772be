// Small text helpers our parsers and printers share: trimming and hex digits.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

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

// The number of edits (a character inserted, removed or changed, or two neighbours swapped) that
// turn `a` into `b`.
inline std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The name a mistyped `word` most likely meant: the one it begins (when only one does), else the
// nearest within two edits and less than half the word's length; "" when none is that near.
inline std::string_view NearestName(std::string_view word,
                                    const std::vector<std::string_view>& names) {
    if (word.size() > 64) return {};  // a runaway word names nothing
    std::string_view prefixed;
    int prefixes = 0;
    for (std::string_view name : names) {
        if (word.size() >= 2 && name.starts_with(word)) {
            prefixed = name;
            ++prefixes;
        }
    }
    if (prefixes == 1) return prefixed;
    std::string_view best;
    std::size_t best_distance = 3;
    for (std::string_view name : names) {
        const std::size_t d = EditDistance(word, name);
        if (d < best_distance && 2 * d < word.size()) {
            best = name;
            best_distance = d;
        }
    }
    return best;
}

}  // namespace base
