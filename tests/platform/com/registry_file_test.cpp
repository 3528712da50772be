// The REGEDIT4 text of the registry: what is written, what is read, what is refused.
#include <gtest/gtest.h>

#include "platform/com/reg_file.h"
#include "tests/platform/com/reg_file_support.h"

namespace {

reg::Value Sz(const std::string& text) { return {REG_SZ, text + std::string(1, '\0')}; }

reg::Key Parse(const std::string& text) {
    reg::Key root;
    std::string error;
    EXPECT_TRUE(reg::ParseRegistryText(text, &root, &error)) << error;
    return root;
}

std::string ParseError(const std::string& text) {
    reg::Key root;
    std::string error;
    EXPECT_FALSE(reg::ParseRegistryText(text, &root, &error)) << text;
    return error;
}

TEST(RegistryText, WritesSortedSectionsWithEveryParentAndBlankLines) {
    reg::Key root;
    auto& clsid = root.subkeys["CLSID"].subkeys["{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}"];
    clsid.values[""] = Sz("Pinbus Control");
    clsid.subkeys["InprocServer32"].values[""] = Sz("C:\\lib\\PINBUS.OCX");
    clsid.subkeys["Control"];
    root.subkeys["b"].values["Count"] = {REG_DWORD, std::string("\x0a\0\0\0", 4)};
    root.subkeys["a"].values["Say \"hi\""] = {REG_BINARY, "\x01\xff"};
    EXPECT_EQ(reg::WriteRegistryText(root),
              "REGEDIT4\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\a]\n"
              "\"Say \\\"hi\\\"\"=hex:01,ff\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\b]\n"
              "\"Count\"=dword:0000000a\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\CLSID]\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}]\n"
              "@=\"Pinbus Control\"\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}\\Control]\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}\\InprocServer32]\n"
              "@=\"C:\\\\lib\\\\PINBUS.OCX\"\n"
              "\n");
    EXPECT_EQ(reg::WriteRegistryText(reg::Key{}), "REGEDIT4\n\n");
}

TEST(RegistryText, EveryKindOfValueSurvivesWriteAndRead) {
    reg::Key root;
    auto& v = root.subkeys["K"].values;
    v[""] = Sz("default");
    v["quotes"] = Sz("a \"b\" \\c\\ ;not a comment");
    v["empty"] = Sz("");
    v["no nul"] = {REG_SZ, "abc"};
    v["zero length sz"] = {REG_SZ, ""};
    v["inner nul"] = {REG_SZ, std::string("a\0b\0", 4)};
    v["line break"] = Sz("one\ntwo\r\nthree");
    v["utf8"] = Sz("Gr\xc3\xbc\xc3\x9f");
    v["dword"] = {REG_DWORD, std::string("\x91\x05\x02\x00", 4)};
    v["max dword"] = {REG_DWORD, "\xff\xff\xff\xff"};
    v["short dword"] = {REG_DWORD, "\x01\x02"};
    v["binary"] = {REG_BINARY, std::string("\x00\x7f\x80\xff", 4)};
    v["empty binary"] = {REG_BINARY, ""};
    v["expand"] = {REG_EXPAND_SZ, std::string("%HOME%\0", 7)};
    v["none"] = {REG_NONE, "\x01"};
    v["odd type"] = {0x12345, "\x02\x03"};
    root.values["at root"] = Sz("x");
    root.subkeys["K"].subkeys["with ] bracket"].subkeys["and [ this"];
    std::string text = reg::WriteRegistryText(root);
    reg::Key back = Parse(text);
    EXPECT_TRUE(back == root) << text;
    EXPECT_EQ(reg::WriteRegistryText(back), text);
}

TEST(RegistryText, ReadsWhatOtherWritersProduce) {
    reg::Key root = Parse(
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "\r\n"
        "; a comment\r\n"
        "  [HKEY_CLASSES_ROOT\\Foo]  \r\n"
        "\"\"=\"default by empty name\"\r\n"
        "\"Name\" = \"first\"\r\n"
        "\"NAME\"=\"second wins\"\r\n"
        "\"Hex\"=hex:01,02,\\\r\n"
        "  03 ,04\r\n"
        "\"Up\"=dword:ABCDEF01\r\n"
        "\"Short\"=dword:a\r\n"
        "[hkey_classes_root\\FOO\\bar]\r\n"
        "@=hex(2):25,00\r\n");
    ASSERT_EQ(root.subkeys.size(), 1u);
    const reg::Key& foo = root.subkeys.at("foo");
    EXPECT_EQ(root.subkeys.begin()->first, "Foo");  // spelled as first seen
    EXPECT_EQ(foo.values.at(""), Sz("default by empty name"));
    EXPECT_EQ(foo.values.at("name"), Sz("second wins"));
    EXPECT_EQ(foo.values.at("Hex"), (reg::Value{REG_BINARY, "\x01\x02\x03\x04"}));
    EXPECT_EQ(foo.values.at("Up"), (reg::Value{REG_DWORD, "\x01\xef\xcd\xab"}));
    EXPECT_EQ(foo.values.at("Short"), (reg::Value{REG_DWORD, std::string("\x0a\0\0\0", 4)}));
    EXPECT_EQ(foo.subkeys.at("Bar").values.at(""),
              (reg::Value{REG_EXPAND_SZ, std::string("%\0", 2)}));

    EXPECT_TRUE(Parse("") == reg::Key{});  // an empty file is an empty registry
    EXPECT_TRUE(Parse("REGEDIT4") == reg::Key{});
}

TEST(RegistryText, RefusesMalformedTextNamingTheLine) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"REGEDIT5\n", "1: expected \"REGEDIT4\" on the first line"},
        {"[HKEY_CLASSES_ROOT\\A]\n", "1: expected \"REGEDIT4\" on the first line"},
        {"REGEDIT4\n\n@=\"x\"\n", "3: value outside of a key"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\nhello\n", "3: expected a key or a value"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A\n", "2: missing \"]\" after the key name"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n",
         "2: only keys under HKEY_CLASSES_ROOT are supported"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOTX]\n", "2: only keys under HKEY_CLASSES_ROOT are supported"},
        {"REGEDIT4\n[-HKEY_CLASSES_ROOT\\A]\n", "2: key deletions are not supported"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A\\\\B]\n", "2: bad key name"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A\\]\n", "2: bad key name"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\]\n", "2: bad key name"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=-\n", "3: value deletions are not supported"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=\"a\\nb\"\n", "3: bad escape in a string"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=\"abc\n", "3: missing closing quote"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n=\"abc\"\n",
         "3: expected \"=\" after the value name"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=\"abc\" x\n",
         "3: unexpected text after the string"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=dword:123456789\n", "3: bad dword value"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=dword:\n", "3: bad dword value"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=dword:-1\n", "3: bad dword value"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex:1,2\n", "3: bad hex byte"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex:01,\n", "3: hex list ends with \",\""},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex:01 02\n", "3: bad hex list"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex(zz):01\n", "3: bad value type"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex(123456789):01\n", "3: bad value type"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex;01\n", "3: expected \":\" after \"hex\""},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex:01,\\\n",
         "3: hex list ends after a line continuation"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=hex:01,\\\n02,\\\nzz\n", "5: bad hex byte"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"n\"=text\n", "3: bad value data"},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"a\x01\"=\"x\"\n", "3: bad value name"},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseError(c.text), c.error) << c.text;
}

