// VARIANT lifetime and conversions.
#include "tests/support/variant.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>

#include "platform/com/guid_text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void SetI4(VARIANT* v, LONG x) { v->vt = VT_I4, v->lVal = x; }
void SetI2(VARIANT* v, SHORT x) { v->vt = VT_I2, v->iVal = x; }
void SetUI1(VARIANT* v, BYTE x) { v->vt = VT_UI1, v->bVal = x; }
void SetR8(VARIANT* v, double x) { v->vt = VT_R8, v->dblVal = x; }
void SetR4(VARIANT* v, float x) { v->vt = VT_R4, v->fltVal = x; }
void SetBool(VARIANT* v, VARIANT_BOOL x) { v->vt = VT_BOOL, v->boolVal = x; }
void SetText(VARIANT* v, const std::string& text) { v->vt = VT_BSTR, v->bstrVal = MakeBstr(text); }

std::string Describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_I4:
            return "I4 " + std::to_string(v.lVal);
        case VT_I2:
            return "I2 " + std::to_string(v.iVal);
        case VT_UI4:
            return "UI4 " + std::to_string(v.ulVal);
        case VT_UI1:
            return "UI1 " + std::to_string(v.bVal);
        case VT_BOOL:
            return "BOOL " + std::to_string(v.boolVal);
        case VT_R8:
            return "R8 " + std::to_string(v.dblVal);
        case VT_R4:
            return "R4 " + std::to_string(v.fltVal);
        case VT_BSTR:
            return "BSTR \"" + BstrText(v.bstrVal) + '"';
        case VT_EMPTY:
            return "EMPTY";
        default:
            return "vt " + std::to_string(v.vt);
    }
}

// The outcome of converting src to vt into a fresh variant, as a short description.
std::string Change(const VARIANT& src, VARTYPE vt) {
    Var dest;
    const HRESULT hr = VariantChangeType(&dest, &src, 0, vt);
    if (FAILED(hr)) {
        EXPECT_EQ(dest.vt, VT_EMPTY) << "a failed conversion wrote its destination";
        return hr == DISP_E_OVERFLOW       ? "overflow"
               : hr == DISP_E_TYPEMISMATCH ? "mismatch"
               : hr == DISP_E_BADVARTYPE   ? "badvartype"
                                           : HresultToString(hr);
    }
    EXPECT_EQ(dest.vt, vt);
    return Describe(dest);
}

std::string ChangeR8(double x, VARTYPE vt) {
    Var v;
    SetR8(&v, x);
    return Change(v, vt);
}

std::string ChangeText(const std::string& text, VARTYPE vt) {
    Var v;
    SetText(&v, text);
    return Change(v, vt);
}

std::string ChangeI4(LONG x, VARTYPE vt) {
    Var v;
    SetI4(&v, x);
    return Change(v, vt);
}

// ---------------------------------------------------------------- rounding

TEST(VariantRounding, RealsRoundHalfToEven) {
    struct Case {
        double x;
        LONG expected;
    };
    for (const Case& c :
         {Case{2.5, 2}, Case{3.5, 4}, Case{-2.5, -2}, Case{-3.5, -4}, Case{0.5, 0}, Case{1.5, 2},
          Case{-0.5, 0}, Case{2.4999999, 2}, Case{2.5000001, 3}, Case{-1.5, -2},
          Case{0.49999999999999994, 0}, Case{2147483646.5, 2147483646},
          Case{-2147483648.5, -2147483647 - 1}, Case{1e9 + 0.5, 1000000000}}) {
        EXPECT_EQ(ChangeR8(c.x, VT_I4), "I4 " + std::to_string(c.expected)) << c.x;
        Var f;
        SetR4(&f, static_cast<float>(c.x));
        if (static_cast<double>(f.fltVal) == c.x && std::fabs(c.x) < 32768) {
            EXPECT_EQ(Change(f, VT_I2), "I2 " + std::to_string(c.expected)) << c.x;
        }
    }
    EXPECT_EQ(ChangeR8(254.5, VT_UI1), "UI1 254");
    EXPECT_EQ(ChangeR8(253.5, VT_UI1), "UI1 254");
}

