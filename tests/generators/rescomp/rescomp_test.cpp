// The resource compiler: scripts, type-library descriptions and pictures, and the errors that
// point at the offending line.
#include "generators/rescomp/rescomp.h"

#include <gtest/gtest.h>

#include "platform/com/dialog_template.h"
#include "platform/com/version_info.h"
#include "tests/platform/com/resource_results.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

std::vector<ResourceEntry> Compile(const std::string& script, std::string* error,
                                   const std::string& baseDir = ".") {
    auto compiled = rescomp::CompileResourceScript(script, "test.rsrc", baseDir);
    if (!compiled) {
        *error = compiled.message();
        return {};
    }
    return std::move(compiled->entries);
}

std::string CompileError(const std::string& script, const std::string& baseDir = ".") {
    const auto compiled = rescomp::CompileResourceScript(script, "test.rsrc", baseDir);
    EXPECT_FALSE(compiled) << script;
    return compiled ? std::string() : compiled.message();
}

typelib::LibraryData Describe(const std::string& odl, std::string* error) {
    auto description = rescomp::ParseTypeLibraryDescription(odl, "t.odl");
    if (!description) {
        *error = description.message();
        return {};
    }
    return std::move(description->lib);
}

std::string DescribeError(const std::string& odl) {
    const auto description = rescomp::ParseTypeLibraryDescription(odl, "t.odl");
    EXPECT_FALSE(description) << odl;
    return description ? std::string() : description.message();
}

TEST(ResourceScript, TheCheckedInScriptIsWhatTheModuleCarries) {
    const std::string script = std::string(RESOURCE_SOURCE_DIR) + "/pinbus.rsrc";
    const auto text = rescomp::ReadTextFile(script);
    ASSERT_TRUE(text) << text.message();
    const auto compiled = rescomp::CompileResourceScript(*text, script, RESOURCE_SOURCE_DIR);
    ASSERT_TRUE(compiled) << compiled.message();
    const std::vector<std::string>& deps = compiled->dependencies;
    ASSERT_EQ(deps.size(), 1u);
    EXPECT_NE(deps[0].find("pinbus.odl"), std::string::npos);
    std::vector<ResourceEntry> carried;
    std::string error;
    ASSERT_TRUE(ReadModuleResources(TEST_MODULE_PATH, &carried, &error)) << error;
    EXPECT_EQ(SerializeResourceTable(compiled->entries), SerializeResourceTable(carried));
}

TEST(ResourceScript, CompilesEveryKind) {
    tltest::TempDir dir;
    tltest::WriteBytes(dir.File("lib.odl"),
                       "[uuid(00000001-0000-0000-0000-000000000000)] library L {};");
    std::string error;
    auto entries = Compile(R"(
        language 0x0407
        string 7 "a \"quoted\" text\n"   # comment after a statement
        typelib 1 "lib.odl"
        bitmap 3 3 2
          0f0
          f0f
        end
        icon 4
          image 2 1 .9 end
        end
        dialog 5 1 2 3 4
          style WS_CHILD|0x8
          caption "c"
          font 9 "F"
          button IDCANCEL 1 2 3 4 WS_VISIBLE "Cancel"
        end
        version 6
          fileversion 1 2 3 4
          productversion 5 6 7 8
          fileos VOS__WINDOWS32
          filetype VFT_APP
          translation 0x0407 1252
          value "K" "V"
        end
    )",
                           &error, dir.path());
    ASSERT_EQ(entries.size(), 6u) << error;
    EXPECT_EQ(entries[0].type, ResourceType::String);
    EXPECT_EQ(entries[0].id, 7);
    EXPECT_EQ(entries[0].language, 0x0407);
    EXPECT_EQ(entries[0].bytes, "a \"quoted\" text\n");
    EXPECT_EQ(entries[1].type, ResourceType::TypeLib);
    EXPECT_EQ(entries[2].bytes, rescomp::BuildBitmapFile({3, 2, {0, 15, 0, 15, 0, 15}}));
    EXPECT_EQ(entries[3].bytes, rescomp::BuildIconFile({{2, 1, {-1, 9}}}));
    DialogTemplate d;
    ASSERT_TRUE(ParseDialogTemplate(entries[4].bytes, &d));
    EXPECT_EQ(d.style, 0x40000008u);
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(d.items[0].id, 2);
    VersionInfo v;
    ASSERT_TRUE(ParseVersionInfo(entries[5].bytes, &v));
    EXPECT_EQ(v.productVersion[3], 8);
    EXPECT_EQ(v.fileType, 1u);
    EXPECT_EQ(v.codePage, 1252);
}

