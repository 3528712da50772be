// The port access object driven through IDispatch: its properties, port cycles and modified flag.
#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/utf.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

using PortAccessTest = PinbusTest;

TEST_F(PortAccessTest, NewObjectHasItsDefaultsAndDoesNoIo) {
    auto c = NewControl();
    EXPECT_EQ(GetI4(c.Get(), kAddress), 888);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    // Without a host's initialisation the fields hold the same defaults.
    auto raw = NewControl(false);
    EXPECT_EQ(GetI4(raw.Get(), kAddress), 888);
    EXPECT_EQ(GetI2(raw.Get(), kBits), 8);
    c.Reset();
    raw.Reset();
    EXPECT_TRUE(cycles.empty());
}

TEST_F(PortAccessTest, BitsTakesOnlyEightOrSixteen) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
    Save(c);  // clears the flag
    // Any other width is ignored, silently: the put succeeds, nothing changes.
    for (SHORT bits : {12, 0, -8, 32, 7, 9, 15, 17}) {
        EXPECT_EQ(PutProp(c.Get(), kBits, VarI2(bits)), S_OK) << bits;
        EXPECT_EQ(GetI2(c.Get(), kBits), 16);
    }
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(8)), S_OK);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
    EXPECT_TRUE(cycles.empty());
}

TEST_F(PortAccessTest, OutputsDropExcessBits) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x1FF)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(-1)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(-1)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x12345678)), S_OK);
    EXPECT_EQ(cycles, (std::vector<Cycle>{{true, 8, 0x378, 0xFF},
                                          {true, 8, 0x378, 0xFF},
                                          {true, 16, 0x378, 0xFFFF},
                                          {true, 16, 0x378, 0x5678}}));
}

TEST_F(PortAccessTest, InputsAreZeroExtended) {
    auto c = NewControl();
    inputs[0x378] = 0xFF;
    EXPECT_EQ(GetI4(c.Get(), kValue), 255);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    inputs[0x378] = 0x8000;
    EXPECT_EQ(GetI4(c.Get(), kValue), 32768);
    inputs[0x378] = 0xFFFF;
    EXPECT_EQ(GetI4(c.Get(), kValue), 65535);
    EXPECT_EQ(cycles, (std::vector<Cycle>{{false, 8, 0x378, 0xFF},
                                          {false, 16, 0x378, 0x8000},
                                          {false, 16, 0x378, 0xFFFF}}));
}

TEST_F(PortAccessTest, OnlyTheLowSixteenAddressBitsSelectThePort) {
    auto c = NewControl();
    for (LONG address : {0x10378, -64648}) {
        cycles.clear();
        ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(address)), S_OK);
        EXPECT_EQ(GetI4(c.Get(), kAddress), address);
        ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x5A)), S_OK);
        GetI4(c.Get(), kValue);
        EXPECT_EQ(cycles, (std::vector<Cycle>{{true, 8, 0x378, 0x5A}, {false, 8, 0x378, 0xFF}}))
            << address;
    }
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x77A)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x20)), S_OK);
    EXPECT_EQ(cycles.back(), (Cycle{true, 8, 0x77A, 0x20}));
}

TEST_F(PortAccessTest, ALoadedOddWidthMeansSixteenBitCycles) {
    auto c = NewControl();
    ASSERT_EQ(Load(c, Hex("00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 0c 00")),
              S_OK);
    EXPECT_EQ(GetI2(c.Get(), kBits), 12);
    inputs[0x378] = 0xBEEF;
    EXPECT_EQ(GetI4(c.Get(), kValue), 0xBEEF);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x1234)), S_OK);
    EXPECT_EQ(cycles, (std::vector<Cycle>{{false, 16, 0x378, 0xBEEF}, {true, 16, 0x378, 0x1234}}));
}

TEST_F(PortAccessTest, ModifiedFlag) {
    auto c = NewControl();
    const std::string before = Save(c);
    // A Value put marks the object although its saved form does not change.
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(1)), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
    EXPECT_EQ(Save(c), before);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    // Gets never mark it.
    GetI4(c.Get(), kValue);
    GetI4(c.Get(), kAddress);
    GetI2(c.Get(), kBits);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    // Address marks it whatever the value.
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(888)), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
}

TEST_F(PortAccessTest, EveryAccessIsOneCycleAndNothingElseDoesIo) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x37A)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(8)), S_OK);
    EXPECT_TRUE(cycles.empty());
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x27)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(0x27)), S_OK);
    // A get whose result nobody takes still reads the port.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(
        c->Invoke(kValue, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
        S_OK);
    GetI4(c.Get(), kValue);
    c.Reset();  // release does no I/O
    EXPECT_EQ(cycles, (std::vector<Cycle>{{true, 8, 0x37A, 0x27},
                                          {true, 8, 0x37A, 0x27},
                                          {false, 8, 0x37A, 0xFF},
                                          {false, 8, 0x37A, 0xFF}}));
}