TEST(VariantRounding, FieldTextsRoundOnTheirDecimalDigits) {
    EXPECT_EQ(ChangeText("2.5", VT_I4), "I4 2");
    EXPECT_EQ(ChangeText("3.5", VT_I4), "I4 4");
    EXPECT_EQ(ChangeText("-2.5", VT_I4), "I4 -2");
    EXPECT_EQ(ChangeText("2.5000000000000000001", VT_I4), "I4 3");
    EXPECT_EQ(ChangeText("0.49999999999999999999", VT_I4), "I4 0");
    EXPECT_EQ(ChangeText("1e-400", VT_I4), "I4 0");
    EXPECT_EQ(ChangeText("100", VT_I4), "I4 100");
    EXPECT_EQ(ChangeText("32767.4", VT_I2), "I2 32767");
    // A divider text of 3.5 is 2.5 after subtracting one, which rounds to 2.
    Var real, rounded;
    SetText(&real, "3.5");
    ASSERT_EQ(VariantChangeType(&real, &real, 0, VT_R8), S_OK);
    real.dblVal -= 1;
    ASSERT_EQ(VariantChangeType(&rounded, &real, 0, VT_I4), S_OK);
    EXPECT_EQ(rounded.lVal, 2);
}

// ---------------------------------------------------------------- overflow

TEST(VariantOverflow, IntegerLimitsOfEachTarget) {
    EXPECT_EQ(ChangeI4(32767, VT_I2), "I2 32767");
    EXPECT_EQ(ChangeI4(32768, VT_I2), "overflow");
    EXPECT_EQ(ChangeI4(-32768, VT_I2), "I2 -32768");
    EXPECT_EQ(ChangeI4(-32769, VT_I2), "overflow");
    EXPECT_EQ(ChangeI4(255, VT_UI1), "UI1 255");
    EXPECT_EQ(ChangeI4(256, VT_UI1), "overflow");
    EXPECT_EQ(ChangeI4(-1, VT_UI1), "overflow");
    EXPECT_EQ(ChangeI4(0, VT_UI1), "UI1 0");
    Var i2;
    SetI2(&i2, -1);
    EXPECT_EQ(Change(i2, VT_UI1), "overflow");
    SetI2(&i2, -32768);
    EXPECT_EQ(Change(i2, VT_I4), "I4 -32768");
    Var b;
    SetUI1(&b, 200);
    EXPECT_EQ(Change(b, VT_I2), "I2 200");
}

TEST(VariantOverflow, RealsOutsideTheTargetRange) {
    EXPECT_EQ(ChangeR8(2147483647.0, VT_I4), "I4 2147483647");
    EXPECT_EQ(ChangeR8(2147483647.5, VT_I4), "overflow");  // rounds to 2^31
    EXPECT_EQ(ChangeR8(2147483648.0, VT_I4), "overflow");
    EXPECT_EQ(ChangeR8(-2147483649.0, VT_I4), "overflow");
    EXPECT_EQ(ChangeR8(1e300, VT_I4), "overflow");
    EXPECT_EQ(ChangeR8(32767.5, VT_I2), "overflow");
    EXPECT_EQ(ChangeR8(-32768.5, VT_I2), "I2 -32768");
    EXPECT_EQ(ChangeR8(255.5, VT_UI1), "overflow");
    EXPECT_EQ(ChangeR8(-0.5, VT_UI1), "UI1 0");
    EXPECT_EQ(ChangeR8(-0.75, VT_UI1), "overflow");
    for (VARTYPE vt : {VT_I2, VT_I4, VT_UI1}) {
        EXPECT_EQ(ChangeR8(kNaN, vt), "overflow") << vt;
        EXPECT_EQ(ChangeR8(kInf, vt), "overflow") << vt;
        EXPECT_EQ(ChangeR8(-kInf, vt), "overflow") << vt;
    }
    EXPECT_EQ(ChangeR8(1e39, VT_R4), "overflow");
    EXPECT_EQ(ChangeR8(-1e39, VT_R4), "overflow");
    EXPECT_EQ(ChangeR8(kInf, VT_R4), "overflow");
    Var max, f;
    SetR8(&max, std::numeric_limits<float>::max());
    ASSERT_EQ(VariantChangeType(&f, &max, 0, VT_R4), S_OK);
    EXPECT_EQ(f.fltVal, std::numeric_limits<float>::max());
}

