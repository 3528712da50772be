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

bool ParseDecimal(std::string_view t, Number* out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    const std::size_t intStart = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    const std::string_view intDigits = t.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < t.size() && t[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < t.size() && IsDigit(t[i])) ++i;
        fracDigits = t.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty()) return false;

    std::int64_t exp10 = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
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
    if (i != t.size()) return false;

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
    return true;
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

bool Parse(std::string_view text, Number* out) {
    const std::string_view t = base::Trim(text);
    if (t.size() >= 2 && t[0] == '&') {
        const char kind = Lower(t[1]);
        if (kind == 'h') return ParseRadix(t.substr(2), 16, out);
        if (kind == 'o') return ParseRadix(t.substr(2), 8, out);
        return false;
    }
    return ParseDecimal(t, out);
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