// The script for the platform's resource compiler: every entry in its language, texts quoted
// as those scripts quote (doubled quotes, escaped backslashes and line breaks), styles as they
// are (the compiler adds none to a CONTROL), an icon control's text as its resource's ordinal,
// pictures and the library in files holding the entries' own bytes.
TEST(PlatformScript, SaysEveryEntryAsThePlatformsCompilerReadsIt) {
    DialogTemplate d{0x40000040, 0, 0, 250, 62, "", "MS Sans Serif", 8, {}};
    d.items.push_back({DialogItem::Kind::Icon, -1, 0x50000003, 10, 10, 18, 20, "1"});
    d.items.push_back({DialogItem::Kind::Static, -1, 0x40000000, 1, 2, 3, 4, "say \"hi\"\\\n"});
    d.items.push_back({DialogItem::Kind::Button, 1, 0x50010001, 5, 6, 7, 8, "OK"});
    VersionInfo v{{1, 0, 2, 0}, {1, 0, 2, 3}, 4, 2, 0x0407, 1252, {{"K", "V"}}};
    const std::vector<ResourceEntry> entries = {
        {ResourceType::TypeLib, 1, 0x0409, "MSFT..."},
        {ResourceType::Bitmap, 2, 0x0409, "BM bitmap bytes"},
        {ResourceType::Icon, 3, 0x0409, "icon bytes"},
        {ResourceType::Dialog, 100, 0x0809, SerializeDialogTemplate(d)},
        {ResourceType::String, 7, 0x0409, "a\tb"},
        {ResourceType::Version, 1, 0x0407, SerializeVersionInfo(v)},
    };
    const auto script = rescomp::WritePlatformScript(entries, "mod");
    ASSERT_TRUE(script) << script.message();
    const std::string& t = script->text;
    EXPECT_NE(t.find("#pragma code_page(65001)\n"), std::string::npos);
    EXPECT_NE(t.find("LANGUAGE 0x09, 0x01\n1 TYPELIB \"mod_typelib_1.tlb\"\n"), std::string::npos);
    EXPECT_NE(t.find("LANGUAGE 0x09, 0x01\n2 BITMAP \"mod_bitmap_2.bmp\"\n"), std::string::npos);
    EXPECT_NE(t.find("3 ICON \"mod_icon_3.ico\"\n"), std::string::npos);
    EXPECT_NE(
        t.find("LANGUAGE 0x09, 0x02\n100 DIALOG 0, 0, 250, 62\nSTYLE 0x40000040\n"
               "FONT 8, \"MS Sans Serif\"\nBEGIN\n"
               "    CONTROL 1, -1, \"Static\", 0x50000003, 10, 10, 18, 20\n"
               "    CONTROL \"say \"\"hi\"\"\\\\\\n\", -1, \"Static\", 0x40000000, 1, 2, 3, 4\n"
               "    CONTROL \"OK\", 1, \"Button\", 0x50010001, 5, 6, 7, 8\nEND\n"),
        std::string::npos)
        << t;
    EXPECT_EQ(t.find("CAPTION"), std::string::npos);  // none without a caption
    EXPECT_NE(t.find("STRINGTABLE\nBEGIN\n    7, \"a\\tb\"\nEND\n"), std::string::npos);
    EXPECT_NE(t.find("LANGUAGE 0x07, 0x01\n1 VERSIONINFO\nFILEVERSION 1, 0, 2, 0\n"
                     "PRODUCTVERSION 1, 0, 2, 3\n"),
              std::string::npos);
    EXPECT_NE(t.find("FILEOS 0x4\nFILETYPE 0x2\n"), std::string::npos);
    EXPECT_NE(t.find("BLOCK \"040704e4\"\n        BEGIN\n            VALUE \"K\", \"V\"\n"),
              std::string::npos);
    EXPECT_NE(t.find("VALUE \"Translation\", 0x0407, 1252\n"), std::string::npos);
    ASSERT_EQ(script->files.size(), 3u);
    EXPECT_EQ(script->files[0],
              (std::pair<std::string, std::string>{"mod_typelib_1.tlb", "MSFT..."}));
    EXPECT_EQ(script->files[1].second, "BM bitmap bytes");
    EXPECT_EQ(script->files[2].first, "mod_icon_3.ico");
}