// Unsigned 32-bit values (a control's version and flag words) to and from the other types.
TEST(VariantOverflow, UnsignedLongsKeepTheirWholeRange) {
    EXPECT_EQ(ChangeText("4294967295", VT_UI4), "UI4 4294967295");
    EXPECT_EQ(ChangeText("4294967296", VT_UI4), "overflow");
    EXPECT_EQ(ChangeText("-1", VT_UI4), "overflow");
    EXPECT_EQ(ChangeText("65536.5", VT_UI4), "UI4 65536");
    EXPECT_EQ(ChangeI4(-1, VT_UI4), "overflow");
    EXPECT_EQ(ChangeR8(4294967295.4, VT_UI4), "UI4 4294967295");
    Var big;
    big.vt = VT_UI4;
    big.ulVal = 0x80000000u;
    EXPECT_EQ(Change(big, VT_BSTR), "BSTR \"2147483648\"");
    EXPECT_EQ(Change(big, VT_I4), "overflow");
    EXPECT_EQ(Change(big, VT_R8), "R8 2147483648.000000");
}

TEST(VariantOverflow, TextsOutsideTheTargetRange) {
    EXPECT_EQ(ChangeText("2147483647", VT_I4), "I4 2147483647");
    EXPECT_EQ(ChangeText("2147483648", VT_I4), "overflow");
    EXPECT_EQ(ChangeText("-2147483648", VT_I4), "I4 -2147483648");
    EXPECT_EQ(ChangeText("-2147483649", VT_I4), "overflow");
    EXPECT_EQ(ChangeText("32768", VT_I2), "overflow");
    EXPECT_EQ(ChangeText("256", VT_UI1), "overflow");
    EXPECT_EQ(ChangeText("-1", VT_UI1), "overflow");
    EXPECT_EQ(ChangeText("1e400", VT_I4), "overflow");
    EXPECT_EQ(ChangeText("1e400", VT_R8), "overflow");
    EXPECT_EQ(ChangeText("-1e400", VT_R8), "overflow");
    EXPECT_EQ(ChangeText("1e39", VT_R4), "overflow");
    EXPECT_EQ(ChangeText("1e400", VT_BOOL), "overflow");
    EXPECT_EQ(ChangeText("&H10000", VT_I2), "overflow");
    EXPECT_EQ(ChangeText("&H100", VT_UI1), "overflow");
    EXPECT_EQ(ChangeText("&H100000000", VT_I4), "overflow");
    EXPECT_EQ(ChangeText("&H100000000", VT_R8), "overflow");
}

// ---------------------------------------------------------------- string syntax

TEST(VariantTextSyntax, AcceptedNumberForms) {
    EXPECT_EQ(ChangeText(" 888 ", VT_I4), "I4 888");
    EXPECT_EQ(ChangeText("\t+12\t", VT_I2), "I2 12");
    EXPECT_EQ(ChangeText(".5", VT_R8), "R8 0.500000");
    EXPECT_EQ(ChangeText("5.", VT_I4), "I4 5");
    EXPECT_EQ(ChangeText("1e2", VT_I4), "I4 100");
    EXPECT_EQ(ChangeText("1.5E-3", VT_R8), ChangeR8(0.0015, VT_R8));
    EXPECT_EQ(ChangeText("&hff", VT_I4), "I4 255");
    EXPECT_EQ(ChangeText("&HFF", VT_UI1), "UI1 255");
    EXPECT_EQ(ChangeText("&HFFFF", VT_I2), "I2 -1");
    EXPECT_EQ(ChangeText("&HFFFFFFFF", VT_I4), "I4 -1");
    EXPECT_EQ(ChangeText("&HFFFFFFFF", VT_R8), "R8 -1.000000");
    EXPECT_EQ(ChangeText("&O17", VT_I4), "I4 15");
    EXPECT_EQ(ChangeText("-0", VT_I4), "I4 0");
    // The platform's standard parse flags in locale 0x0409: separators, currency, parentheses,
    // trailing signs, white space between sign and digits, the no-break space as white space.
    EXPECT_EQ(ChangeText("1,000", VT_I4), "I4 1000");
    EXPECT_EQ(ChangeText("$5", VT_I2), "I2 5");
    EXPECT_EQ(ChangeText("(5)", VT_I4), "I4 -5");
    EXPECT_EQ(ChangeText("5-", VT_I4), "I4 -5");
    EXPECT_EQ(ChangeText("  -  5", VT_I4), "I4 -5");
    EXPECT_EQ(ChangeText("$1,000.50", VT_R8), ChangeR8(1000.5, VT_R8));
    EXPECT_EQ(ChangeText("1,000,000", VT_I2), "overflow");
    EXPECT_EQ(ChangeText("\xC2\xA0"
                         "5",
                         VT_I4),
              "I4 5");
}

