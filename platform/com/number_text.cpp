#include "platform/com/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <system_error>

#include "platform/base/text.h"

namespace numtext {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int DigitValue(char c, int base) {
    int d;
    if (IsDigit(c))
        d = c - '0';
    else if (Lower(c) >= 'a' && Lower(c) <= 'f')
        d = Lower(c) - 'a' + 10;
    else
        return -1;
    return d < base ? d : -1;
}

bool ParseRadix(std::string_view body, int base, Number* out) {
    if (body.empty()) return false;
    std::uint64_t value = 0;
    bool tooLarge = false;
    for (char c : body) {
        const int d = DigitValue(c, base);
        if (d < 0) return false;
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / base) {
            tooLarge = true;
            value = std::numeric_limits<std::uint64_t>::max();
        } else if (!tooLarge) {
            value = value * base + d;
        }
    }
    out->radix = base == 16 ? Radix::Hex : Radix::Octal;
    out->value = value;
    out->tooLarge = tooLarge;
    return true;
}

// Exponents beyond this are far outside every floating type; clamping keeps the sums safe.
constexpr std::int64_t kExponentClamp = 1'000'000'000'000'000;

bool IsWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The decimal's significant digits and scale from the digits before and after the point and the
// exponent's value.
void KeepDecimal(std::string_view intDigits, std::string_view fracDigits, std::int64_t exp10,
                 bool negative, Number* out) {
    // Significant digits: drop the leading zeros (each one moves the point) and trailing zeros.
    std::int64_t exponent = static_cast<std::int64_t>(intDigits.size());
    std::string_view lead = intDigits;
    std::string_view frac = fracDigits;
    while (!lead.empty() && lead.front() == '0') {
        lead.remove_prefix(1);
        --exponent;
    }
    if (lead.empty()) {
        while (!frac.empty() && frac.front() == '0') {
            frac.remove_prefix(1);
            --exponent;
        }
    }
    std::string digits;
    digits.reserve(lead.size() + frac.size());
    digits.append(lead);
    digits.append(frac);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();

    out->radix = Radix::Decimal;
    out->negative = negative;
    out->exponent = digits.empty() ? 0 : exponent + exp10;
    out->digits = std::move(digits);
}

// What stands around the number: signs, parentheses and the currency symbol before it
// (`leading`) and after it.
struct Marks {
    bool leadingPlus = false;
    bool leadingMinus = false;
    bool paren = false;
    bool currency = false;
    bool trailingMinus = false;
};

// Before the number: white space, at most one '+', one '-', one '(' and one '$', in any order.
// Returns where the number begins.
std::size_t ReadLeading(std::string_view t, Marks* m) {
    std::size_t i = 0;
    for (; i < t.size(); ++i) {
        bool* seen = nullptr;
        switch (t[i]) {
            case '+':
                seen = &m->leadingPlus;
                break;
            case '-':
                seen = &m->leadingMinus;
                break;
            case '(':
                seen = &m->paren;
                break;
            case '$':
                seen = &m->currency;
                break;
            default:
                if (IsWhite(t[i])) continue;
                return i;
        }
        if (*seen) return std::string_view::npos;
        *seen = true;
    }
    return i;
}

// After the number: white space, a sign of the kind that did not lead (repeated as the platform
// allows), the ')' that closes a leading '(', and for a decimal the currency symbol and thousands
// separators.
bool ReadTrailing(std::string_view t, bool decimal, Marks* m) {
    bool closed = false;
    for (const char c : t) {
        if (IsWhite(c)) continue;
        if (c == '+' && !m->leadingPlus) continue;
        if (c == '-' && !m->leadingMinus) {
            m->trailingMinus = true;
            continue;
        }
        if (c == ')' && m->paren && !closed) {
            closed = true;
            continue;
        }
        if (decimal && (c == '$' || c == ',')) continue;
        return false;
    }
    return closed == m->paren;
}

// A decimal in its shortest form "0.<digits>e<exponent>" for std::from_chars, which neither
// depends on the locale nor rounds twice.
template <typename Real>
bool DecimalToReal(const Number& n, std::int64_t overflowAbove, std::int64_t zeroBelow, Real* out) {
    const Real zero = n.negative ? -Real(0) : Real(0);
    if (n.digits.empty() || n.exponent < zeroBelow) {
        *out = zero;
        return true;
    }
    if (n.exponent > overflowAbove) return false;

    std::string text;
    std::array<char, 96> local;
    char* begin = local.data();
    const std::size_t needed = n.digits.size() + 32;
    if (needed > local.size()) {
        text.resize(needed);
        begin = text.data();
    }
    char* p = begin;
    *p++ = '0';
    *p++ = '.';
    p = std::copy(n.digits.begin(), n.digits.end(), p);
    *p++ = 'e';
    p = std::to_chars(p, begin + needed, n.exponent).ptr;

    Real value{};
    const auto [end, ec] = std::from_chars(begin, p, value);
    if (ec == std::errc::result_out_of_range) {
        if (n.exponent > 0) return false;
        *out = zero;  // below the smallest subnormal
        return true;
    }
    if (ec != std::errc() || end != p) return false;
    *out = n.negative ? -value : value;
    return true;
}

}  // namespace

