// PINBUSLib as served through ITypeLib and ITypeInfo, the binary format's rules, and loading
// libraries from files.
#include "platform/com/typelib.h"

#include <gtest/gtest.h>

#include "platform/com/resource_table.h"
#include "platform/com/typelib_format.h"
#include "tests/platform/com/resource_results.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

// The format's results, unpacked for checks that read the value and the message apart.
bool ParseInto(std::string_view bytes, typelib::LibraryData* lib, std::string* error) {
    auto parsed = typelib::ParseTypeLibrary(bytes);
    if (!parsed) {
        *error = parsed.message();
        return false;
    }
    *lib = std::move(*parsed);
    return true;
}

bool SerializeInto(const typelib::LibraryData& lib, std::string* bytes, std::string* error) {
    auto serialized = typelib::SerializeTypeLibrary(lib);
    if (!serialized) {
        *error = serialized.message();
        return false;
    }
    *bytes = std::move(*serialized);
    return true;
}

constexpr GUID kLibId = {
    0x6B2F14D0, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
constexpr GUID kDPinbus = {
    0x6B2F14D1, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
constexpr GUID kDPinbusEvents = {
    0x6B2F14D2, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
constexpr GUID kPinbus = {
    0x6B2F14D3, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};

// Takes a BSTR's text and frees it; "<null>" for a null string.
std::string Take(BSTR b) {
    if (!b) return "<null>";
    std::string text = OleToUtf8(b);
    SysFreeString(b);
    return text;
}

std::u16string Wide(const char* s) { return Utf8ToOle(s); }

class PinbusTypeLib : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        HRESULT hr = LoadTypeLib(Wide(GetParam().c_str()).c_str(), &lib_);
        ASSERT_EQ(hr, S_OK) << TypeLibLastErrorText();
    }
    ComPtr<ITypeInfo> Info(UINT index) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(lib_->GetTypeInfo(index, &info), S_OK);
        return info;
    }
    ComPtr<ITypeLib> lib_;
};

TEST_P(PinbusTypeLib, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kLibId);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    EXPECT_EQ(attr->wLibFlags, LIBFLAG_FCONTROL);
    lib_->ReleaseTLibAttr(attr);

    BSTR name, doc, file;
    DWORD context = 99;
    ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, &context, &file), S_OK);
    EXPECT_EQ(Take(name), "PINBUSLib");
    EXPECT_EQ(Take(doc), "pinbus OLE Control module");
    EXPECT_EQ(Take(file), "<null>");  // no help file
    EXPECT_EQ(context, 0u);
}

TEST_P(PinbusTypeLib, ImportsTheStandardAutomationLibrary) {
    std::string bytes, error;
    ASSERT_TRUE(FindModuleResource(GetParam(), ResourceType::TypeLib, 1, &bytes, &error));
    typelib::LibraryData data;
    ASSERT_TRUE(ParseInto(bytes, &data, &error)) << error;
    ASSERT_EQ(data.imports.size(), 1u);
    EXPECT_EQ(data.imports[0].name, "stdole32.tlb");
    EXPECT_EQ(GuidToString(data.imports[0].guid), "{00020430-0000-0000-C000-000000000046}");
    EXPECT_EQ(data.imports[0].major, 1);
    EXPECT_EQ(data.imports[0].minor, 0);
}