TEST(VariantTextSyntax, RefusedTextsAreTypeMismatches) {
    for (const char* text : {"", " ", ",5", "$$5", "(5", "5 DM", "abc", "0x10", "&H", "1e", "2d1",
                             "-5-", "1 2", "True", "\xEF\xBC\x91"}) {
        for (VARTYPE vt : {VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8})
            EXPECT_EQ(ChangeText(text, vt), "mismatch") << '"' << text << "\" to " << vt;
    }
    // An embedded NUL ends no number: the whole string counts.
    Var v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(
        u"1\0"
        u"2",
        3);
    EXPECT_EQ(Change(v, VT_I4), "mismatch");
    // A null BSTR is the empty string.
    Var null;
    null.vt = VT_BSTR;
    null.bstrVal = nullptr;
    EXPECT_EQ(Change(null, VT_I4), "mismatch");
}

TEST(VariantTextSyntax, NumbersIgnoreTheProcessLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string fromText = ChangeText("2.5", VT_R8);
    const std::string comma = ChangeText("2,5", VT_R8);
    const std::string toText = ChangeR8(2.5, VT_BSTR);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(fromText, ChangeR8(2.5, VT_R8));
    EXPECT_EQ(comma, "mismatch");
    EXPECT_EQ(toText, "BSTR \"2.5\"");
}

// ---------------------------------------------------------------- to text

TEST(VariantToText, IntegersAndReals) {
    EXPECT_EQ(ChangeI4(-2147483647 - 1, VT_BSTR), "BSTR \"-2147483648\"");
    EXPECT_EQ(ChangeI4(888, VT_BSTR), "BSTR \"888\"");
    struct Case {
        double x;
        const char* text;
    };
    for (const Case& c :
         {Case{2.5, "2.5"}, Case{1e20, "1E+20"}, Case{1e15, "1E+15"}, Case{1e14, "100000000000000"},
          Case{0.1, "0.1"}, Case{-0.0, "0"}, Case{1.0 / 3, "0.333333333333333"},
          Case{1e-5, "1E-05"}, Case{0.0001, "0.0001"},
          Case{123456789012345678.0, "1.23456789012346E+17"}, Case{-7.0, "-7"},
          Case{1.7976931348623157e308, "1.79769313486232E+308"}})
        EXPECT_EQ(ChangeR8(c.x, VT_BSTR), std::string("BSTR \"") + c.text + '"') << c.x;
    Var f;
    SetR4(&f, 0.1f);
    EXPECT_EQ(Change(f, VT_BSTR), "BSTR \"0.1\"");
    SetR4(&f, 16777216.0f);
    EXPECT_EQ(Change(f, VT_BSTR), "BSTR \"1.677722E+07\"");
    SetR4(&f, 2.5f);
    EXPECT_EQ(Change(f, VT_BSTR), "BSTR \"2.5\"");
}

TEST(VariantToText, TextRoundTripsThroughR8) {
    for (double x : {0.1, 2.5, -1234.5678, 1e-7, 6.02214076e23, 123456789012345.0}) {
        Var v, text, back;
        SetR8(&v, x);
        ASSERT_EQ(VariantChangeType(&text, &v, 0, VT_BSTR), S_OK);
        ASSERT_EQ(VariantChangeType(&back, &text, 0, VT_R8), S_OK);
        EXPECT_DOUBLE_EQ(back.dblVal, x) << BstrText(text.bstrVal);
    }
}

