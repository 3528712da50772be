#include "generators/rescomp/rescomp.h"

namespace rescomp {

base::Result<std::string> ReadQuotedString(const std::string& s, std::size_t* i) {
    std::size_t at = *i + 1;  // past the opening quote
    std::string out;
    for (;;) {
        if (at >= s.size() || s[at] == '\n') {
            return base::Fail("unterminated string");
        }
        if (s[at] == '"') break;
        if (s[at] == '\\' && at + 1 < s.size()) {
            const char e = s[at + 1];
            if (e == 'n') {
                out += '\n';
            } else if (e == '"' || e == '\\') {
                out += e;
            } else {
                return base::Fail(std::string("unknown escape \\") + e);
            }
            at += 2;
        } else {
            out += s[at++];
        }
    }
    *i = at + 1;
    return out;
}

std::optional<long long> ParseInteger(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    int base = 10;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFLL) return std::nullopt;
    }
    return negative ? -v : v;
}

}  // namespace rescomp
