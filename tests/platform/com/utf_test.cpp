// UTF-8 <-> UTF-16 at the edges of OLE strings.
#include "platform/com/utf.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/wtypes.h"

namespace {

TEST(UtfConversion, NonAsciiRoundTrips) {
    const std::string utf8 =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x93\xB7";  // Grüße € 📷
    const std::u16string utf16 = u"Gr\u00FC\u00DFe \u20AC \U0001F4F7";
    EXPECT_EQ(Utf8ToOle(utf8), utf16);
    EXPECT_EQ(OleToUtf8(utf16), utf8);
    EXPECT_EQ(OleToUtf8(utf16.c_str()), utf8);
    EXPECT_EQ(Utf8ToOle(""), u"");
    EXPECT_EQ(OleToUtf8(static_cast<LPCOLESTR>(nullptr)), "");
    // Embedded NULs survive the string forms.
    EXPECT_EQ(Utf8ToOle(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    // The first and last code points of each encoded length.
    const std::u16string edges = u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
    EXPECT_EQ(Utf8ToOle(OleToUtf8(edges)), edges);
}

TEST(UtfConversion, IllFormedUtf8BecomesReplacementCharacters) {
    struct Case {
        std::string in;
        std::u16string out;
    };
    for (const Case& c : {
             Case{"a\x80z", u"a\uFFFDz"},                  // lone continuation byte
             Case{"a\xC3", u"a\uFFFD"},                    // truncated at the end
             Case{"\xC3(", u"\uFFFD("},                    // broken sequence resumes at '('
             Case{"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong '/'
             Case{"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
             Case{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
             Case{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
             Case{"\xE2\x82z", u"\uFFFDz"},  // one replacement for the prefix
             Case{"\xF0\x9F\x93", u"\uFFFD"},
             Case{"\xFF\xFE", u"\uFFFD\uFFFD"},
         })
        EXPECT_EQ(Utf8ToOle(c.in), c.out);
}

TEST(UtfConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(OleToUtf8(std::u16string(1, char16_t(0xD83D))), "\xEF\xBF\xBD");
    EXPECT_EQ(OleToUtf8(std::u16string{char16_t(0xDCF7), u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(OleToUtf8(std::u16string{char16_t(0xD83D), u'x', char16_t(0xD83D)}),
              "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