TEST(RegistryText, KeyPathsAreSplitAndCheckedBeforeUse) {
    std::vector<std::string> names;
    EXPECT_TRUE(reg::SplitKeyPath("", &names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(reg::SplitKeyPath("CLSID\\{X}\\InprocServer32\\", &names));
    EXPECT_EQ(names, (std::vector<std::string>{"CLSID", "{X}", "InprocServer32"}));
    for (const char* bad : {"\\A", "A\\\\B", "\\", "A\nB", "A\\\x7f"})
        EXPECT_FALSE(reg::SplitKeyPath(bad, &names)) << bad;
    EXPECT_TRUE(reg::NoCaseEqual("InprocServer32", "INPROCSERVER32"));
    EXPECT_FALSE(reg::NoCaseEqual("a", "ab"));
}

// The checking pass behind lookups must refuse exactly what the parse refuses, with its message,
// and accept the rest (its own shortcuts: names checked eight bytes at a time, strings without
// escapes taken whole, a key path checked at once).
TEST(RegistryText, TheCheckingPassAgreesWithTheParse) {
    const std::string k = "REGEDIT4\n[HKEY_CLASSES_ROOT\\";
    const std::string texts[] = {
        "",
        "REGEDIT4",
        "\xEF\xBB\xBFREGEDIT4\r\n[hkey_classes_root\\A]\r\n@=\"x\"\r\n",
        "REGEDIT5\n",
        "REGEDIT4\n\n@=\"x\"\n",
        k + "A]\nhello\n",
        k + "A\n",
        k + "]\n",
        k + "\\A]\n",
        k + "A\\\\B]\n",
        k + "A\\]\n",
        "REGEDIT4\n[HKEY_CLASSES_ROOTX]\n",
        "REGEDIT4\n[-HKEY_CLASSES_ROOT\\A]\n",
        // A control character early, in the middle of a word, in the tail, and DEL.
        k + "\x01" + "ABCDEFGHIJ]\n",
        k + "ABCDEFGH\x1f" + "IJKLMNOP]\n",
        k + "ABCDEFGHIJKLMNOP\\Q\x7f]\n",
        k + "ABCDEFGH\x7f" + "IJKLMNOP]\n",
        // Bytes above 0x7f are names' letters, not control characters.
        k + "Gr\xc3\xbc\xc3\x9f\xe2\x82\xac\xff\x80\x9f]\n@=\"\xff\"\n",
        k + "A]\n\"ABCDEFGH\x01\"=\"x\"\n",
        k + "A]\n\"AB\\\"CD\x01\"=\"x\"\n",
        k + "A]\n\"AB\\\\\"=\"x\"\n",
        k + "A]\n\"\"=\"\"\n\"n\"=\"a \\\"b\\\" \\\\c\\\\\"\n",
        k + "A]\n\"n\"=\"a\\nb\"\n",
        k + "A]\n\"n\"=\"abc\n",
        k + "A]\n\"n\"=\"abc\\\"\n",
        k + "A]\n\"n\"=\"abc\" x\n",
        k + "A]\n\"n=\"abc\"\n",
        k + "A]\n\"n\"=dword:123456789\n",
        k + "A]\n\"n\"=hex:01,\\\n02,\\\nzz\n",
        k + "A]\n\"n\"=hex:01,\\\n[HKEY_CLASSES_ROOT\\B]\n",
        k + "A]\n\"n\"=hex:01,\n",
        k + "A]\n\"n\"=hex:,\n",
        k + "A]\n\"n\"=hex:\n\"m\"=hex(7):\n",
        k + "A]\n\"n\"=hex(zz):01\n",
        k + "A]\n\"n\"=-\n",
        k + "A]\n\"n\"=text\n",
    };
    for (const std::string& text : texts) {
        reg::Key root;
        reg::SectionIndex index;
        const base::Result<> parsed = reg::ParseRegistryText(text, &root);
        const base::Result<> checked = reg::IndexRegistryText(text, &index);
        ASSERT_EQ(checked.ok(), parsed.ok()) << text;
        if (!parsed) {
            EXPECT_EQ(checked.message(), parsed.message()) << text;
        }
    }
}

// A file in the written order is one run of sections per key; any other order is said so.
TEST(RegistryText, SectionRunsUnderAKeyAndTheirOwnParse) {
    const std::string text =
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "\r\n"
        "[HKEY_CLASSES_ROOT]\r\n"  // 0
        "@=\"root\"\r\n"
        "[HKEY_CLASSES_ROOT\\A]\r\n"        // 1
        "[HKEY_CLASSES_ROOT\\a\\B\\C]\r\n"  // 2: a\B is only implied
        "\"bin\"=hex:01,\\\r\n"
        "  02\r\n"
        "; [HKEY_CLASSES_ROOT\\not a section]\r\n"
        "[HKEY_CLASSES_ROOT\\A\\b\\D]\r\n"  // 3
        "@=\"d\"\r\n"
        "[HKEY_CLASSES_ROOT\\A\\B2]\r\n"   // 4
        "[HKEY_CLASSES_ROOT\\A B]\r\n"     // 5: after everything under A
        "[HKEY_CLASSES_ROOT\\CLSID]\r\n"   // 6
        "[HKEY_CLASSES_ROOT\\CLSIDX]\r\n"  // 7
        "@=\"x\"";
    reg::SectionIndex index;
    ASSERT_TRUE(reg::IndexRegistryText(text, &index));
    ASSERT_TRUE(index.ordered);
    ASSERT_EQ(index.sections.size(), 8u);
    EXPECT_EQ(text.substr(index.sections[2].path, index.sections[2].pathSize), "a\\B\\C");
    EXPECT_EQ(index.sections[0].pathSize, 0u);
    EXPECT_EQ(index.sections[7].end, text.size());
    using Run = std::pair<std::size_t, std::size_t>;
    const auto under = [&](std::vector<std::string> names) { return index.Under(text, names); };
    EXPECT_EQ(under({}), Run(0, 8));
    EXPECT_EQ(under({"a"}), Run(1, 5));
    EXPECT_EQ(under({"A", "B"}), Run(2, 4));  // implied, found by what lies under it
    EXPECT_EQ(under({"A", "B", "C"}), Run(2, 3));
    EXPECT_EQ(under({"A", "B", "C", "E"}).first, under({"A", "B", "C", "E"}).second);
    EXPECT_EQ(under({"A B"}), Run(5, 6));
    EXPECT_EQ(under({"clsid"}), Run(6, 7));  // not CLSIDX
    EXPECT_EQ(under({"CLS"}).first, under({"CLS"}).second);
    EXPECT_EQ(under({"Z"}), Run(8, 8));

    reg::Key whole = Parse(text);
    for (const std::vector<std::string>& names :
         std::vector<std::vector<std::string>>{{"A"}, {"A", "B"}, {"A", "B", "C"}, {"CLSIDX"}}) {
        const auto [first, last] = index.Under(text, names);
        reg::Key piece;
        ASSERT_TRUE(reg::ParseSections(text, index, first, last, &piece));
        const reg::Key* a = &whole;
        const reg::Key* b = &piece;
        for (const std::string& name : names) {
            a = &a->subkeys.at(name);
            b = &b->subkeys.at(name);
        }
        EXPECT_TRUE(*a == *b) << names.back();
    }

    for (const char* unordered : {
             "REGEDIT4\n[HKEY_CLASSES_ROOT\\B]\n[HKEY_CLASSES_ROOT\\A]\n",
             "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n[HKEY_CLASSES_ROOT\\a]\n",
             "REGEDIT4\n[HKEY_CLASSES_ROOT\\A B]\n[HKEY_CLASSES_ROOT\\A\\B]\n",
             "REGEDIT4\n[HKEY_CLASSES_ROOT\\A\\B]\n[HKEY_CLASSES_ROOT\\A]\n",
             "REGEDIT4\n[HKEY_CLASSES_ROOT]\n[HKEY_CLASSES_ROOT\\A]\n[HKEY_CLASSES_ROOT]\n",
         }) {
        ASSERT_TRUE(reg::IndexRegistryText(unordered, &index)) << unordered;
        EXPECT_FALSE(index.ordered) << unordered;
    }
}

}  // namespace