TEST(PlatformScript, RefusesWhatItsScriptsCannotSay) {
    const std::vector<ResourceEntry> bell = {{ResourceType::String, 1, 0x0409, "ring\a"}};
    const auto refused = rescomp::WritePlatformScript(bell, "mod");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.message().find("control character 7"), std::string::npos);
    const std::vector<ResourceEntry> torn = {{ResourceType::Dialog, 5, 0x0409, "\x01\x02"}};
    const auto malformed = rescomp::WritePlatformScript(torn, "mod");
    ASSERT_FALSE(malformed);
    EXPECT_EQ(malformed.message(), "DIALOG 5 is malformed");
}

TEST(ResourceScript, ErrorsNameTheLine) {
    const struct {
        const char* script;
        const char* message;
    } cases[] = {
        {"string 1 \"x\"\nwidget 2", "test.rsrc:2: unknown resource kind 'widget'"},
        {"string 1 \"x\"\nstring 1 \"y\"", "test.rsrc:2: STRING 1 defined twice"},
        {"string 0 \"x\"", "test.rsrc:1: a resource id out of range"},
        {"string 1 x", "test.rsrc:1: expected the string's text in quotes"},
        {"string 1 \"x", "test.rsrc:1: unterminated string"},
        {"string 1 \"\\q\"", "unknown escape"},
        {"bitmap 1 2 2\n 00\n 0g\nend", "test.rsrc:3: bad pixel 'g'"},
        {"bitmap 1 2 2\n 00\n 000\nend", "test.rsrc:3: a row of 3 pixels"},
        {"bitmap 1 2 1\n .0\nend", "a bitmap has no transparent pixels"},
        {"bitmap 1 2 1\n 00\n", "expected 'end', found the end of the script"},
        {"bitmap 1 300 1", "a width out of range"},
        {"icon 1\nend", "test.rsrc:1: an icon needs at least one image"},
        {"dialog 1 0 0 1 1\n style WS_NOTHING\nend",
         "test.rsrc:2: expected a style, found 'WS_NOTHING'"},
        {"dialog 1 0 0 1 1\n frame 3\nend", "unknown dialog statement 'frame'"},
        {"dialog 1 0 0 70000 1\nend", "a width out of range"},
        {"version 1\n value \"A\" \"1\"\n value \"A\" \"2\"\nend",
         "test.rsrc:3: version value A given twice"},
        {"typelib 1 \"missing.odl\"", "test.rsrc:1: ./missing.odl: No such file"},
    };
    for (const auto& c : cases) {
        const std::string error = CompileError(c.script);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.script << "\n -> " << error;
    }
}

TEST(ResourceScript, ControlCharactersAreErrorsNotEndlessWords) {
    const std::string error = CompileError(std::string("string 1 \"x\"\n\0", 14));
    EXPECT_NE(error.find("test.rsrc:2: unexpected control character 0"), std::string::npos)
        << error;
}

TEST(ResourceScript, TypeLibraryErrorsNameTheDescriptionsLine) {
    tltest::TempDir dir;
    tltest::WriteBytes(dir.File("bad.odl"), "\n\nlibrary L {};");
    const std::string error = CompileError("typelib 1 \"bad.odl\"", dir.path());
    EXPECT_EQ(error, dir.File("bad.odl") + ":3: the library has no uuid");
}

