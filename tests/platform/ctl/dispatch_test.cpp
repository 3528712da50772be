// IDispatch over a dispatch map: conversions to the declared types and the error table.
#include <gtest/gtest.h>

#include "tests/platform/ctl/test_control.h"

namespace {

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { ctrl = NewTestCtrl(); }
    void TearDown() override { ctrl->Release(); }
    IDispatch* disp() { return ctrl; }

    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result = nullptr,
                   UINT* argErr = nullptr, REFIID riid = IID_NULL, EXCEPINFO* info = nullptr) {
        return disp()->Invoke(id, riid, 0, flags, params, result, info, argErr);
    }

    CTestCtrl* ctrl = nullptr;
};

TEST_F(DispatchTest, PutAndGetInDeclaredTypes) {
    VARIANT r;
    ASSERT_EQ(PutProp(disp(), kLong, VarI4(-70000)), S_OK);
    ASSERT_EQ(GetProp(disp(), kLong, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, -70000);

    ASSERT_EQ(PutProp(disp(), kShort, VarI2(-3)), S_OK);
    ASSERT_EQ(GetProp(disp(), kShort, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I2);
    EXPECT_EQ(r.iVal, -3);

    ASSERT_EQ(PutProp(disp(), kReal, VarR8(2.5)), S_OK);
    ASSERT_EQ(GetProp(disp(), kReal, &r), S_OK);
    EXPECT_EQ(r.vt, VT_R8);
    EXPECT_EQ(r.dblVal, 2.5);

    BstrVar text(u"h\u00e9llo");
    ASSERT_EQ(PutProp(disp(), kText, text.v), S_OK);
    ASSERT_EQ(GetProp(disp(), kText, &r), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(r.bstrVal), u"h\u00e9llo");
    VariantClear(&r);
}

TEST_F(DispatchTest, ArgumentsAreConvertedToTheDeclaredType) {
    BstrVar number(u"888");
    ASSERT_EQ(PutProp(disp(), kLong, number.v), S_OK);
    EXPECT_EQ(ctrl->m_long, 888);

    // Fractions round half to even on the way to an integer.
    ASSERT_EQ(PutProp(disp(), kShort, VarR8(8.5)), S_OK);
    EXPECT_EQ(ctrl->m_short, 8);
    ASSERT_EQ(PutProp(disp(), kShort, VarR8(9.5)), S_OK);
    EXPECT_EQ(ctrl->m_short, 10);

    ASSERT_EQ(PutProp(disp(), kReal, VarI2(7)), S_OK);
    EXPECT_EQ(ctrl->m_real, 7.0);

    ASSERT_EQ(PutProp(disp(), kText, VarI4(-12)), S_OK);
    EXPECT_EQ(ctrl->m_text, u"-12");

    ASSERT_EQ(PutProp(disp(), kFlag, VarI4(5)), S_OK);
    EXPECT_EQ(ctrl->m_flag, VARIANT_TRUE);
}

TEST_F(DispatchTest, RefusedConversionsReachNoHandlerAndNameTheArgument) {
    UINT argErr = 99;
    EXPECT_EQ(PutProp(disp(), kShort, VarI4(70000), &argErr), DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);

    argErr = 99;
    BstrVar letters(u"abc");
    EXPECT_EQ(PutProp(disp(), kLong, letters.v, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);

    // puArgErr may be null.
    EXPECT_EQ(PutProp(disp(), kLong, letters.v, nullptr), DISP_E_TYPEMISMATCH);

    VARIANT array = VarI4(1);
    array.vt = VT_ARRAY | VT_I4;
    EXPECT_EQ(PutProp(disp(), kLong, array, &argErr), DISP_E_TYPEMISMATCH);

    EXPECT_EQ(ctrl->sets, 0);
    EXPECT_EQ(ctrl->m_long, 5);
    EXPECT_EQ(ctrl->m_short, 7);
    EXPECT_FALSE(ctrl->IsModified());
}

TEST_F(DispatchTest, ReferenceArgumentsAreDereferenced) {
    LONG value = 1234;
    VARIANT byref;
    VariantInit(&byref);
    byref.vt = VT_BYREF | VT_I4;
    byref.plVal = &value;
    ASSERT_EQ(PutProp(disp(), kLong, byref), S_OK);
    EXPECT_EQ(ctrl->m_long, 1234);

    DOUBLE real = 3.5;
    byref.vt = VT_BYREF | VT_R8;
    byref.pdblVal = &real;
    ASSERT_EQ(PutProp(disp(), kShort, byref), S_OK);
    EXPECT_EQ(ctrl->m_short, 4);

    BSTR text = SysAllocString(u"77");
    byref.vt = VT_BYREF | VT_BSTR;
    byref.pbstrVal = &text;
    ASSERT_EQ(PutProp(disp(), kLong, byref), S_OK);
    EXPECT_EQ(ctrl->m_long, 77);
    ASSERT_EQ(PutProp(disp(), kText, byref), S_OK);
    EXPECT_EQ(ctrl->m_text, u"77");
    SysFreeString(text);

    VARIANT inner = VarI2(-5);
    byref.vt = VT_BYREF | VT_VARIANT;
    byref.pvarVal = &inner;
    ASSERT_EQ(PutProp(disp(), kLong, byref), S_OK);
    EXPECT_EQ(ctrl->m_long, -5);

    // A variant reference to a value reference is followed too.
    value = 31;
    inner.vt = VT_BYREF | VT_I4;
    inner.plVal = &value;
    ASSERT_EQ(PutProp(disp(), kLong, byref), S_OK);
    EXPECT_EQ(ctrl->m_long, 31);
}

TEST_F(DispatchTest, BrokenReferencesAreTypeMismatches) {
    UINT argErr = 99;
    VARIANT byref;
    VariantInit(&byref);
    byref.vt = VT_BYREF | VT_I4;
    byref.plVal = nullptr;
    EXPECT_EQ(PutProp(disp(), kLong, byref, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);

    byref.vt = VT_BYREF | VT_VARIANT;
    byref.pvarVal = nullptr;
    EXPECT_EQ(PutProp(disp(), kLong, byref), DISP_E_TYPEMISMATCH);

    // A variant reference to a variant reference is not a value.
    VARIANT inner;
    VariantInit(&inner);
    inner.vt = VT_BYREF | VT_VARIANT;
    inner.pvarVal = &byref;
    byref.pvarVal = &inner;
    EXPECT_EQ(PutProp(disp(), kLong, byref), DISP_E_TYPEMISMATCH);

    byref.vt = VT_BYREF | VT_USERDEFINED;
    byref.byref = &inner;
    EXPECT_EQ(PutProp(disp(), kLong, byref), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ctrl->sets, 0);
}

TEST_F(DispatchTest, ErrorTable) {
    VARIANT value = VarI4(1);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &putId, 1, 1};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT r;
    VariantInit(&r);

    // Another interface's members are not reached through this one.
    IID other = IID_IDispatch;
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, other),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(Invoke(12345, DISPATCH_PROPERTYGET, &none, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(DISPID_UNKNOWN, DISPATCH_METHOD, &none, &r), DISP_E_MEMBERNOTFOUND);

    // Wrong direction for the member.
    EXPECT_EQ(Invoke(kWriteOnly, DISPATCH_PROPERTYGET, &none, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(kReadOnly, DISPATCH_PROPERTYPUT, &put), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(kPing, DISPATCH_PROPERTYPUT, &put), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(kPing, DISPATCH_PROPERTYGET, &none, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(kLong, 0, &none, &r), DISP_E_MEMBERNOTFOUND);

    // A put needs its value as the one named argument DISPID_PROPERTYPUT.
    DISPPARAMS unnamed{&value, nullptr, 1, 0};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &unnamed), DISP_E_PARAMNOTOPTIONAL);
    DISPID wrongName = 7;
    DISPPARAMS misnamed{&value, &wrongName, 1, 1};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &misnamed), DISP_E_PARAMNOTOPTIONAL);
    VARIANT two[2] = {VarI4(1), VarI4(2)};
    DISPID twoNames[2] = {DISPID_PROPERTYPUT, 3};
    DISPPARAMS extraName{two, twoNames, 2, 2};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &extraName), DISP_E_NONAMEDARGS);
    DISPPARAMS extraArg{two, &putId, 2, 1};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &extraArg), DISP_E_BADPARAMCOUNT);

    // Gets and methods take no arguments.
    DISPPARAMS oneArg{&value, nullptr, 1, 0};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYGET, &oneArg, &r), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(kPing, DISPATCH_METHOD, &oneArg, &r), DISP_E_BADPARAMCOUNT);
    DISPPARAMS namedGet{&value, &putId, 1, 1};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYGET, &namedGet, &r), DISP_E_NONAMEDARGS);

    // Malformed parameter blocks.
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYGET, nullptr, &r), E_INVALIDARG);
    DISPPARAMS noArray{nullptr, nullptr, 1, 0};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYGET, &noArray, &r), E_INVALIDARG);
    DISPPARAMS noNames{&value, nullptr, 1, 1};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &noNames), E_INVALIDARG);
    DISPPARAMS moreNamesThanArgs{&value, twoNames, 1, 2};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT, &moreNamesThanArgs), E_INVALIDARG);

    EXPECT_EQ(ctrl->sets, 0);
    EXPECT_EQ(ctrl->pings, 0);
    EXPECT_EQ(r.vt, VT_EMPTY);
}

