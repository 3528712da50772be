// BSTR layout and lifetime.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "tests/support/variant.h"

namespace {

std::uint32_t StoredByteCount(BSTR text) {
    std::uint32_t count;
    std::memcpy(&count, reinterpret_cast<const char*>(text) - sizeof count, sizeof count);
    return count;
}

TEST(BstrLayout, CountBeforeCharactersAndNulAfter) {
    BSTR text = SysAllocString(u"Pinbus");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 6u);
    EXPECT_EQ(SysStringByteLen(text), 12u);
    EXPECT_EQ(StoredByteCount(text), 12u);
    EXPECT_EQ(text[6], u'\0');
    EXPECT_EQ(std::u16string(text), u"Pinbus");
    SysFreeString(text);

    // Embedded NULs are part of the string; its length comes from the count, not a scan.
    BSTR withNul = SysAllocStringLen(u"a\0b", 3);
    ASSERT_NE(withNul, nullptr);
    EXPECT_EQ(SysStringLen(withNul), 3u);
    EXPECT_EQ(withNul[1], u'\0');
    EXPECT_EQ(withNul[2], u'b');
    EXPECT_EQ(withNul[3], u'\0');
    SysFreeString(withNul);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);
}

TEST(BstrLayout, NullStringsAndBufferOnlyAllocation) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR buffer = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(SysStringLen(buffer), 4u);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(buffer[i], u'\0');
    SysFreeString(buffer);

    // A length whose byte count does not fit the 32-bit prefix is refused, not truncated.
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(BstrLifetime, ReAllocReplacesAndMayCopyFromItself) {
    BSTR text = SysAllocString(u"first");
    ASSERT_TRUE(SysReAllocString(&text, u"second value"));
    EXPECT_EQ(std::u16string(text), u"second value");
    EXPECT_EQ(SysStringLen(text), 12u);
    // The new text may be a part of the old string.
    ASSERT_TRUE(SysReAllocString(&text, text + 7));
    EXPECT_EQ(std::u16string(text), u"value");
    ASSERT_TRUE(SysReAllocString(&text, nullptr));
    EXPECT_EQ(text, nullptr);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

}  // namespace
