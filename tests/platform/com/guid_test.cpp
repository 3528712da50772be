// GUID text forms.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/guid_text.h"
#include "platform/com/oleauto.h"

namespace {

constexpr GUID kSample = {
    0x6B2F14D3, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
constexpr const char* kSampleText = "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}";

TEST(GuidText, RegistryFormRoundTrips) {
    EXPECT_EQ(GuidToString(kSample), kSampleText);
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
    GUID parsed{};
    ASSERT_TRUE(GuidFromString(kSampleText, &parsed));
    EXPECT_EQ(parsed, kSample);
    ASSERT_TRUE(GuidFromString("{6b2f14d3-5c83-11d0-9e41-0040a7b3c250}", &parsed));
    EXPECT_EQ(parsed, kSample);
    const GUID high = {0xFFFFFFFF, 0xFFFF, 0x8000, {0xFF, 1, 2, 3, 4, 5, 6, 0xFE}};
    ASSERT_TRUE(GuidFromString(GuidToString(high), &parsed));
    EXPECT_EQ(parsed, high);
}

TEST(GuidText, RefusesEveryOtherForm) {
    GUID parsed = kSample;
    for (const char* text :
         {"", "6B2F14D3-5C83-11D0-9E41-0040A7B3C250", "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250",
          "6B2F14D3-5C83-11D0-9E41-0040A7B3C250}", "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250} ",
          " {6B2F14D3-5C83-11D0-9E41-0040A7B3C250}", "{6B2F14D35C83-11D0-9E41-0040A7B3C250}",
          "{6B2F14D3-5C83-11D0-9E410040A7B3C250}", "{6B2F14D3-5C83-11D0-9E41-0040A7B3C25G}",
          "{6B2F14D3_5C83-11D0-9E41-0040A7B3C250}", "(6B2F14D3-5C83-11D0-9E41-0040A7B3C250)",
          "{+B2F14D3-5C83-11D0-9E41-0040A7B3C250}", "{6B2F14D3-5C83-11D0-9E41-0040A7B3C2500}",
          "{0x2F14D3-5C83-11D0-9E41-0040A7B3C250}"})
        EXPECT_FALSE(GuidFromString(text, &parsed)) << text;
    EXPECT_EQ(parsed, kSample);
    EXPECT_FALSE(GuidFromString(kSampleText, nullptr));
}

TEST(GuidText, OleStringFunctions) {
    OLECHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), u"{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}");
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0);
    EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(u"{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}", &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);
    EXPECT_EQ(CLSIDFromString(u"PINBUS.PinbusCtrl.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{6B2F14D3-5C83-11D0-9E41-0040A7B3C25\u00C4}", &clsid),
              CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(clsid, kSample);

    IID iid{};
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}", &iid), S_OK);
    EXPECT_EQ(iid, IID_IDispatch);
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}x", &iid), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(u"", &iid), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}", nullptr), E_INVALIDARG);
}

TEST(HresultText, EightLowerCaseHexDigits) {
    EXPECT_EQ(HresultToString(DISP_E_TYPEMISMATCH), "0x80020005");
    EXPECT_EQ(HresultToString(S_FALSE), "0x00000001");
}

}  // namespace