const char* const kLibraryHead =
    "[uuid(6B2F14D0-5C83-11D0-9E41-0040A7B3C250), version(1.0)] library L {\n";

TEST(TypeLibraryDescription, DispinterfaceMembersAndCoclass) {
    std::string error;
    typelib::LibraryData lib = Describe(std::string(kLibraryHead) + R"(
        /* a block comment */
        [uuid(00000000-0000-0000-0000-000000000010), nonextensible]
        dispinterface D {
            properties:
                [id(DISPID_VALUE), readonly, helpstring("v")] double Level;
            methods:
                [id(5), propget] BSTR Name();
                [id(5), propput] void Name([in] BSTR value);
                [id(6)] IDispatch* Find([in, optional] VARIANT key, [out, retval] long* where);
                [id(7)] void Take(D* other, unsigned short n);
        };
        [uuid(00000000-0000-0000-0000-000000000011), noncreatable, licensed]
        coclass C { [default] dispinterface D; [source, restricted] interface D; };
    };)",
                                        &error);
    ASSERT_EQ(lib.types.size(), 2u) << error;
    const typelib::TypeData& d = lib.types[0];
    EXPECT_EQ(d.flags, TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE);
    ASSERT_EQ(d.vars.size(), 1u);
    EXPECT_EQ(d.vars[0].memid, 0);
    EXPECT_EQ(d.vars[0].flags, VARFLAG_FREADONLY);
    EXPECT_EQ(d.vars[0].type.vt, VT_R8);
    EXPECT_EQ(d.vars[0].doc, "v");
    ASSERT_EQ(d.funcs.size(), 4u);
    EXPECT_EQ(d.funcs[0].invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(d.funcs[0].ret.vt, VT_BSTR);
    EXPECT_EQ(d.funcs[1].invkind, INVOKE_PROPERTYPUT);
    EXPECT_EQ(d.funcs[1].params[0].flags, PARAMFLAG_FIN);
    EXPECT_EQ(d.funcs[2].ret.vt, VT_DISPATCH);
    EXPECT_EQ(d.funcs[2].params[0].flags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
    ASSERT_EQ(d.funcs[2].params[1].type.vt, VT_PTR);
    EXPECT_EQ(d.funcs[2].params[1].type.pointee[0].vt, VT_I4);
    EXPECT_EQ(d.funcs[2].params[1].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    ASSERT_EQ(d.funcs[3].params[0].type.vt, VT_PTR);
    EXPECT_EQ(d.funcs[3].params[0].type.pointee[0].vt, VT_USERDEFINED);
    EXPECT_EQ(d.funcs[3].params[0].type.pointee[0].hreftype, 0u);
    EXPECT_EQ(d.funcs[3].params[1].type.vt, VT_UI2);
    const typelib::TypeData& c = lib.types[1];
    EXPECT_EQ(c.flags, TYPEFLAG_FLICENSED);  // noncreatable clears the default
    ASSERT_EQ(c.impls.size(), 2u);
    EXPECT_EQ(c.impls[1].flags, IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FRESTRICTED);
    EXPECT_EQ(lib.major, 1);
    EXPECT_EQ(lib.lcid, 0u);
}

TEST(TypeLibraryDescription, ErrorsNameTheLine) {
    const std::string head = kLibraryHead;
    const std::string d = "[uuid(00000000-0000-0000-0000-000000000010)] dispinterface D {\n";
    const struct {
        std::string odl;
        const char* message;
    } cases[] = {
        {"library L {};", "t.odl:1: the library has no uuid"},
        {"[uuid(6B2F14D0-5C83)] library L {};", "t.odl:1: bad GUID in uuid()"},
        {"[uuid(6B2F14D0-5C83-11D0-9E41-0040A7B3C250), color(3)] library L {};",
         "attribute color does not apply to a library"},
        {"[version(1.0), version(2.0)] library L {};", "attribute version given twice"},
        {head + "importlib(\"other.tlb\");\n};", "t.odl:2: unknown library other.tlb"},
        {head + "dispinterface D { properties: methods: };\n};",
         "t.odl:2: dispinterface D has no uuid"},
        {head + d + "properties: [id(1)] Widget W;\nmethods: };\n};",
         "t.odl:3: unknown type Widget"},
        {head + d + "properties: [id(1)] long A;\n[id(2)] long A;\nmethods: };\n};",
         "t.odl:4: member A declared twice"},
        {head + d + "properties: long A;\nmethods: };\n};", "t.odl:3: expected 'methods'"},
        {head + d + "properties:\nmethods: [id(1)] void M(long a, long a);\n};\n};",
         "t.odl:4: parameter a declared twice"},
        {head + d + "properties:\nmethods: [id(1), propget, propput] long M();\n};\n};",
         "a method has one property kind at most"},
        {head + d + "properties:\nmethods: [id(WHATEVER)] void M();\n};\n};",
         "unknown constant WHATEVER"},
        {head + d + "properties: [id(1)] long A;\nmethods: [id(1)] void M();\n};\n};",
         "member id 1 used twice"},
        {head + d + "properties:\nmethods:\n};\n" + d + "properties:\nmethods:\n};\n};",
         "t.odl:6: type D defined twice"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011)] coclass C { interface X; };\n};",
         "t.odl:2: unknown interface X"},
        {head +
             "[uuid(00000000-0000-0000-0000-000000000011)] coclass C { [bogus] interface C; };\n};",
         "attribute bogus does not apply to an interface of a coclass"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011)] coclass C { interface C; };\n};",
         "C is not an interface"},
        {head + "module M {};\n};", "t.odl:2: expected importlib, dispinterface or coclass"},
        {head + "};\nextra", "t.odl:3: unexpected 'extra' after the library"},
        {head + "/* open", "unterminated comment"},
        {head + "@", "unexpected character '@'"},
    };
    for (const auto& c : cases) {
        const std::string error = DescribeError(c.odl);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.odl << "\n -> " << error;
    }
}

