// The Automation number syntax of strings converted to numbers, as the platform's number parsing
// reads them with its standard flags in the US English locale (0x0409), kept apart from the
// variant code so that it can be fuzzed and tested on its own:
//
//   leading  number  trailing
//   leading:  white space, and at most one each of '+', '-', '(' and '$', in any order
//   number:   digits with ',' anywhere after the first digit or the point, at most one '.',
//             then (not after a leading '$') (e|E) [+|-] digits;   ".5" and "5." included
//             or  &H hexdigits  |  &O octaldigits
//   trailing: white space, '+' unless one led, '-' unless one led (either repeated), the ')' of a
//             leading '(', and after a decimal '$' and ','
//
// A '-' or parentheses make a decimal negative ("(5)", "5-", "  -  5" are -5; "$1,000.50" is
// 1000.5); signs around &H and &O are read but leave the value as its digits give it. White space
// is the blank and '\t' to '\r'. The decimal point is always '.', whatever the user's locale.
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