TEST_F(PortAccessTest, ArgumentsOfOtherTypes) {
    auto c = NewControl();
    BstrVar address(u"888");
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kAddress, address.v), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 888);

    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarR8(8.5)), S_OK);  // rounds half to even: 8
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarR8(16.5)), S_OK);  // 16
    EXPECT_EQ(GetI2(c.Get(), kBits), 16);
    BstrVar sixteen(u"8");
    ASSERT_EQ(PutProp(c.Get(), kBits, sixteen.v), S_OK);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);

    UINT argErr = 7;
    Save(c);
    EXPECT_EQ(PutProp(c.Get(), kBits, VarI4(70000), &argErr), DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);

    argErr = 7;
    BstrVar letters(u"abc");
    EXPECT_EQ(PutProp(c.Get(), kValue, letters.v, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_TRUE(cycles.empty());

    // A double is rounded to the long Value before its low byte goes out: 300.5 -> 300 -> 0x2C.
    ASSERT_EQ(PutProp(c.Get(), kValue, VarR8(300.5)), S_OK);
    EXPECT_EQ(cycles, (std::vector<Cycle>{{true, 8, 0x378, 0x2C}}));
}

TEST_F(PortAccessTest, MembersByName) {
    auto c = NewControl();
    const std::pair<const char16_t*, DISPID> members[] = {
        {u"Address", 1}, {u"BITS", 2}, {u"value", 3}, {u"AboutBox", DISPID_ABOUTBOX}};
    for (const auto& [name, expected] : members) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        EXPECT_EQ(c->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected);
    }
    LPOLESTR port[] = {const_cast<LPOLESTR>(u"Port")};
    DISPID id = 0;
    EXPECT_EQ(c->GetIDsOfNames(IID_NULL, port, 1, 0, &id), DISP_E_UNKNOWNNAME);
    // AboutBox is a method, not a property.
    VARIANT r;
    EXPECT_EQ(GetProp(c.Get(), DISPID_ABOUTBOX, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(PutProp(c.Get(), DISPID_ABOUTBOX, VarI4(1)), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(GetProp(c.Get(), 4, &r), DISP_E_MEMBERNOTFOUND);
}

}  // namespace

namespace {

// Refuses every cycle at 0x278, as a hardware backend refuses a port it does not present.
class RefusingBackend : public RecordingBackend {
public:
    using RecordingBackend::RecordingBackend;
    std::uint8_t In8(std::uint16_t port) override {
        if (port != 0x278) return RecordingBackend::In8(port);
        portio::ReportFault("PORTIO=direct: refusing in8 at port 0x0278: not granted");
        return 0xFF;
    }
    void Out8(std::uint16_t port, std::uint8_t value) override {
        if (port != 0x278) return RecordingBackend::Out8(port, value);
        portio::ReportFault("PORTIO=direct: refusing out8 at port 0x0278: not granted");
    }
};

// Value through Invoke with an EXCEPINFO: the HRESULT, and the description it carries.
HRESULT InvokeValue(IDispatch* d, WORD flags, VARIANT* arg, VARIANT* result, std::string* why) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = flags == DISPATCH_PROPERTYPUT ? DISPPARAMS{arg, &named, 1, 1}
                                                      : DISPPARAMS{nullptr, nullptr, 0, 0};
    EXCEPINFO info{};
    const HRESULT hr = d->Invoke(3, IID_NULL, 0, flags, &params, result, &info, nullptr);
    *why = info.bstrDescription ? OleToUtf8(info.bstrDescription) : std::string();
    if (hr == DISP_E_EXCEPTION) {
        EXPECT_EQ(info.scode, E_FAIL);
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

TEST_F(PortAccessTest, ARefusedPortFailsTheCallWithTheReasonAndTheHostGoesOn) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RefusingBackend>(&log, nullptr));
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    Save(c);  // clears the modified flag
    VARIANT v = VarI4(5), result;
    VariantInit(&result);
    std::string why;
    EXPECT_EQ(InvokeValue(c.Get(), DISPATCH_PROPERTYPUT, &v, nullptr, &why), DISP_E_EXCEPTION);
    EXPECT_EQ(why, "PORTIO=direct: refusing out8 at port 0x0278: not granted");
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);  // nothing was done
    EXPECT_EQ(InvokeValue(c.Get(), DISPATCH_PROPERTYGET, nullptr, &result, &why), DISP_E_EXCEPTION);
    EXPECT_EQ(why, "PORTIO=direct: refusing in8 at port 0x0278: not granted");
    EXPECT_EQ(result.vt, VT_EMPTY);
    // The next cycle, at a port the backend presents, goes through as ever.
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x378)), S_OK);
    EXPECT_EQ(InvokeValue(c.Get(), DISPATCH_PROPERTYPUT, &v, nullptr, &why), S_OK);
    EXPECT_EQ(log, (std::vector<Cycle>{{true, 8, 0x378, 5}}));
}

// A script host without an EXCEPINFO reads the reason from the error object, once the control
// says it sets one for _DPinbus.
TEST_F(PortAccessTest, ARefusedCycleLeavesItsReasonInTheErrorObject) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RefusingBackend>(&log, nullptr));
    auto c = NewControl();
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(c.As(IID_ISupportErrorInfo, std::addressof(support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_DPinbus), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPersistStreamInit), S_FALSE);

    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    SetErrorInfo(0, nullptr);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(c->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfoText(), "PORTIO=direct: refusing in8 at port 0x0278: not granted");
    // A cycle that goes through leaves no new one.
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x378)), S_OK);
    EXPECT_EQ(c->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
}

}  // namespace