// The identity header is what the module and its hosts compile against: every id must come out
// exactly as described, and a property page must name a class without entering the type library.
TEST(TypeLibraryDescription, IdentityHeaderNamesEveryIdOnce) {
    const std::string odl = std::string(kLibraryHead) +
                            "[uuid(00000000-0000-0000-0000-0000000000A1)] dispinterface _DThing {\n"
                            "properties: [id(7)] long Level;\n"
                            "methods: [id(8), propget] long Gain(); [id(8), propput] void "
                            "Gain(long g); [id(DISPID_ABOUTBOX)] void AboutBox();\n};\n"
                            "[uuid(00000000-0000-0000-0000-0000000000A2), progid(\"X.Thing.1\")] "
                            "coclass Thing { [default] dispinterface _DThing; };\n"
                            "[uuid(00000000-0000-0000-0000-0000000000A3), propertypage] "
                            "coclass ThingPage { };\n};";
    const auto description = rescomp::ParseTypeLibraryDescription(odl, "t.odl");
    ASSERT_TRUE(description) << description.message();
    const typelib::LibraryData& lib = description->lib;
    const rescomp::ModuleIdentity& identity = description->identity;
    ASSERT_EQ(lib.types.size(), 2u);  // the page is not described to hosts
    ASSERT_EQ(identity.classes.size(), 2u);
    EXPECT_EQ(identity.classes[1].name, "ThingPage");
    EXPECT_EQ(identity.classes[1].progid, "");

    const std::string h = rescomp::GenerateIdentityHeader(lib, identity, "t.odl");
    for (const char* line : {
             "inline constexpr IID IID_DThing = {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, "
             "0x00, 0x00, 0x00, 0x00, 0xA1}};\n",
             "inline constexpr DISPID DISPID_DThing_Level = 7;\n",
             "inline constexpr DISPID DISPID_DThing_Gain = 8;\n",
             "inline constexpr DISPID DISPID_DThing_AboutBox = -552;\n",
             "inline constexpr const char* PROGID_Thing = \"X.Thing.1\";\n",
             "inline constexpr CLSID CLSID_ThingPage = {0x00000000, 0x0000, 0x0000, {0x00, 0x00, "
             "0x00, 0x00, 0x00, 0x00, 0x00, 0xA3}};\n",
         })
        EXPECT_NE(h.find(line), std::string::npos) << line << "\n in:\n" << h;
    EXPECT_EQ(h.find("DISPID_DThing_Gain"), h.rfind("DISPID_DThing_Gain"));
    EXPECT_EQ(h.find("PROGID_ThingPage"), std::string::npos);
}

