// The resource table, its ELF section and the dialog and version formats, against damaged and
// hostile input as well as good.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/dialog_template.h"
#include "platform/com/resource_table.h"
#include "platform/com/version_info.h"
#include "tests/platform/com/resource_results.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

std::vector<ResourceEntry> SampleEntries() {
    return {{ResourceType::String, 1, 0x0409, "Pinbus Control"},
            {ResourceType::Bitmap, 1, 0x0409, std::string("BM\0\x01\x02", 5)},
            {ResourceType::String, 1, 0x0407, "Pinbus-Steuerelement"},
            {ResourceType::TypeLib, 1, 0x0409, "x"}};
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(ResourceTable, RoundTripsEntriesInOrder) {
    const std::string table = SerializeResourceTable(SampleEntries());
    std::vector<ResourceEntry> back;
    std::string error;
    ASSERT_TRUE(ParseResourceTable(table, &back, &error)) << error;
    ASSERT_EQ(back.size(), 4u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].type, SampleEntries()[i].type);
        EXPECT_EQ(back[i].id, SampleEntries()[i].id);
        EXPECT_EQ(back[i].language, SampleEntries()[i].language);
        EXPECT_EQ(back[i].bytes, SampleEntries()[i].bytes);
    }
    ASSERT_TRUE(ParseResourceTable(SerializeResourceTable({}), &back, &error));
    EXPECT_TRUE(back.empty());
}

TEST(ResourceTable, EveryTruncationIsAnError) {
    const std::string table = SerializeResourceTable(SampleEntries());
    for (std::size_t n = 0; n < table.size(); ++n) {
        std::vector<ResourceEntry> out;
        std::string error;
        EXPECT_FALSE(ParseResourceTable(table.substr(0, n), &out, &error)) << n;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ResourceTable, HostileEntriesAreErrors) {
    const std::string good = SerializeResourceTable(SampleEntries());
    std::vector<ResourceEntry> out;
    std::string error;

    std::string b = good;
    b[0] = 'X';
    EXPECT_FALSE(ParseResourceTable(b, &out, &error));
    EXPECT_NE(error.find("signature"), std::string::npos);

    b = good;  // a count no table could hold must not be trusted for an allocation
    Put32(b, 8, 0xFFFFFFFF);
    EXPECT_FALSE(ParseResourceTable(b, &out, &error));

    b = good;  // offset + size wrapping around 32 bits
    Put32(b, 12 + 8, 0xFFFFFFF0);
    Put32(b, 12 + 12, 0x20);
    EXPECT_FALSE(ParseResourceTable(b, &out, &error));
    EXPECT_NE(error.find("outside"), std::string::npos);

    b = good;  // size running past the end
    Put32(b, 12 + 12, static_cast<std::uint32_t>(good.size()));
    EXPECT_FALSE(ParseResourceTable(b, &out, &error));

    b = good;  // reserved field set
    b[12 + 6] = 1;
    EXPECT_FALSE(ParseResourceTable(b, &out, &error));

    std::vector<ResourceEntry> twice = SampleEntries();
    twice.push_back(twice[0]);
    EXPECT_FALSE(ParseResourceTable(SerializeResourceTable(twice), &out, &error));
    EXPECT_NE(error.find("STRING 1 appears twice"), std::string::npos) << error;
}

DialogTemplate SampleDialog() {
    DialogTemplate d{0x80C800C0, 34, 22, 200, 95, "About", "MS Sans Serif", 8, {}};
    d.items.push_back({DialogItem::Kind::Icon, -1, 0x50000003, 10, 10, 18, 20, "1"});
    d.items.push_back({DialogItem::Kind::Button, 1, 0x50030001, 151, 36, 32, 14, "OK"});
    return d;
}

TEST(DialogTemplateFormat, RoundTripsAndRejectsDamage) {
    const std::string bytes = SerializeDialogTemplate(SampleDialog());
    DialogTemplate d;
    ASSERT_TRUE(ParseDialogTemplate(bytes, &d));
    EXPECT_EQ(d.style, 0x80C800C0u);
    EXPECT_EQ(d.cx, 200);
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0].kind, DialogItem::Kind::Icon);
    EXPECT_EQ(d.items[0].id, -1);
    EXPECT_EQ(d.items[1].text, "OK");

    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(ParseDialogTemplate(bytes.substr(0, n), &d)) << n;
    EXPECT_FALSE(ParseDialogTemplate(bytes + '\0', &d));
    std::string badKind = bytes;
    badKind[bytes.find("MS Sans Serif") + 13 + 2] = 7;  // the first item's kind
    EXPECT_FALSE(ParseDialogTemplate(badKind, &d));

    DialogTemplate huge = SampleDialog();
    huge.caption.assign(70000, 'x');
    EXPECT_EQ(SerializeDialogTemplate(huge), "");  // cannot be stored: no silent truncation
}

