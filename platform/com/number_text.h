// The Automation number syntax of strings converted to numbers, kept apart from the variant code
// so that it can be fuzzed and tested on its own.
//
//   [spaces] [+|-] digits [. digits] [(e|E) [+|-] digits] [spaces]   (".5" and "5." included)
//   [spaces] &H hexdigits [spaces]  |  [spaces] &O octaldigits [spaces]
//
// Spaces are blanks and tabs. The decimal point is always '.', whatever the user's locale; there
// are no thousands separators and no currency symbols.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace numtext {

enum class Radix { Decimal, Hex, Octal };

struct Number {
    Radix radix = Radix::Decimal;
    // Decimal: the value is (negative ? -1 : 1) * 0.<digits> * 10^exponent, where digits holds
    // the significant digits without leading or trailing zeros; empty digits mean zero.
    bool negative = false;
    std::string digits;
    std::int64_t exponent = 0;
    // Hex and octal: the unsigned value; saturates at UINT64_MAX (tooLarge tells it did).
    std::uint64_t value = 0;
    bool tooLarge = false;
};

// Parses the whole text; false when it is not a number (the empty text included).
bool Parse(std::string_view text, Number* out);

// The number as an integer of `bits` bits (8, 16 or 32), signed or not. A decimal rounds to
// nearest on its exact digits, halves to even, and must fit. A hex or octal value up to
// 2^bits - 1 fits; for a signed type it wraps into two's complement. False means overflow.
bool ToInteger(const Number& n, int bits, bool isSigned, std::int64_t* out);

// The number as a double or a float, correctly rounded from its decimal digits; a value too
// small for the type becomes zero. A hex or octal value is taken as a 32-bit signed integer would
// take it. False means overflow.
bool ToDouble(const Number& n, double* out);
bool ToFloat(const Number& n, float* out);

// "True" or "False" in any letter case, with surrounding spaces; false for anything else.
bool ParseBooleanWord(std::string_view text, bool* value);

}  // namespace numtext