// A host names a member in its messages by the id it called: a property's get and put share one
// name, and any other id has none.
TEST(TypeLibraryDescription, IdentityHeaderNamesMembersById) {
    const auto description = rescomp::ParseTypeLibraryDescription(
        std::string(kLibraryHead) +
            "[uuid(00000000-0000-0000-0000-0000000000B1)] dispinterface _DMeter { properties: "
            "methods: [id(2), propget] long Range(); [id(2), propput] void Range(long r); }; };",
        "m.odl");
    ASSERT_TRUE(description) << description.message();
    const std::string h =
        rescomp::GenerateIdentityHeader(description->lib, description->identity, "m.odl");
    const std::string lookup =
        "inline constexpr char NAME_DMeter_Range[] = \"Range\";\n"
        "// The name of the _DMeter member with this id; null for none.\n"
        "constexpr const char* MemberName_DMeter(DISPID id) {\n    switch (id) {\n"
        "        case 2:\n            return NAME_DMeter_Range;\n"
        "        default:\n            return nullptr;\n    }\n}\n";
    EXPECT_NE(h.find(lookup), std::string::npos) << h;
}

TEST(TypeLibraryDescription, IdentityErrors) {
    const std::string head = kLibraryHead;
    const struct {
        std::string odl;
        const char* message;
    } cases[] = {
        {head + "[propertypage] coclass P { };\n};", "t.odl:2: property page P has no uuid"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011), propertypage, control] coclass P "
                "{ };\n};",
         "attribute control does not apply to a property page"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011), propertypage] coclass P { interface "
                "P; };\n};",
         "expected '}'"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011), propertypage] coclass P { };\n"
                "[uuid(00000000-0000-0000-0000-000000000012)] coclass P { };\n};",
         "t.odl:3: type P defined twice"},
        {head + "[uuid(00000000-0000-0000-0000-000000000011), progid(3)] coclass P { };\n};",
         "progid takes a string"},
    };
    for (const auto& c : cases) {
        const std::string error = DescribeError(c.odl);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.odl << "\n -> " << error;
    }
}

TEST(Pictures, BitmapRowsAreBottomUpPaddedNibbles) {
    // 3 x 2: top row black, white, red; bottom row blue, lime, black.
    const std::string bmp = rescomp::BuildBitmapFile({3, 2, {0, 15, 9, 12, 10, 0}});
    ASSERT_EQ(bmp.size(), 14u + 40u + 64u + 2 * 4u);
    const std::string pixels = bmp.substr(14 + 40 + 64);
    EXPECT_EQ(pixels, std::string("\xCA\x00\x00\x00\x0F\x90\x00\x00", 8));
    // Palette entry 9 (red) in blue, green, red, reserved order.
    EXPECT_EQ(bmp.substr(14 + 40 + 9 * 4, 4), std::string("\x00\x00\xFF\x00", 4));
}

TEST(Pictures, IconMaskMarksTransparentPixels) {
    // 9 x 1 so that the mask row spills into a second byte: transparent at 0 and 8.
    const std::string ico = rescomp::BuildIconFile({{9, 1, {-1, 1, 2, 3, 4, 5, 6, 7, -1}}});
    const std::size_t image = 6 + 16;
    const std::size_t colour = image + 40 + 64;
    EXPECT_EQ(ico.substr(colour, 8), std::string("\x01\x23\x45\x67\x00\x00\x00\x00", 8));
    EXPECT_EQ(ico.substr(colour + 8, 4), std::string("\x80\x80\x00\x00", 4));
    EXPECT_EQ(ico.size(), colour + 8 + 4);
}

}  // namespace