TEST(VersionInfoFormat, RoundTripsAndRejectsDamage) {
    VersionInfo v{{1, 0, 2, 0}, {1, 0, 2, 0}, 4, 2, 0x0409, 1200, {{"A", "1"}, {"B", ""}}};
    const std::string bytes = SerializeVersionInfo(v);
    VersionInfo back;
    ASSERT_TRUE(ParseVersionInfo(bytes, &back));
    EXPECT_EQ(back.fileVersion[2], 2);
    EXPECT_EQ(back.codePage, 1200);
    EXPECT_EQ(back.strings, v.strings);
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(ParseVersionInfo(bytes.substr(0, n), &back)) << n;
    EXPECT_FALSE(ParseVersionInfo(bytes + "x", &back));
}

// ---------------------------------------------------------------- the ELF container

struct ElfLayout {
    std::uint64_t shoff;
    std::uint16_t shentsize, shnum, shstrndx;
    int resourceIndex = -1;
};

std::uint64_t Get(const std::string& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}
void Set(std::string& b, std::size_t at, int width, std::uint64_t v) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

ElfLayout Layout(const std::string& image) {
    ElfLayout l;
    l.shoff = Get(image, 0x28, 8);
    l.shentsize = static_cast<std::uint16_t>(Get(image, 0x3A, 2));
    l.shnum = static_cast<std::uint16_t>(Get(image, 0x3C, 2));
    l.shstrndx = static_cast<std::uint16_t>(Get(image, 0x3E, 2));
    const std::uint64_t strtab = Get(image, l.shoff + l.shstrndx * l.shentsize + 24, 8);
    for (int i = 0; i < l.shnum; ++i) {
        const std::uint64_t name = Get(image, l.shoff + i * l.shentsize, 4);
        if (std::strcmp(image.c_str() + strtab + name, kResourceSectionName) == 0)
            l.resourceIndex = i;
    }
    return l;
}

class ModuleElf : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = tltest::ReadBytes(TEST_MODULE_PATH);
        ASSERT_GT(image_.size(), 64u);
        layout_ = Layout(image_);
        ASSERT_GE(layout_.resourceIndex, 0);
    }
    std::size_t Header(int index) const { return layout_.shoff + index * layout_.shentsize; }
    bool Reads(const std::string& image, std::string* error) {
        std::vector<ResourceEntry> entries;
        return ReadResourcesFromImage(image, &entries, error);
    }

    std::string image_;
    ElfLayout layout_;
};

TEST_F(ModuleElf, ReadsTheSameResourcesFromFileAndMemory) {
    std::vector<ResourceEntry> fromFile, fromMemory;
    std::string error;
    ASSERT_TRUE(ReadModuleResources(TEST_MODULE_PATH, &fromFile, &error)) << error;
    ASSERT_TRUE(ReadResourcesFromImage(image_, &fromMemory, &error)) << error;
    ASSERT_EQ(fromFile.size(), fromMemory.size());
    ASSERT_FALSE(fromFile.empty());
    for (std::size_t i = 0; i < fromFile.size(); ++i)
        EXPECT_EQ(fromFile[i].bytes, fromMemory[i].bytes);
}