TEST_P(PinbusTypeLib, TypesInDeclarationOrder) {
    ASSERT_EQ(lib_->GetTypeInfoCount(), 3u);
    const struct {
        const char* name;
        GUID guid;
        TYPEKIND kind;
    } expected[] = {{"_DPinbus", kDPinbus, TKIND_DISPATCH},
                    {"_DPinbusEvents", kDPinbusEvents, TKIND_DISPATCH},
                    {"Pinbus", kPinbus, TKIND_COCLASS}};
    for (UINT i = 0; i < 3; ++i) {
        TYPEKIND kind;
        ASSERT_EQ(lib_->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, expected[i].kind);
        BSTR name;
        ASSERT_EQ(lib_->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(Take(name), expected[i].name);
        ComPtr<ITypeInfo> byGuid;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(expected[i].guid, &byGuid), S_OK);
        EXPECT_EQ(byGuid.Get(), Info(i).Get());
        UINT index = 99;
        ComPtr<ITypeLib> containing;
        ASSERT_EQ(byGuid->GetContainingTypeLib(&containing, &index), S_OK);
        EXPECT_EQ(containing.Get(), lib_.Get());
        EXPECT_EQ(index, i);
    }
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(lib_->GetTypeInfoOfGuid(kLibId, &none), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib_->GetTypeInfo(3, &none), TYPE_E_ELEMENTNOTFOUND);
    TYPEKIND kind;
    EXPECT_EQ(lib_->GetTypeInfoType(3, &kind), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib_->GetDocumentation(3, nullptr, nullptr, nullptr, nullptr),
              TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib_->GetDocumentation(-2, nullptr, nullptr, nullptr, nullptr),
              TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(PinbusTypeLib, DispatchInterfaceMembers) {
    ComPtr<ITypeInfo> info = Info(0);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kDPinbus);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    EXPECT_EQ(attr->wTypeFlags & ~(TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE), 0);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->cVars, 3);
    EXPECT_EQ(attr->cFuncs, 1);
    EXPECT_EQ(attr->cImplTypes, 0);
    info->ReleaseTypeAttr(attr);

    // Properties are dispinterface variables, not get/put method pairs.
    const struct {
        MEMBERID id;
        const char* name;
        VARTYPE vt;
    } props[] = {{1, "Address", VT_I4}, {2, "Bits", VT_I2}, {3, "Value", VT_I4}};
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
        EXPECT_EQ(var->memid, props[i].id);
        EXPECT_EQ(var->varkind, VAR_DISPATCH);
        EXPECT_EQ(var->elemdescVar.tdesc.vt, props[i].vt);
        EXPECT_EQ(var->wVarFlags, 0);
        info->ReleaseVarDesc(var);
        BSTR names[2] = {};
        UINT count = 0;
        ASSERT_EQ(info->GetNames(props[i].id, names, 2, &count), S_OK);
        ASSERT_EQ(count, 1u);
        EXPECT_EQ(Take(names[0]), props[i].name);
    }
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &func), S_OK);
    EXPECT_EQ(func->memid, DISPID_ABOUTBOX);
    EXPECT_EQ(func->invkind, INVOKE_FUNC);
    EXPECT_EQ(func->funckind, FUNC_DISPATCH);
    EXPECT_EQ(func->cParams, 0);
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_VOID);
    info->ReleaseFuncDesc(func);

    VARDESC* var = nullptr;
    EXPECT_EQ(info->GetVarDesc(3, &var), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetFuncDesc(1, &func), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetFuncDesc(0, nullptr), E_INVALIDARG);
    UINT count;
    EXPECT_EQ(info->GetNames(4, nullptr, 0, &count), TYPE_E_ELEMENTNOTFOUND);
    HREFTYPE ref;
    EXPECT_EQ(info->GetRefTypeOfImplType(0, &ref), TYPE_E_ELEMENTNOTFOUND);

    BSTR name, doc;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), "_DPinbus");
    EXPECT_NE(Take(doc), "<null>");
    ASSERT_EQ(info->GetDocumentation(DISPID_ABOUTBOX, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), "AboutBox");
    EXPECT_EQ(info->GetDocumentation(77, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(PinbusTypeLib, NamesResolveWithoutRegardToCase) {
    ComPtr<ITypeInfo> info = Info(0);
    std::u16string address = Wide("aDDRESS"), about = Wide("aboutbox"), nope = Wide("Port");
    std::u16string param = Wide("x");
    MEMBERID id = 0;
    LPOLESTR one[] = {address.data()};
    ASSERT_EQ(info->GetIDsOfNames(one, 1, &id), S_OK);
    EXPECT_EQ(id, 1);
    one[0] = about.data();
    ASSERT_EQ(info->GetIDsOfNames(one, 1, &id), S_OK);
    EXPECT_EQ(id, DISPID_ABOUTBOX);
    one[0] = nope.data();
    EXPECT_EQ(info->GetIDsOfNames(one, 1, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, MEMBERID_NIL);
    MEMBERID ids[2];
    LPOLESTR two[] = {about.data(), param.data()};  // AboutBox has no parameter x
    EXPECT_EQ(info->GetIDsOfNames(two, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_ABOUTBOX);
    EXPECT_EQ(ids[1], MEMBERID_NIL);
    EXPECT_EQ(info->GetIDsOfNames(nullptr, 1, &id), E_INVALIDARG);

    BOOL isName = FALSE;
    std::u16string buffer = Wide("pinbus");
    ASSERT_EQ(lib_->IsName(buffer.data(), 0, &isName), S_OK);
    EXPECT_TRUE(isName);
    EXPECT_EQ(OleToUtf8(buffer), "Pinbus");  // the library's spelling
    ITypeInfo* found[2] = {};
    MEMBERID memids[2];
    USHORT count = 2;
    std::u16string value = Wide("VALUE");
    ASSERT_EQ(lib_->FindName(value.data(), 0, found, memids, &count), S_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(found[0], Info(0).Get());
    EXPECT_EQ(memids[0], 3);
    found[0]->Release();
}

TEST_P(PinbusTypeLib, EventInterfaceIsEmpty) {
    ComPtr<ITypeInfo> info = Info(1);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kDPinbusEvents);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->cFuncs, 0);
    EXPECT_EQ(attr->cVars, 0);
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    info->ReleaseTypeAttr(attr);
}

TEST_P(PinbusTypeLib, CoclassIsACreatableControlWithItsInterfaces) {
    ComPtr<ITypeInfo> info = Info(2);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kPinbus);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    ASSERT_EQ(attr->cImplTypes, 2);
    info->ReleaseTypeAttr(attr);

    const struct {
        GUID guid;
        INT flags;
    } impls[] = {{kDPinbus, IMPLTYPEFLAG_FDEFAULT},
                 {kDPinbusEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE ref;
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
        INT flags = -1;
        ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, impls[i].flags);
        ComPtr<ITypeInfo> target;
        ASSERT_EQ(info->GetRefTypeInfo(ref, &target), S_OK);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(target->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->guid, impls[i].guid);
        target->ReleaseTypeAttr(ta);
    }
    HREFTYPE ref;
    INT flags;
    ComPtr<ITypeInfo> target;
    EXPECT_EQ(info->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetImplTypeFlags(2, &flags), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetRefTypeInfo(1000, &target), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(PinbusTypeLib, TypeInformationKeepsItsLibraryAlive) {
    ComPtr<ITypeInfo> info = Info(0);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(info->QueryInterface(IID_ITypeLib, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    lib_.Reset();  // the type information still holds the library
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kDPinbus);
    ComPtr<ITypeLib> back;
    ASSERT_EQ(info->GetContainingTypeLib(&back, nullptr), S_OK);
    EXPECT_EQ(back->GetTypeInfoCount(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Modules, PinbusTypeLib, ::testing::ValuesIn(tltest::ResourceModules()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.index == 0 ? std::string("TestModule")
                                                    : std::string("PinbusOcx");
                         });

// ---------------------------------------------------------------- the binary format

std::string PinbusLibraryBytes() {
    std::string bytes, error;
    EXPECT_TRUE(FindModuleResource(TEST_MODULE_PATH, ResourceType::TypeLib, 1, &bytes, &error))
        << error;
    return bytes;
}

typelib::LibraryData PinbusLibrary() {
    typelib::LibraryData lib;
    std::string error;
    EXPECT_TRUE(ParseInto(PinbusLibraryBytes(), &lib, &error)) << error;
    return lib;
}

TEST(TypeLibFormat, WritesBackWhatItReads) {
    std::string again, error;
    ASSERT_TRUE(SerializeInto(PinbusLibrary(), &again, &error)) << error;
    EXPECT_EQ(again, PinbusLibraryBytes());
}

TEST(TypeLibFormat, EveryTruncationAndTrailingByteIsAnError) {
    const std::string bytes = PinbusLibraryBytes();
    typelib::LibraryData lib;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        std::string error;
        EXPECT_FALSE(ParseInto(std::string_view(bytes).substr(0, n), &lib, &error)) << n;
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_FALSE(ParseInto(bytes + '\0', &lib, &error));
    EXPECT_NE(error.find("trailing"), std::string::npos);
}

TEST(TypeLibFormat, LibrariesBreakingTheRulesAreRefused) {
    struct Case {
        const char* what;
        void (*damage)(typelib::LibraryData&);
        const char* message;
    } cases[] = {
        {"two types with one GUID", [](auto& l) { l.types[1].guid = l.types[0].guid; }, "GUID"},
        {"an implemented type outside the library", [](auto& l) { l.types[2].impls[0].type = 3; },
         "outside"},
        {"a member id used twice", [](auto& l) { l.types[0].vars[1].memid = 1; }, "used twice"},
        {"a property sharing a method's id", [](auto& l) { l.types[0].funcs[0].memid = 2; },
         "used twice"},
        {"a nameless member", [](auto& l) { l.types[0].vars[0].name.clear(); }, "no name"},
        {"a name that is not UTF-8", [](auto& l) { l.types[0].doc = "\xC3\x28"; }, "UTF-8"},
        {"an overlong UTF-8 form", [](auto& l) { l.doc = "\xC0\xAF"; }, "UTF-8"},
        {"a user-defined type outside the library",
         [](auto& l) {
             l.types[0].vars[0].type.vt = VT_USERDEFINED;
             l.types[0].vars[0].type.hreftype = 9;
         },
         "outside"},
        {"a pointer without its type", [](auto& l) { l.types[0].vars[0].type.vt = VT_PTR; },
         "pointer"},
        {"a bad kind", [](auto& l) { l.types[1].kind = static_cast<TYPEKIND>(12); }, "kind"},
        {"a bad invoke kind",
         [](auto& l) { l.types[0].funcs[0].invkind = static_cast<INVOKEKIND>(3); }, "kind"},
    };
    for (const Case& c : cases) {
        typelib::LibraryData lib = PinbusLibrary();
        c.damage(lib);
        std::string bytes, error;
        EXPECT_FALSE(SerializeInto(lib, &bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

// A kind byte no enumeration declares is refused as it is read, before it is held as one.
TEST(TypeLibFormat, KindsOutsideTheirEnumerationsAreRefusedWhenRead) {
    const std::string bytes = PinbusLibraryBytes();
    const typelib::LibraryData lib = PinbusLibrary();
    // Where a length-prefixed name starts (its length word) in the file.
    auto name_at = [&](const std::string& name) {
        std::string prefixed(2, '\0');
        prefixed[0] = static_cast<char>(name.size());
        const std::size_t at = bytes.find(prefixed + name);
        EXPECT_NE(at, std::string::npos) << name;
        return at;
    };
    const std::size_t type = name_at(lib.types[0].name);
    const std::size_t func = name_at(lib.types[0].funcs[0].name);
    const std::size_t var = name_at(lib.types[0].vars[0].name);
    struct Case {
        std::size_t offset;
        char value;
        const char* message;
    } cases[] = {
        {typelib::kTypeLibMagicSize + 2 + 16 + 2 + 2 + 4, 41, "bad system kind"},
        {type - 2 - 16 - 1, static_cast<char>(200), ": bad kind"},  // kind, flags, GUID, name
        {func - 2 - 3, 16, ": bad kind"},                           // invoke kind, ..., flags
        {func - 2 - 1, static_cast<char>(255), ": bad kind"},       // calling convention
        {var - 2 - 1, 41, ": bad kind"},                            // variable kind, flags
    };
    for (const Case& c : cases) {
        std::string damaged = bytes;
        damaged[c.offset] = c.value;
        typelib::LibraryData back;
        std::string error;
        EXPECT_FALSE(ParseInto(damaged, &back, &error)) << c.offset;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.offset << ": " << error;
    }
}

TEST(TypeLibFormat, PointerChainsAreBoundedAndHugeCountsDoNotAllocate) {
    typelib::LibraryData lib = PinbusLibrary();
    typelib::TypeRef t;
    t.vt = VT_I4;
    for (int i = 0; i < typelib::kMaxTypeDepth; ++i) {
        typelib::TypeRef p;
        p.vt = VT_PTR;
        p.pointee.push_back(t);
        t = p;
    }
    lib.types[0].vars[0].type = t;
    std::string bytes, error;
    ASSERT_TRUE(SerializeInto(lib, &bytes, &error)) << error;
    typelib::LibraryData back;
    ASSERT_TRUE(ParseInto(bytes, &back, &error)) << error;

    // One level deeper, written by hand: a reader must stop instead of recursing on. Address's
    // type follows its name, its empty help string and its help context.
    std::string deeper = bytes;
    const std::size_t at = deeper.find("Address");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(deeper.substr(at + 7 + 2 + 4, 2), std::string("\x1a\x00", 2));
    deeper.insert(at + 7 + 2 + 4, std::string("\x1a\x00", 2));
    EXPECT_FALSE(ParseInto(deeper, &back, &error));

    // A type count of 65535 with nothing behind it.
    std::string hostile(typelib::kTypeLibMagic, typelib::kTypeLibMagicSize);
    hostile += std::string("\x01\x00", 2) + std::string(16 + 4 + 4 + 2 + 2, '\0');
    hostile += std::string("\x01\x00P", 3) + std::string(2 + 2 + 4, '\0');
    hostile += std::string("\x00\x00\xFF\xFF", 4);
    EXPECT_FALSE(ParseInto(hostile, &back, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(LoadTypeLibFiles, ModulesBareFilesAndFailures) {
    tltest::TempDir dir;
    ComPtr<ITypeLib> lib;
    const std::string bare = dir.File("pinbus.tlb");
    tltest::WriteBytes(bare, PinbusLibraryBytes());
    ASSERT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), S_OK) << TypeLibLastErrorText();
    EXPECT_EQ(lib->GetTypeInfoCount(), 3u);

    std::string damaged = PinbusLibraryBytes();
    damaged.resize(damaged.size() - 3);
    tltest::WriteBytes(bare, damaged);
    EXPECT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), TYPE_E_INVDATAREAD);
    EXPECT_FALSE(lib);
    EXPECT_NE(TypeLibLastErrorText().find(bare), std::string::npos);

    std::string future = PinbusLibraryBytes();
    future[typelib::kTypeLibMagicSize] = 2;
    tltest::WriteBytes(bare, future);
    EXPECT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), TYPE_E_UNSUPFORMAT);

    EXPECT_EQ(LoadTypeLib(Wide(dir.File("none").c_str()).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"/proc/self/exe", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_NE(TypeLibLastErrorText().find("no resource section"), std::string::npos);
    EXPECT_EQ(LoadTypeLib(Wide(dir.path().c_str()).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"", &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(nullptr, &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(u"x", nullptr), E_INVALIDARG);

    ASSERT_EQ(LoadTypeLibFromMemory(PinbusLibraryBytes(), &lib), S_OK);
    EXPECT_EQ(LoadTypeLibFromMemory("LBTYPLIB", &lib), TYPE_E_INVDATAREAD);
}

}  // namespace
