// The number syntax on its own: what is a number, how its digits are kept, and exact rounding.
#include "platform/com/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using numtext::Number;
using numtext::Radix;

Number MustParse(const std::string& text) {
    Number n;
    EXPECT_TRUE(numtext::Parse(text, &n)) << '"' << text << '"';
    return n;
}

TEST(NumberTextSyntax, AcceptsTheAutomationForms) {
    for (const char* text : {"0",
                             "888",
                             "+5",
                             "-5",
                             " 12 ",
                             "\t12\t",
                             " \t-3.25 \t",
                             ".5",
                             "5.",
                             "-.5",
                             "+5.",
                             "1e2",
                             "1E2",
                             "1.5E-3",
                             "1e+2",
                             "00012",
                             "0.000",
                             "&H0",
                             "&HFF",
                             "&hff",
                             "&hFf",
                             "&O17",
                             "&o777",
                             " &H10 ",
                             "\n5\n",
                             "&H0000000000000000000000001",
                             "1e999999999999999999999"})
        MustParse(text);
}

TEST(NumberTextSyntax, RefusesEverythingElse) {
    for (const char* text :
         {"",      " ",    "\t",        ".",     "+",     "-",     "e5",       ".e5",
          "1e",    "1e+",  "1E-",       "2d1",   ",5",    "1 000", "$",        "()",
          "1.2.3", "--1",  "++1",       "-1-",   "+1+",   "0x10",  "&H",       "&O",
          "&",     "&HG",  "&O8",       "&B101", "$&H10", "&H 10", "12abc",    "1e2.5",
          "((5))", "(5",   "5)",        "-(5)-", "$$5",   "$,5",   "-,5",      "$5e3",
          "5 e3",  "5e 3", "5-e3",      "5 5",   "5. 5",  "(5)(",  "&H10$",    "&H10,",
          "5e3)",  "5..5", "1\xC2\xA0", "True",  "inf",   "nan",   "Infinity", "\xEF\xBC\x91"}) {
        Number n;
        EXPECT_FALSE(numtext::Parse(text, &n)) << '"' << text << '"';
    }
}

