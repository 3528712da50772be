// Any text: Parse never crashes, keeps its digits canonical, and agrees with strtod in the C
// locale on every decimal it accepts (its separators, currency and signs set aside); the exact
// integer rounding stays within half of the value.
#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/com/number_text.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    numtext::Number n;
    if (!numtext::Parse(text, &n)) return 0;

    std::int64_t i32 = 0, i16 = 0, u8 = 0;
    const bool fits32 = numtext::ToInteger(n, 32, true, &i32);
    const bool fits16 = numtext::ToInteger(n, 16, true, &i16);
    const bool fitsU8 = numtext::ToInteger(n, 8, false, &u8);
    if (fits16) Check(fits32, "a 16-bit value fits 32 bits");
    if (fitsU8 && n.radix == numtext::Radix::Decimal) Check(fits16 && i16 == u8, "byte widens");
    if (fits32) Check(i32 >= INT32_MIN && i32 <= INT32_MAX, "32-bit range");
    double d = 0;
    const bool real = numtext::ToDouble(n, &d);
    if (fits32) Check(real, "an integer is a real");
    float f = 0;
    numtext::ToFloat(n, &f);

    if (n.radix != numtext::Radix::Decimal) return 0;
    Check(n.digits.empty() || (n.digits.front() != '0' && n.digits.back() != '0'),
          "digits without leading or trailing zeros");
    for (char c : n.digits) Check(c >= '0' && c <= '9', "digits only");
    if (fits32)
        Check(std::fabs(d - static_cast<double>(i32)) <= 0.5 + std::fabs(d) * 1e-15,
              "rounding stays within one half");

    // The same number read by the C library: the span from the first digit or point to the last
    // digit without its thousands separators, negative when a '-' or '(' stands outside it.
    const std::size_t b = text.find_first_of("0123456789.");
    const std::size_t e = text.find_last_of("0123456789");
    Check(b != std::string::npos && e != std::string::npos && b <= e, "a number has digits");
    std::string core;
    for (std::size_t i = b; i <= e; ++i)
        if (text[i] != ',') core += text[i];
    const std::string outside = text.substr(0, b) + text.substr(e + 1);
    const bool negative = outside.find_first_of("-(") != std::string::npos;
    Check(negative == n.negative, "the sign is the marks' around the number");
    char* end = nullptr;
    const double reference = strtod_l(core.c_str(), &end, CLocale());
    Check(end == core.c_str() + core.size(), "strtod reads the whole number");
    if (real)
        Check((negative ? -reference : reference) == d, "correctly rounded like strtod");
    else
        Check(std::isinf(reference), "overflow only where strtod overflows");

    // The canonical form parses back to the same number (exponents far beyond every floating
    // type are clamped, so their exact value is not kept).
    if (n.exponent < -1'000'000'000'000 || n.exponent > 1'000'000'000'000) return 0;
    const std::string canonical = std::string(n.negative ? "-" : "") + "0." +
                                  (n.digits.empty() ? "0" : n.digits) + "e" +
                                  std::to_string(n.exponent);
    numtext::Number again;
    Check(numtext::Parse(canonical, &again), "canonical form parses");
    Check(again.digits == n.digits && again.exponent == n.exponent && again.negative == n.negative,
          "canonical form is stable");
    return 0;
}