TEST_F(ModuleElf, ForeignFilesAreErrors) {
    std::string error;
    EXPECT_FALSE(Reads("", &error));
    EXPECT_FALSE(
        Reads("hello, this is not an ELF file at all; it is long enough though......", &error));
    EXPECT_NE(error.find("not an ELF file"), std::string::npos);
    std::string other = image_;
    other[4] = 3;  // no such class
    EXPECT_FALSE(Reads(other, &error));
    EXPECT_NE(error.find("64-bit or 32-bit little-endian"), std::string::npos);
    other = image_;
    other[5] = 2;  // big-endian
    EXPECT_FALSE(Reads(other, &error));
    other = image_;
    other[4] = 1;  // a 64-bit file's header read as a 32-bit one's
    EXPECT_FALSE(Reads(other, &error));
}

// The i386 build's modules are 32-bit ELF files: the same resource section in the 32-bit layout
// (a 52-byte file header, 40-byte section headers with 4-byte offsets and sizes) gives the same
// resources.
TEST_F(ModuleElf, ReadsA32BitModule) {
    const std::size_t res = Header(layout_.resourceIndex);
    const std::string section = image_.substr(Get(image_, res + 24, 8), Get(image_, res + 32, 8));
    const std::string names = std::string("\0.shstrtab\0", 11) + kResourceSectionName + '\0';
    std::string elf(52, '\0');
    elf.replace(0, 7,
                "\x7f"
                "ELF\x01\x01\x01");
    Set(elf, 16, 2, 3);  // a shared object
    Set(elf, 18, 2, 3);  // for the 386
    Set(elf, 20, 4, 1);
    const std::size_t namesAt = elf.size();
    elf += names;
    const std::size_t sectionAt = elf.size();
    elf += section;
    elf.resize((elf.size() + 3) & ~std::size_t{3}, '\0');
    Set(elf, 0x20, 4, elf.size());  // the section headers follow
    Set(elf, 0x28, 2, 52);
    Set(elf, 0x2E, 2, 40);
    Set(elf, 0x30, 2, 3);
    Set(elf, 0x32, 2, 1);
    std::string headers(3 * 40, '\0');
    Set(headers, 40 + 0, 4, 1);  // .shstrtab: a string table
    Set(headers, 40 + 4, 4, 3);
    Set(headers, 40 + 16, 4, namesAt);
    Set(headers, 40 + 20, 4, names.size());
    Set(headers, 80 + 0, 4, 11);  // the resource section: program data
    Set(headers, 80 + 4, 4, 1);
    Set(headers, 80 + 16, 4, sectionAt);
    Set(headers, 80 + 20, 4, section.size());
    elf += headers;

    std::vector<ResourceEntry> wide, narrow;
    std::string error;
    ASSERT_TRUE(ReadResourcesFromImage(image_, &wide, &error)) << error;
    ASSERT_TRUE(ReadResourcesFromImage(elf, &narrow, &error)) << error;
    ASSERT_EQ(narrow.size(), wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(narrow[i].bytes, wide[i].bytes) << i;

    std::string bad = elf;  // the section runs past the end (its 4-byte size)
    Set(bad, elf.size() - 40 + 20, 4, 0xFFFFFFF0u);
    EXPECT_FALSE(Reads(bad, &error));
    EXPECT_NE(error.find("outside the file"), std::string::npos) << error;
    bad = elf;  // section headers shorter than the 32-bit layout's
    Set(bad, 0x2E, 2, 36);
    EXPECT_FALSE(Reads(bad, &error));
    EXPECT_FALSE(Reads(elf.substr(0, 51), &error));
}

TEST_F(ModuleElf, HostileHeadersAreErrors) {
    std::string error;
    struct Case {
        const char* what;
        std::size_t at;
        int width;
        std::uint64_t value;
    } cases[] = {
        {"no section headers", 0x28, 8, 0},
        {"headers past the end", 0x28, 8, image_.size()},
        {"headers at the top of the address space", 0x28, 8, ~std::uint64_t{0} - 10},
        {"short header entries", 0x3A, 2, 16},
        {"more headers than the file holds", 0x3C, 2, 0xFFFE},
        {"name table index out of range", 0x3E, 2, layout_.shnum},
        {"extended count in a damaged header 0", 0x3C, 2, 0},
    };
    for (const Case& c : cases) {
        std::string bad = image_;
        Set(bad, c.at, c.width, c.value);
        if (c.at == 0x3C && c.value == 0) Set(bad, Header(0) + 32, 8, ~std::uint64_t{0});
        EXPECT_FALSE(Reads(bad, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // Truncated anywhere before the end of the section headers.
    for (std::size_t n : {std::size_t{63}, static_cast<std::size_t>(layout_.shoff),
                          static_cast<std::size_t>(layout_.shoff + layout_.shentsize * 2 + 5)}) {
        EXPECT_FALSE(Reads(image_.substr(0, n), &error)) << n;
    }
}

TEST_F(ModuleElf, DamagedSectionEntriesAreErrors) {
    const std::size_t res = Header(layout_.resourceIndex);
    std::string error;
    std::string bad = image_;
    Set(bad, res + 24, 8, image_.size() - 4);  // offset: the section runs past the end
    EXPECT_FALSE(Reads(bad, &error));
    EXPECT_NE(error.find("outside the file"), std::string::npos) << error;

    bad = image_;
    Set(bad, res + 32, 8, ~std::uint64_t{0});  // size wrapping around
    EXPECT_FALSE(Reads(bad, &error));

    bad = image_;
    Set(bad, res + 4, 4, 8);  // SHT_NOBITS: no bytes in the file
    EXPECT_FALSE(Reads(bad, &error));

    bad = image_;  // a second section of the same name
    const int other = layout_.resourceIndex == 1 ? 2 : 1;
    Set(bad, Header(other), 4, Get(image_, res, 4));
    EXPECT_FALSE(Reads(bad, &error));
    EXPECT_NE(error.find("more than one"), std::string::npos);

    bad = image_;  // the name table's own entry points outside the file
    Set(bad, Header(layout_.shstrndx) + 24, 8, image_.size());
    EXPECT_FALSE(Reads(bad, &error));

    bad = image_;  // the resource section's name no longer ends inside the name table
    Set(bad, res, 4, 0x7FFFFFFF);
    EXPECT_FALSE(Reads(bad, &error));
    EXPECT_NE(error.find("no resource section"), std::string::npos);
}

TEST_F(ModuleElf, NoByteOfTheSectionHeadersCanCrashTheReader) {
    const std::size_t begin = layout_.shoff;
    const std::size_t end = begin + std::size_t{layout_.shnum} * layout_.shentsize;
    for (std::size_t at = begin; at < end; ++at) {
        for (unsigned char value : {0x00, 0x7F, 0xFF}) {
            std::string bad = image_;
            bad[at] = static_cast<char>(value);
            std::string error;
            if (!Reads(bad, &error)) {
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

TEST(ModuleFile, UnreadableFilesAreErrorsNamingThePath) {
    tltest::TempDir dir;
    std::vector<ResourceEntry> entries;
    std::string error;
    const std::string missing = dir.File("missing.ocx");
    EXPECT_FALSE(ReadModuleResources(missing, &entries, &error));
    EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;
    EXPECT_FALSE(ReadModuleResources(dir.path(), &entries, &error));
    EXPECT_FALSE(ReadModuleResources("/proc/self/exe", &entries, &error));
    EXPECT_NE(error.find("no resource section"), std::string::npos) << error;

    std::string bytes;
    EXPECT_TRUE(FindModuleResource(TEST_MODULE_PATH, ResourceType::String, 100, &bytes, &error));
    EXPECT_EQ(bytes, "General");
    EXPECT_FALSE(FindModuleResource(TEST_MODULE_PATH, ResourceType::String, 3, &bytes, &error));
    EXPECT_NE(error.find("no resource STRING 3"), std::string::npos) << error;
}

}  // namespace