// The forms the platform's number parsing takes with its standard flags in locale 0x0409 beyond
// the plain ones: thousands separators, the currency symbol, parentheses for minus, trailing signs
// and white space between sign and digits; each with the value the platform gives it.
TEST(NumberTextSyntax, ReadsSeparatorsCurrencyParenthesesAndTrailingSigns) {
    struct Case {
        const char* text;
        long long value;  // as a 32-bit integer, rounded half to even
    };
    for (const Case& c : {Case{"1,000", 1000},     Case{"1,000,000", 1000000},
                          Case{"1,00", 100},       Case{"1,", 1},
                          Case{"1,,0", 10},        Case{"1,000.5", 1000},
                          Case{"$5", 5},           Case{"$ 5", 5},
                          Case{"5$", 5},           Case{"-$5", -5},
                          Case{"$-5", -5},         Case{"($5)", -5},
                          Case{"(5)", -5},         Case{"( 5 )", -5},
                          Case{"(-5)", -5},        Case{"-(5)", -5},
                          Case{"(+5)", -5},        Case{"5-", -5},
                          Case{"5 -", -5},         Case{"5+", 5},
                          Case{"+5-", -5},         Case{"-5+", -5},
                          Case{"5--", -5},         Case{"5++", 5},
                          Case{"5-+", -5},         Case{"+-5", -5},
                          Case{" -  5", -5},       Case{"  -  5  ", -5},
                          Case{"\v5\f\r\n", 5},    Case{"(5)-", -5},
                          Case{"(5-)", -5},        Case{"5$-$", -5},
                          Case{"$5$", 5},          Case{"$.5", 0},
                          Case{".,5", 0},          Case{"5.,5", 6},
                          Case{"1,5e1", 150},      Case{"5e3,", 5000},
                          Case{"5e3$", 5000},      Case{"(5e3)", -5000},
                          Case{"5e3-", -5000},     Case{"1,000 ,", 1000},
                          Case{"$1,000.50", 1000}, Case{"($1,000)", -1000},
                          Case{"1,000-", -1000},   Case{"2.5-", -2},
                          Case{"1.5-", -2},        Case{"(32768)", -32768},
                          Case{"-&H10", 16},       Case{"&H10-", 16},
                          Case{"(&H10)", 16},      Case{"&HFFFFFFFF-", -1}}) {
        const Number n = MustParse(c.text);
        std::int64_t v = 0;
        EXPECT_TRUE(numtext::ToInteger(n, 32, true, &v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(NumberTextSyntax, KeepsSignificantDigitsAndTheirScale) {
    struct Case {
        const char* text;
        const char* digits;
        long long exponent;
        bool negative;
    };
    for (const Case& c :
         {Case{"888", "888", 3, false}, Case{"-0012.3400", "1234", 2, true},
          Case{"0.0005", "5", -3, false}, Case{".5", "5", 0, false}, Case{"5.", "5", 1, false},
          Case{"1200", "12", 4, false}, Case{"1.5E-3", "15", -2, false}, Case{"000", "", 0, false},
          Case{"-0.0e7", "", 0, true}, Case{"12.5e1", "125", 3, false}}) {
        const Number n = MustParse(c.text);
        EXPECT_EQ(n.radix, Radix::Decimal) << c.text;
        EXPECT_EQ(n.digits, c.digits) << c.text;
        EXPECT_EQ(n.exponent, c.exponent) << c.text;
        EXPECT_EQ(n.negative, c.negative) << c.text;
    }
}

TEST(NumberTextSyntax, HexAndOctalValuesSaturateWhenTooLong) {
    EXPECT_EQ(MustParse("&HFFFFFFFFFFFFFFFF").value, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_FALSE(MustParse("&HFFFFFFFFFFFFFFFF").tooLarge);
    EXPECT_TRUE(MustParse("&H10000000000000000").tooLarge);
    EXPECT_EQ(MustParse("&O777").value, 0777u);
    EXPECT_EQ(MustParse("&O777").radix, Radix::Octal);
}

std::int64_t RoundTo(const std::string& text, int bits, bool isSigned, bool* ok) {
    std::int64_t v = 12345;
    *ok = numtext::ToInteger(MustParse(text), bits, isSigned, &v);
    return v;
}

TEST(NumberTextRounding, HalvesGoToEvenOnTheExactDigits) {
    struct Case {
        const char* text;
        std::int64_t expected;
    };
    for (const Case& c : {Case{"2.5", 2},
                          Case{"3.5", 4},
                          Case{"-2.5", -2},
                          Case{"-3.5", -4},
                          Case{"0.5", 0},
                          Case{"1.5", 2},
                          Case{"2.4999", 2},
                          Case{"2.5001", 3},
                          Case{"2.5000000000000000001", 3},
                          Case{"0.49999999999999999999", 0},
                          Case{"0.50000000000000000001", 1},
                          Case{"25e-1", 2},
                          Case{"35E-1", 4},
                          Case{"1e-400", 0},
                          Case{"-1e-400", 0},
                          Case{"0.05", 0},
                          Case{".9", 1},
                          Case{"1e9", 1000000000},
                          Case{"2147483647.4", 2147483647},
                          Case{"-2147483648.5", -2147483648LL},
                          Case{"-0.5", 0}}) {
        bool ok;
        EXPECT_EQ(RoundTo(c.text, 32, true, &ok), c.expected) << c.text;
        EXPECT_TRUE(ok) << c.text;
    }
}

TEST(NumberTextRounding, LimitsOfEachIntegerWidth) {
    struct Case {
        const char* text;
        int bits;
        bool isSigned;
        bool fits;
    };
    for (const Case& c :
         {Case{"2147483647", 32, true, true}, Case{"2147483648", 32, true, false},
          Case{"2147483647.5", 32, true, false}, Case{"-2147483648", 32, true, true},
          Case{"-2147483649", 32, true, false}, Case{"-2147483648.5", 32, true, true},
          Case{"-2147483648.51", 32, true, false}, Case{"1e400", 32, true, false},
          Case{"99999999999999999999", 32, true, false}, Case{"32767.5", 16, true, false},
          Case{"-32768.5", 16, true, true}, Case{"255.5", 8, false, false},
          Case{"254.5", 8, false, true}, Case{"-0.5", 8, false, true},
          Case{"-0.51", 8, false, false}, Case{"-1", 8, false, false}}) {
        bool ok;
        RoundTo(c.text, c.bits, c.isSigned, &ok);
        EXPECT_EQ(ok, c.fits) << c.text << " in " << c.bits << " bits";
    }
}

TEST(NumberTextRounding, HexWrapsIntoTwosComplementUpToTheWidth) {
    bool ok;
    EXPECT_EQ(RoundTo("&HFFFF", 16, true, &ok), -1);
    EXPECT_TRUE(ok);
    EXPECT_EQ(RoundTo("&H7FFF", 16, true, &ok), 32767);
    EXPECT_EQ(RoundTo("&H8000", 16, true, &ok), -32768);
    EXPECT_EQ(RoundTo("&HFFFFFFFF", 32, true, &ok), -1);
    EXPECT_EQ(RoundTo("&HFF", 8, false, &ok), 255);
    EXPECT_TRUE(ok);
    RoundTo("&H10000", 16, true, &ok);
    EXPECT_FALSE(ok);
    RoundTo("&H100", 8, false, &ok);
    EXPECT_FALSE(ok);
    RoundTo("&H100000000", 32, true, &ok);
    EXPECT_FALSE(ok);
    RoundTo("&H10000000000000000", 32, true, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(RoundTo("&O177777", 16, true, &ok), -1);
    EXPECT_TRUE(ok);
}

TEST(NumberTextReal, DecimalsConvertCorrectlyRounded) {
    double d = 0;
    ASSERT_TRUE(numtext::ToDouble(MustParse("0.1"), &d));
    EXPECT_EQ(d, 0.1);
    ASSERT_TRUE(numtext::ToDouble(MustParse("-1.5E-3"), &d));
    EXPECT_EQ(d, -1.5e-3);
    ASSERT_TRUE(numtext::ToDouble(MustParse("1.7976931348623157e308"), &d));
    EXPECT_EQ(d, 1.7976931348623157e308);
    // Just above halfway to the next double: a rounding through fewer digits would go down.
    ASSERT_TRUE(numtext::ToDouble(MustParse("9007199254740993.0000000000000000001"), &d));
    EXPECT_EQ(d, 9007199254740994.0);
    ASSERT_TRUE(numtext::ToDouble(MustParse("4.9406564584124654e-324"), &d));
    EXPECT_GT(d, 0.0);
    ASSERT_TRUE(numtext::ToDouble(MustParse("1e-400"), &d));
    EXPECT_EQ(d, 0.0);
    ASSERT_TRUE(numtext::ToDouble(MustParse("-1e-99999999999999999999"), &d));
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(std::signbit(d));
    EXPECT_FALSE(numtext::ToDouble(MustParse("1.8e308"), &d));
    EXPECT_FALSE(numtext::ToDouble(MustParse("1e400"), &d));
    EXPECT_FALSE(numtext::ToDouble(MustParse("-1e99999999999999999999"), &d));
    // A long run of digits goes through the heap buffer and still rounds right.
    ASSERT_TRUE(numtext::ToDouble(MustParse("0.1" + std::string(200, '0') + "1"), &d));
    EXPECT_EQ(d, 0.1);

    ASSERT_TRUE(numtext::ToDouble(MustParse("&HFFFFFFFF"), &d));
    EXPECT_EQ(d, -1.0);
    EXPECT_FALSE(numtext::ToDouble(MustParse("&H100000000"), &d));
}

TEST(NumberTextReal, FloatsRoundOnceFromTheDigits) {
    float f = 0;
    // 1.00000005960464477539062500001 lies just above halfway between two floats; through a
    // double it would land exactly on the halfway point and round down to even.
    ASSERT_TRUE(numtext::ToFloat(MustParse("1.00000005960464477539062500001"), &f));
    EXPECT_EQ(f, 1.00000011920928955078125f);
    ASSERT_TRUE(numtext::ToFloat(MustParse("3.4028234e38"), &f));
    EXPECT_FALSE(numtext::ToFloat(MustParse("3.5e38"), &f));
    ASSERT_TRUE(numtext::ToFloat(MustParse("1e-50"), &f));
    EXPECT_EQ(f, 0.0f);
    ASSERT_TRUE(numtext::ToFloat(MustParse("&H10"), &f));
    EXPECT_EQ(f, 16.0f);
}

TEST(NumberTextWords, TrueAndFalseInAnyCase) {
    bool v = false;
    EXPECT_TRUE(numtext::ParseBooleanWord("True", &v));
    EXPECT_TRUE(v);
    EXPECT_TRUE(numtext::ParseBooleanWord(" fALSE\t", &v));
    EXPECT_FALSE(v);
    for (const char* text : {"", "T", "Tru", "Truee", "yes", "1", "#TRUE#"})
        EXPECT_FALSE(numtext::ParseBooleanWord(text, &v)) << text;
}

}  // namespace