TEST_F(DispatchTest, GetFlagsHostsPass) {
    VARIANT r;
    ctrl->m_long = 9;
    ASSERT_EQ(GetProp(disp(), kLong, &r, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(r.lVal, 9);
    ASSERT_EQ(GetProp(disp(), kLong, &r, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(r.lVal, 9);
    // PUTREF is taken as a put.
    VARIANT value = VarI4(3);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUTREF, &put), S_OK);
    EXPECT_EQ(ctrl->m_long, 3);
}

TEST_F(DispatchTest, GetWithoutResultStillRunsTheHandler) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(Invoke(kReadOnly, DISPATCH_PROPERTYGET, &none, nullptr), S_OK);
    EXPECT_EQ(ctrl->gets, 1);
    // A string result nobody takes is freed (checked by the sanitizer build).
    ASSERT_EQ(Invoke(kText, DISPATCH_PROPERTYGET, &none, nullptr), S_OK);
}

TEST_F(DispatchTest, Methods) {
    VARIANT r;
    ASSERT_EQ(CallMethod(disp(), kPing, &r), S_OK);
    EXPECT_EQ(r.vt, VT_EMPTY);
    ASSERT_EQ(CallMethod(disp(), kPing), S_OK);
    EXPECT_EQ(ctrl->pings, 2);
    ASSERT_EQ(CallMethod(disp(), kCount, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 3);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(Invoke(kPing, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &r), S_OK);
    EXPECT_EQ(ctrl->pings, 4);
}

TEST_F(DispatchTest, HandlerExceptionsBecomeDispatchExceptions) {
    EXCEPINFO info;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(Invoke(kThrow, DISPATCH_METHOD, &none, nullptr, nullptr, IID_NULL, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_UNEXPECTED);
    EXPECT_EQ(Invoke(kThrowBadAlloc, DISPATCH_METHOD, &none, nullptr, nullptr, IID_NULL, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_OUTOFMEMORY);
    // Without an EXCEPINFO the result is the same.
    EXPECT_EQ(Invoke(kThrow, DISPATCH_METHOD, &none), DISP_E_EXCEPTION);
}

TEST_F(DispatchTest, NamesAreFoundWithoutRegardToCase) {
    const char16_t* spellings[] = {u"Long", u"LONG", u"long", u"lOnG"};
    for (const char16_t* name : spellings) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, kLong);
    }
    LPOLESTR aboutName[] = {const_cast<LPOLESTR>(u"writeonly")};
    DISPID id = 0;
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, aboutName, 1, 0, &id), S_OK);
    EXPECT_EQ(id, kWriteOnly);
}