// ---------------------------------------------------------------- booleans and empty

TEST(VariantBoolAndEmpty, BooleansAsNumbersAndNumbersAsBooleans) {
    Var t;
    SetBool(&t, VARIANT_TRUE);
    EXPECT_EQ(Change(t, VT_I2), "I2 -1");
    EXPECT_EQ(Change(t, VT_I4), "I4 -1");
    EXPECT_EQ(Change(t, VT_R8), ChangeR8(-1, VT_R8));
    EXPECT_EQ(Change(t, VT_UI1), "UI1 255");
    EXPECT_EQ(Change(t, VT_BSTR), "BSTR \"True\"");
    SetBool(&t, 1);  // any nonzero value is true
    EXPECT_EQ(Change(t, VT_I4), "I4 -1");
    SetBool(&t, VARIANT_FALSE);
    EXPECT_EQ(Change(t, VT_I4), "I4 0");
    EXPECT_EQ(Change(t, VT_BSTR), "BSTR \"False\"");

    EXPECT_EQ(ChangeI4(5, VT_BOOL), "BOOL -1");
    EXPECT_EQ(ChangeI4(0, VT_BOOL), "BOOL 0");
    EXPECT_EQ(ChangeR8(0.0001, VT_BOOL), "BOOL -1");
    EXPECT_EQ(ChangeR8(-0.0, VT_BOOL), "BOOL 0");
    EXPECT_EQ(ChangeR8(kNaN, VT_BOOL), "BOOL -1");
    EXPECT_EQ(ChangeText("true", VT_BOOL), "BOOL -1");
    EXPECT_EQ(ChangeText(" FALSE ", VT_BOOL), "BOOL 0");
    EXPECT_EQ(ChangeText("0", VT_BOOL), "BOOL 0");
    EXPECT_EQ(ChangeText("-0.5", VT_BOOL), "BOOL -1");
    EXPECT_EQ(ChangeText("yes", VT_BOOL), "mismatch");
    EXPECT_EQ(ChangeText("", VT_BOOL), "mismatch");
}

TEST(VariantBoolAndEmpty, EmptyIsZeroAndTheEmptyString) {
    Var empty;
    EXPECT_EQ(Change(empty, VT_I4), "I4 0");
    EXPECT_EQ(Change(empty, VT_UI1), "UI1 0");
    EXPECT_EQ(Change(empty, VT_R4), "R4 0.000000");
    EXPECT_EQ(Change(empty, VT_BOOL), "BOOL 0");
    Var text;
    ASSERT_EQ(VariantChangeType(&text, &empty, 0, VT_BSTR), S_OK);
    ASSERT_NE(text.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(text.bstrVal), 0u);
}

TEST(VariantBoolAndEmpty, EmptyTargetClearsTheDestination) {
    Var v;
    SetText(&v, "frees its string");
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_EMPTY), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    Var src, dest;
    SetI4(&src, 7);
    SetText(&dest, "old");
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_EMPTY), S_OK);
    EXPECT_EQ(dest.vt, VT_EMPTY);
}

// ---------------------------------------------------------------- layout

// The platform's layout on this build: arguments passed as an array keep its stride.
static_assert(sizeof(VARIANTARG) == 8 + 2 * sizeof(void*));
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, lVal) == 8);
static_assert(offsetof(VARIANT, pvRecord) == 8 && offsetof(VARIANT, cyVal) == 8);
static_assert(offsetof(VARIANT, decVal) == 0 && offsetof(DECIMAL, Hi32) == 4);

