// PINBUS.OCX's resources, read from the module file: every type with its exact content.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/com/dialog_template.h"
#include "platform/com/resource_table.h"
#include "platform/com/version_info.h"
#include "tests/platform/com/resource_results.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

constexpr std::uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                        WS_CAPTION = 0x00C00000, WS_SYSMENU = 0x00080000, WS_GROUP = 0x00020000,
                        WS_TABSTOP = 0x00010000, DS_MODALFRAME = 0x80, DS_SETFONT = 0x40,
                        SS_LEFT = 0, SS_ICON = 3, BS_DEFPUSHBUTTON = 1;

std::uint32_t U32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t{static_cast<unsigned char>(b[at + i])} << (8 * i);
    return v;
}
std::uint16_t U16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

class PinbusResources : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(ReadModuleResources(GetParam(), &entries_, &error)) << error;
    }
    const std::string& Bytes(ResourceType type, std::uint16_t id) {
        for (const ResourceEntry& e : entries_)
            if (e.type == type && e.id == id) return e.bytes;
        ADD_FAILURE() << ResourceTypeName(type) << " " << id << " missing";
        static const std::string none;
        return none;
    }
    std::vector<ResourceEntry> entries_;
};

TEST_P(PinbusResources, HoldsExactlyTheLibrarysResourcesInUsEnglish) {
    std::set<std::pair<std::string, int>> found;
    for (const ResourceEntry& e : entries_) {
        EXPECT_EQ(e.language, 0x0409);
        found.insert({ResourceTypeName(e.type), e.id});
    }
    const std::set<std::pair<std::string, int>> expected = {
        {"TYPELIB", 1}, {"BITMAP", 1}, {"ICON", 1},     {"DIALOG", 1}, {"DIALOG", 100},
        {"STRING", 1},  {"STRING", 2}, {"STRING", 100}, {"VERSION", 1}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(entries_.size(), expected.size());
}

TEST_P(PinbusResources, Strings) {
    EXPECT_EQ(Bytes(ResourceType::String, 1), "Pinbus Control");
    EXPECT_EQ(Bytes(ResourceType::String, 2), "Pinbus Property Page");
    EXPECT_EQ(Bytes(ResourceType::String, 100), "General");
}

TEST_P(PinbusResources, AboutBoxTemplate) {
    DialogTemplate d;
    ASSERT_TRUE(ParseDialogTemplate(Bytes(ResourceType::Dialog, 1), &d));
    EXPECT_EQ(d.style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    EXPECT_EQ(d.x, 34);
    EXPECT_EQ(d.y, 22);
    EXPECT_EQ(d.cx, 200);
    EXPECT_EQ(d.cy, 95);
    EXPECT_EQ(d.caption, "About Pinbus Control");
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.items.size(), 3u);

    const DialogItem& icon = d.items[0];
    EXPECT_EQ(icon.kind, DialogItem::Kind::Icon);
    EXPECT_EQ(icon.id, -1);
    EXPECT_EQ(icon.style, SS_ICON | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(std::vector<int>({icon.x, icon.y, icon.cx, icon.cy}),
              std::vector<int>({10, 10, 18, 20}));
    EXPECT_EQ(icon.text, "1");

    const DialogItem& text = d.items[1];
    EXPECT_EQ(text.kind, DialogItem::Kind::Static);
    EXPECT_EQ(text.id, -1);
    EXPECT_EQ(text.style, SS_LEFT | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(std::vector<int>({text.x, text.y, text.cx, text.cy}),
              std::vector<int>({45, 13, 99, 8}));
    EXPECT_EQ(text.text, "Pinbus Control, Version 1.2");

    const DialogItem& ok = d.items[2];
    EXPECT_EQ(ok.kind, DialogItem::Kind::Button);
    EXPECT_EQ(ok.id, 1);  // IDOK
    EXPECT_EQ(ok.style, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(std::vector<int>({ok.x, ok.y, ok.cx, ok.cy}), std::vector<int>({151, 36, 32, 14}));
    EXPECT_EQ(ok.text, "OK");
}

TEST_P(PinbusResources, PropertyPageTemplate) {
    DialogTemplate d;
    ASSERT_TRUE(ParseDialogTemplate(Bytes(ResourceType::Dialog, 100), &d));
    EXPECT_EQ(d.style, WS_CHILD | DS_SETFONT);  // no caption, no border, not visible itself
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({0, 0, 250, 62}));
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.items.size(), 1u);
    const DialogItem& text = d.items[0];
    EXPECT_EQ(text.kind, DialogItem::Kind::Static);
    EXPECT_EQ(text.id, -1);
    EXPECT_EQ(text.style, SS_LEFT | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(std::vector<int>({text.x, text.y, text.cx, text.cy}),
              std::vector<int>({24, 25, 212, 16}));
    EXPECT_EQ(text.text, "Not implemented!");
}

TEST_P(PinbusResources, VersionBlock) {
    VersionInfo v;
    ASSERT_TRUE(ParseVersionInfo(Bytes(ResourceType::Version, 1), &v));
    EXPECT_EQ(std::vector<int>(v.fileVersion, v.fileVersion + 4), std::vector<int>({1, 0, 2, 0}));
    EXPECT_EQ(std::vector<int>(v.productVersion, v.productVersion + 4),
              std::vector<int>({1, 0, 2, 0}));
    EXPECT_EQ(v.fileOS, 0x4u);    // VOS__WINDOWS32
    EXPECT_EQ(v.fileType, 0x2u);  // VFT_DLL
    EXPECT_EQ(v.language, 0x0409);
    EXPECT_EQ(v.codePage, 1200);
    std::map<std::string, std::string> strings(v.strings.begin(), v.strings.end());
    EXPECT_EQ(strings.size(), v.strings.size()) << "a key given twice";
    EXPECT_EQ(strings["FileDescription"], "Pinbus OLE I/O Port Control");
    EXPECT_EQ(strings["FileVersion"], "1, 0, 2, 0");
    EXPECT_EQ(strings["InternalName"], "PINBUS");
    EXPECT_EQ(strings["OriginalFilename"], "PINBUS.OCX");
    EXPECT_EQ(strings["ProductName"], "Pinbus OLE I/O Port Control");
    EXPECT_EQ(strings["ProductVersion"], "1, 0, 2, 0");
    EXPECT_FALSE(strings["CompanyName"].empty());
    EXPECT_FALSE(strings["LegalCopyright"].empty());
    EXPECT_EQ(strings.size(), 8u);
}

// Checks a 4-bit BITMAPINFOHEADER at `at` and returns the number of bytes its image takes.
void ExpectInfoHeader(const std::string& b, std::size_t at, int width, int height) {
    EXPECT_EQ(U32(b, at), 40u);
    EXPECT_EQ(static_cast<int>(U32(b, at + 4)), width);
    EXPECT_EQ(static_cast<int>(U32(b, at + 8)), height);
    EXPECT_EQ(U16(b, at + 12), 1);   // planes
    EXPECT_EQ(U16(b, at + 14), 4);   // 16 colours
    EXPECT_EQ(U32(b, at + 16), 0u);  // uncompressed
}

TEST_P(PinbusResources, BitmapIs24By22With16Colours) {
    const std::string& b = Bytes(ResourceType::Bitmap, 1);
    ASSERT_GE(b.size(), 14u + 40u + 64u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), 14u + 40u + 64u);  // pixels right after the 16-entry palette
    ExpectInfoHeader(b, 14, 24, 22);
    EXPECT_EQ(U32(b, 14 + 32), 16u);  // colours used
    const std::size_t rowBytes = 12;  // 24 pixels of 4 bits, already a whole number of words
    EXPECT_EQ(b.size(), 14u + 40u + 64u + rowBytes * 22);
    std::set<int> colours;
    for (std::size_t i = U32(b, 10); i < b.size(); ++i) {
        colours.insert(static_cast<unsigned char>(b[i]) >> 4);
        colours.insert(static_cast<unsigned char>(b[i]) & 15);
    }
    EXPECT_GE(colours.size(), 4u) << "a picture, not a blank";
}

TEST_P(PinbusResources, IconGroupHolds32And16PixelImagesOf16Colours) {
    const std::string& b = Bytes(ResourceType::Icon, 1);
    ASSERT_GE(b.size(), 6u + 2 * 16u);
    EXPECT_EQ(U16(b, 0), 0);
    EXPECT_EQ(U16(b, 2), 1);  // icon
    ASSERT_EQ(U16(b, 4), 2);
    std::size_t end = 6 + 2 * 16;
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const std::size_t entry = 6 + 16 * i;
        const int side = sizes[i];
        EXPECT_EQ(static_cast<unsigned char>(b[entry]), side);
        EXPECT_EQ(static_cast<unsigned char>(b[entry + 1]), side);
        EXPECT_EQ(static_cast<unsigned char>(b[entry + 2]), 16);  // colours
        EXPECT_EQ(U16(b, entry + 6), 4);                          // bits per pixel
        const std::uint32_t size = U32(b, entry + 8), offset = U32(b, entry + 12);
        EXPECT_EQ(offset, end) << "images follow each other";
        ASSERT_LE(std::uint64_t{offset} + size, b.size());
        ExpectInfoHeader(b, offset, side, side * 2);  // colour rows and mask rows
        const std::size_t colourRow = (side * 4 + 31) / 32 * 4, maskRow = (side + 31) / 32 * 4;
        EXPECT_EQ(size, 40 + 64 + (colourRow + maskRow) * side);
        end = offset + size;
    }
    EXPECT_EQ(end, b.size());
}

INSTANTIATE_TEST_SUITE_P(Modules, PinbusResources, ::testing::ValuesIn(tltest::ResourceModules()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.index == 0 ? std::string("TestModule")
                                                    : std::string("PinbusOcx");
                         });

}  // namespace