bool Parse(std::string_view t, Number* out) {
    Marks m;
    std::size_t i = ReadLeading(t, &m);
    if (i == std::string_view::npos || i == t.size()) return false;

    if (t[i] == '&') {
        // &H or &O and its digits; the signs and parentheses around them are read, but the value
        // is the digits' alone.
        if (m.currency || i + 1 >= t.size()) return false;
        const char kind = Lower(t[i + 1]);
        const int base = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
        if (base == 0) return false;
        std::size_t j = i + 2;
        while (j < t.size() && DigitValue(t[j], base) >= 0) ++j;
        Number n;
        if (!ParseRadix(t.substr(i + 2, j - i - 2), base, &n)) return false;
        if (!ReadTrailing(t.substr(j), false, &m)) return false;
        *out = n;
        return true;
    }

    // Digits with thousands separators anywhere after the first digit or the point, one point,
    // then an exponent (not after a leading currency symbol).
    std::string intDigits, fracDigits;
    bool point = false, any = false;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (IsDigit(c)) {
            (point ? fracDigits : intDigits) += c;
            any = true;
        } else if (c == ',') {
            if (!any && !point) return false;
        } else if (c == '.') {
            if (point) return false;
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    std::int64_t exp10 = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        if (m.currency) return false;
        ++i;
        bool expNegative = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) expNegative = t[i++] == '-';
        const std::size_t expStart = i;
        while (i < t.size() && IsDigit(t[i])) {
            exp10 = std::min(exp10 * 10 + (t[i] - '0'), kExponentClamp);
            ++i;
        }
        if (i == expStart) return false;
        if (expNegative) exp10 = -exp10;
    }
    if (!ReadTrailing(t.substr(i), true, &m)) return false;
    KeepDecimal(intDigits, fracDigits, exp10, m.leadingMinus || m.trailingMinus || m.paren, out);
    return true;
}

bool ToInteger(const Number& n, int bits, bool isSigned, std::int64_t* out) {
    const std::uint64_t span = std::uint64_t{1} << bits;  // 2^bits
    if (n.radix != Radix::Decimal) {
        if (n.tooLarge || n.value > span - 1) return false;
        std::int64_t v = static_cast<std::int64_t>(n.value);
        if (isSigned && n.value >= span / 2) v -= static_cast<std::int64_t>(span);
        *out = v;
        return true;
    }

    std::uint64_t magnitude = 0;
    if (!n.digits.empty() && n.exponent >= 0) {
        // 0.<digits> * 10^exponent with exponent above 19 is at least 10^19: beyond 2^32.
        if (n.exponent > 19) return false;
        const std::size_t e = static_cast<std::size_t>(n.exponent);
        for (std::size_t i = 0; i < e; ++i)
            magnitude = magnitude * 10 + (i < n.digits.size() ? n.digits[i] - '0' : 0);
        if (e < n.digits.size()) {
            const int dropped = n.digits[e] - '0';
            const bool sticky = n.digits.size() > e + 1;  // no trailing zeros are kept
            if (dropped > 5 || (dropped == 5 && (sticky || (magnitude & 1) != 0))) ++magnitude;
        }
    }
    // exponent < 0 means a value below 0.1, which rounds to zero.

    if (isSigned) {
        const std::uint64_t limit = span / 2 - (n.negative ? 0 : 1);
        if (magnitude > limit) return false;
    } else {
        if (n.negative ? magnitude != 0 : magnitude > span - 1) return false;
    }
    *out =
        n.negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool ToDouble(const Number& n, double* out) {
    if (n.radix != Radix::Decimal) {
        std::int64_t v;
        if (!ToInteger(n, 32, true, &v)) return false;
        *out = static_cast<double>(v);
        return true;
    }
    // At 10^309 and above a double overflows; below 10^-326 it is under half the smallest
    // subnormal and rounds to zero. Nearer the edges from_chars decides.
    return DecimalToReal<double>(n, 309, -325, out);
}

bool ToFloat(const Number& n, float* out) {
    if (n.radix != Radix::Decimal) {
        std::int64_t v;
        if (!ToInteger(n, 32, true, &v)) return false;
        *out = static_cast<float>(v);
        return true;
    }
    return DecimalToReal<float>(n, 40, -46, out);
}

bool ParseBooleanWord(std::string_view text, bool* value) {
    const std::string_view t = base::Trim(text);
    auto equalsWord = [t](std::string_view word) {
        if (t.size() != word.size()) return false;
        for (std::size_t i = 0; i < t.size(); ++i)
            if (Lower(t[i]) != word[i]) return false;
        return true;
    };
    if (equalsWord("true")) {
        *value = true;
        return true;
    }
    if (equalsWord("false")) {
        *value = false;
        return true;
    }
    return false;
}

}  // namespace numtext