TEST(VariantLayout, InitClearsTheWholeVariant) {
    VARIANT v;
    std::memset(&v, 0xCC, sizeof v);
    VariantInit(&v);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
    for (std::size_t i = 0; i < sizeof v; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(VariantLayout, ADecimalFillsTheVariantAndKeepsItsTag) {
    VARIANT v;
    VariantInit(&v);
    v.decVal.scale = 2;
    v.decVal.sign = 0x80;
    v.decVal.Hi32 = 7;
    v.decVal.Lo64 = 0x1122334455667788ull;
    v.vt = VT_DECIMAL;  // the tag stands in the decimal's reserved word
    EXPECT_EQ(v.decVal.wReserved, VT_DECIMAL);
    EXPECT_EQ(v.decVal.signscale, 0x8002);
    EXPECT_EQ(v.decVal.Lo64, 0x1122334455667788ull);
    // Still refused by the conversions, and owns nothing.
    Var dest;
    EXPECT_EQ(VariantChangeType(&dest, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&dest, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    VARIANT cy;
    VariantInit(&cy);
    cy.vt = VT_CY;
    cy.cyVal.int64 = 12345;
    EXPECT_EQ(VariantChangeType(&dest, &cy, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VARIANT record;
    VariantInit(&record);
    record.vt = VT_RECORD;
    EXPECT_EQ(VariantChangeType(&dest, &record, 0, VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(ChangeI4(1, VT_RECORD), "badvartype");
    EXPECT_EQ(ChangeI4(1, VT_DECIMAL), "mismatch");
}

// ---------------------------------------------------------------- unsupported types

TEST(VariantUnsupported, TypesOutsideTheBasicSet) {
    Var null;
    null.vt = VT_NULL;
    EXPECT_EQ(Change(null, VT_I4), "mismatch");
    EXPECT_EQ(Change(null, VT_BSTR), "mismatch");
    EXPECT_EQ(Change(null, VT_NULL), "vt 1");
    CountedObject object;
    {
        Var disp;
        disp.vt = VT_DISPATCH;
        disp.pdispVal = &object;
        object.AddRef();
        EXPECT_EQ(Change(disp, VT_I4), "mismatch");
        EXPECT_EQ(Change(disp, VT_BSTR), "mismatch");
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);
    EXPECT_EQ(ChangeI4(1, VT_DATE), "mismatch");
    EXPECT_EQ(ChangeI4(1, VT_CY), "mismatch");
    EXPECT_EQ(ChangeI4(1, VT_DISPATCH), "mismatch");
    EXPECT_EQ(ChangeI4(1, VT_NULL), "mismatch");
    EXPECT_EQ(ChangeI4(1, VT_I8), "mismatch");
}

TEST(VariantUnsupported, UnknownTypeValues) {
    EXPECT_EQ(ChangeI4(1, 15), "badvartype");
    EXPECT_EQ(ChangeI4(1, 99), "badvartype");
    EXPECT_EQ(ChangeI4(1, 0x1234), "badvartype");
    EXPECT_EQ(ChangeI4(1, VT_BYREF | VT_I4), "badvartype");
    EXPECT_EQ(ChangeI4(1, VT_VARIANT), "badvartype");
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 99;
    EXPECT_EQ(Change(bad, VT_I4), "badvartype");
    bad.vt = VT_ARRAY | VT_I4;
    EXPECT_EQ(Change(bad, VT_I4), "badvartype");
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(bad.vt, VT_ARRAY | VT_I4);
    // A destination that holds no valid variant is refused, not freed.
    Var src;
    SetI4(&src, 1);
    bad.vt = 99;
    EXPECT_EQ(VariantChangeType(&bad, &src, 0, VT_I2), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(nullptr, &src, 0, VT_I2), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&src, nullptr, 0, VT_I2), E_INVALIDARG);
}

// ---------------------------------------------------------------- in place and failures

TEST(VariantInPlace, ConvertsTheSourceItself) {
    Var v;
    SetText(&v, "888");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed afterwards
    EXPECT_EQ(Describe(v), "I4 888");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Describe(v), "BSTR \"888\"");
    const BSTR same = v.bstrVal;
    ASSERT_EQ(VariantChangeTypeEx(&v, &v, LOCALE_USER_DEFAULT, 0, VT_BSTR), S_OK);
    EXPECT_EQ(v.bstrVal, same);
}

TEST(VariantInPlace, FailureLeavesTheDestinationUntouched) {
    Var v;
    SetText(&v, "12abc");
    const BSTR original = v.bstrVal;
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, original);
    EXPECT_EQ(BstrText(v.bstrVal), "12abc");

    Var big, dest;
    SetR8(&big, 1e10);
    SetText(&dest, "kept");
    const BSTR kept = dest.bstrVal;
    EXPECT_EQ(VariantChangeType(&dest, &big, 0, VT_I4), DISP_E_OVERFLOW);
    EXPECT_EQ(dest.vt, VT_BSTR);
    EXPECT_EQ(dest.bstrVal, kept);
    EXPECT_EQ(VariantChangeType(&dest, &big, 0, VT_DATE), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest.bstrVal, kept);
}

TEST(VariantInPlace, SuccessReleasesTheOldDestination) {
    CountedObject object;
    Var src;
    SetI4(&src, 3);
    {
        Var dest;
        dest.vt = VT_UNKNOWN;
        dest.punkVal = &object;
        object.AddRef();
        ASSERT_EQ(VariantChangeType(&dest, &src, 0, VT_I2), S_OK);
        EXPECT_EQ(object.refs, 1u);
        EXPECT_EQ(Describe(dest), "I2 3");
    }
}

// ---------------------------------------------------------------- references

TEST(VariantByRef, ReadsThroughTheReference) {
    SHORT s = 12;
    Var ref;
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &s;
    EXPECT_EQ(Change(ref, VT_I4), "I4 12");
    EXPECT_EQ(Change(ref, VT_I2), "I2 12");

    BSTR text = MakeBstr("2.5");
    Var refText;
    refText.vt = VT_BYREF | VT_BSTR;
    refText.pbstrVal = &text;
    EXPECT_EQ(Change(refText, VT_I4), "I4 2");
    EXPECT_EQ(Change(refText, VT_BSTR), "BSTR \"2.5\"");

    Var inner;
    SetR8(&inner, 3.5);
    Var refVariant;
    refVariant.vt = VT_BYREF | VT_VARIANT;
    refVariant.pvarVal = &inner;
    EXPECT_EQ(Change(refVariant, VT_I4), "I4 4");

    // In place, the reference is replaced by the value; what it pointed at stays.
    ASSERT_EQ(VariantChangeType(&refText, &refText, 0, VT_I4), S_OK);
    EXPECT_EQ(Describe(refText), "I4 2");
    EXPECT_EQ(BstrText(text), "2.5");
    SysFreeString(text);

    Var dangling;
    dangling.vt = VT_BYREF | VT_I4;
    dangling.plVal = nullptr;
    EXPECT_EQ(Change(dangling, VT_I4), HresultToString(E_INVALIDARG));
}

// ---------------------------------------------------------------- clear and copy

TEST(VariantLifetime, ClearAndCopyOwnTheirContent) {
    Var a, b;
    SetText(&a, "text");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_EQ(BstrText(b.bstrVal), "text");
    ASSERT_EQ(VariantCopy(&a, &a), S_OK);
    EXPECT_EQ(BstrText(a.bstrVal), "text");
    ASSERT_EQ(VariantCopy(&b, &b), S_OK);

    CountedObject object;
    {
        Var p, q;
        p.vt = VT_DISPATCH;
        p.pdispVal = &object;
        object.AddRef();
        ASSERT_EQ(VariantCopy(&q, &p), S_OK);
        EXPECT_EQ(object.refs, 3u);
        // Copying over a destination that holds the same object keeps it alive throughout.
        ASSERT_EQ(VariantCopy(&q, &p), S_OK);
        EXPECT_EQ(object.refs, 3u);
        Var r;
        ASSERT_EQ(VariantChangeType(&r, &p, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(object.refs, 4u);
        ASSERT_EQ(VariantClear(&r), S_OK);
        EXPECT_EQ(r.vt, VT_EMPTY);
        EXPECT_EQ(object.refs, 3u);
    }
    EXPECT_EQ(object.refs, 1u);

    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(nullptr, &a), E_INVALIDARG);
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 15;
    EXPECT_EQ(VariantCopy(&b, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(BstrText(b.bstrVal), "text");
}

}  // namespace
