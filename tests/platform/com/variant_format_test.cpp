// VARIANTs as text, and the holders that free what VARIANTs and BSTRs own.
#include "platform/com/variant_format.h"

#include <gtest/gtest.h>

#include "platform/com/com_holders.h"
#include "tests/support/variant.h"

namespace {

TEST(VariantFormat, EachTypeAsHostsPrintIt) {
    Var v;
    EXPECT_EQ(FormatVariant(v), "VT_EMPTY");
    v.vt = VT_I2, v.iVal = -32768;
    EXPECT_EQ(FormatVariant(v), "VT_I2 -32768");
    v.vt = VT_I4, v.lVal = 888;
    EXPECT_EQ(FormatVariant(v), "VT_I4 888");
    v.vt = VT_UI1, v.bVal = 255;
    EXPECT_EQ(FormatVariant(v), "VT_UI1 255");
    v.vt = VT_BOOL, v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(FormatVariant(v), "VT_BOOL -1");
    v.vt = VT_ERROR, v.scode = DISP_E_TYPEMISMATCH;
    EXPECT_EQ(FormatVariant(v), "VT_ERROR 0x80020005");
    // Enough digits that the text reads back to the same number.
    v.vt = VT_R8, v.dblVal = 0.1;
    EXPECT_EQ(FormatVariant(v), "VT_R8 0.10000000000000001");
    v.vt = VT_R4, v.fltVal = 0.1f;
    EXPECT_EQ(FormatVariant(v), "VT_R4 0.100000001");
    v.vt = VT_BSTR, v.bstrVal = nullptr;  // null is the empty string
    EXPECT_EQ(FormatVariant(v), "VT_BSTR ");
    v.bstrVal = MakeBstr("grüße 1");
    EXPECT_EQ(FormatVariant(v), "VT_BSTR grüße 1");
}

TEST(VariantFormat, TypesWithoutTextShowTheTypeAlone) {
    Var v;
    v.vt = VT_I8, v.llVal = 4000000000;  // no conversion to text: the type alone
    EXPECT_EQ(FormatVariant(v), "VT_I8");
    v.vt = VT_UI4, v.ulVal = 4000000000u;  // VT_UI4 has one
    EXPECT_EQ(FormatVariant(v), "VT_UI4 4000000000");
    CountedObject object;
    v.vt = VT_UNKNOWN, v.punkVal = &object;  // the object is left untouched
    EXPECT_EQ(FormatVariant(v), "VT_UNKNOWN");
    EXPECT_EQ(object.refs, 1u);
    v.vt = VT_EMPTY;
    EXPECT_EQ(VarTypeText(VT_USERDEFINED), "VT_USERDEFINED");
    EXPECT_EQ(VarTypeText(99), "VT_99");
    EXPECT_EQ(VarTypeName(99), nullptr);
}

TEST(ComHolders, FreeWhatTheyOwnOnce) {
    CountedObject object;
    object.AddRef();
    {
        CComVariant v;
        v.vt = VT_DISPATCH, v.pdispVal = &object;
    }
    EXPECT_EQ(object.refs, 1u);

    CComVariant number(LONG{-5});
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(number.lVal, -5);
    EXPECT_EQ(number.Clear(), S_OK);
    EXPECT_EQ(number.vt, VT_EMPTY);

    CComBSTR empty;
    EXPECT_EQ(static_cast<BSTR>(empty), nullptr);
    EXPECT_EQ(empty.Utf8(), "");
    CComBSTR text(std::string("a\0b", 3));  // embedded nulls survive
    EXPECT_EQ(text.Length(), 3u);
    EXPECT_EQ(text.Utf8(), std::string("a\0b", 3));
    CComBSTR moved(std::move(text));
    EXPECT_EQ(static_cast<BSTR>(text), nullptr);
    EXPECT_EQ(moved.Utf8().size(), 3u);
    BSTR taken = moved.Detach();
    EXPECT_EQ(static_cast<BSTR>(moved), nullptr);
    moved.Attach(taken);  // freed by `moved`
    EXPECT_EQ(moved.Length(), 3u);
}

}  // namespace