TEST_F(DispatchTest, UnknownNames) {
    DISPID ids[3] = {0, 0, 0};
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Lon"), nullptr};
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    LPOLESTR longer[] = {const_cast<LPOLESTR>(u"Longer")};
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, longer, 1, 0, ids), DISP_E_UNKNOWNNAME);
    LPOLESTR accented[] = {const_cast<LPOLESTR>(u"L\u00d3NG")};
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, accented, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, unknown + 1, 1, 0, ids), DISP_E_UNKNOWNNAME);

    // The member is found; named parameters are not, since no member takes any.
    LPOLESTR withParams[] = {const_cast<LPOLESTR>(u"Ping"), const_cast<LPOLESTR>(u"x"),
                             const_cast<LPOLESTR>(u"y")};
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, withParams, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], kPing);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);

    LPOLESTR name[] = {const_cast<LPOLESTR>(u"Long")};
    EXPECT_EQ(disp()->GetIDsOfNames(IID_IDispatch, name, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_INVALIDARG);
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, name, 1, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, name, 0, 0, ids), E_INVALIDARG);
}

TEST_F(DispatchTest, TypeInfoCountAndIndex) {
    UINT count = 0;
    EXPECT_EQ(disp()->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(disp()->GetTypeInfoCount(nullptr), E_POINTER);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(disp()->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(disp()->GetTypeInfo(0, 0, nullptr), E_POINTER);
    // This control names no type library.
    EXPECT_EQ(disp()->GetTypeInfo(0, 0, &info), E_NOTIMPL);
}

// The integer puts a host makes per port cycle: exact widening and narrowing, and at the edge of
// the declared type the same refusal as any other conversion.
TEST_F(DispatchTest, IntegerPutsAtTheEdgesOfTheDeclaredType) {
    ASSERT_EQ(PutProp(disp(), kLong, VarI2(-5)), S_OK);
    EXPECT_EQ(ctrl->m_long, -5);
    EXPECT_TRUE(ctrl->IsModified());
    ASSERT_EQ(PutProp(disp(), kShort, VarI4(32767)), S_OK);
    EXPECT_EQ(ctrl->m_short, 32767);
    ASSERT_EQ(PutProp(disp(), kShort, VarI4(-32768)), S_OK);
    EXPECT_EQ(ctrl->m_short, -32768);
    for (LONG outside : {32768, -32769}) {
        UINT argErr = 99;
        EXPECT_EQ(PutProp(disp(), kShort, VarI4(outside), &argErr), DISP_E_OVERFLOW);
        EXPECT_EQ(argErr, 0u);
    }
    EXPECT_EQ(ctrl->m_short, -32768);
    EXPECT_EQ(ctrl->sets, 3);

    // A put with a further unnamed argument is still refused before the handler runs.
    VARIANT two[2] = {VarI4(1), VarI4(2)};
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS extraArg{two, &putId, 2, 1};
    EXPECT_EQ(Invoke(kLong, DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYGET, &extraArg),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(ctrl->sets, 3);
}

class ThrowingCtrl : public CTestCtrl {
public:
    LONG GetBoom() { throw std::bad_alloc(); }
    void SetBoom(LONG) { throw std::runtime_error("handler failed"); }
};

// Maps need not list members in DISPID order; handlers of properties may throw.
TEST_F(DispatchTest, MapsInAnyOrderAndThrowingProperties) {
    static constexpr AFX_DISPMAP_ENTRY entries[] = {
        AfxDispProperty<&CTestCtrl::GetShort, &CTestCtrl::SetShort>(2, "Short"),
        AfxDispProperty<&CTestCtrl::GetLong, &CTestCtrl::SetLong>(1, "Long"),
        AfxDispProperty<&ThrowingCtrl::GetBoom, &ThrowingCtrl::SetBoom>(DISPID_VALUE, "Boom"),
    };
    static constexpr AFX_DISPMAP map = AfxMakeDispatchMap(entries);
    ThrowingCtrl target;
    VARIANT value = VarI4(-9);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &putId, 1, 1};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT r;
    VariantInit(&r);
    auto invoke = [&](DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* info = nullptr) {
        return AfxDispatchInvoke(&target, map, id, IID_NULL, flags, params, result, info, nullptr);
    };
    ASSERT_EQ(invoke(1, DISPATCH_PROPERTYPUT, &put, nullptr), S_OK);
    EXPECT_EQ(target.m_long, -9);
    ASSERT_EQ(invoke(2, DISPATCH_PROPERTYGET, &none, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I2);
    EXPECT_EQ(r.iVal, 7);
    EXPECT_EQ(invoke(3, DISPATCH_PROPERTYGET, &none, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(-1, DISPATCH_PROPERTYGET, &none, &r), DISP_E_MEMBERNOTFOUND);

    EXCEPINFO info;
    EXPECT_EQ(invoke(DISPID_VALUE, DISPATCH_PROPERTYPUT, &put, nullptr, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_UNEXPECTED);
    EXPECT_EQ(invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, &none, &r, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_OUTOFMEMORY);
    EXPECT_EQ(invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, &none, nullptr), DISP_E_EXCEPTION);
}

}  // namespace
