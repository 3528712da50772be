// PINBUSLib as served through ITypeLib and ITypeInfo, the binary format's rules, and loading
// libraries from files.
#include "platform/com/typelib.h"

#include <gtest/gtest.h>

#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/resource_table.h"
#include "platform/com/typelib_format.h"
#include "platform/com/utf.h"
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
        ASSERT_EQ(hr, S_OK) << TakeErrorInfoText();
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
    // Declared a control; read from bytes, so it has a disk image.
    EXPECT_EQ(attr->wLibFlags, LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE);
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
    // The one type taken from it: IDispatch, which both dispinterfaces implement.
    ASSERT_EQ(data.refs.size(), 1u);
    EXPECT_EQ(data.refs[0].guid, typelib::kIDispatchGuid);
    EXPECT_EQ(data.refs[0].import, 0u);
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
    EXPECT_EQ(attr->cImplTypes, 1);  // IDispatch
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
    // IDispatch comes from the standard automation library, which answers for itself where it is
    // not registered.
    HREFTYPE ref;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    EXPECT_EQ(info->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(info->GetRefTypeInfo(ref, &dispatch), S_OK);
    TYPEATTR* da = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&da), S_OK);
    EXPECT_EQ(da->guid, typelib::kIDispatchGuid);
    EXPECT_EQ(da->typekind, TKIND_INTERFACE);
    dispatch->ReleaseTypeAttr(da);
    ComPtr<ITypeLib> stdole;
    ASSERT_EQ(dispatch->GetContainingTypeLib(&stdole, nullptr), S_OK);
    TLIBATTR* sa = nullptr;
    ASSERT_EQ(stdole->GetLibAttr(&sa), S_OK);
    EXPECT_EQ(sa->guid, typelib::kStdOleGuid);
    EXPECT_EQ(sa->wMajorVerNum, 1);
    stdole->ReleaseTLibAttr(sa);

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

std::int32_t I32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(v);
}
void SetI32At(std::string* bytes, std::size_t at, std::int32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
// Where segment `index` of the directory starts in the file (the library has no help DLL).
std::size_t SegmentAt(const std::string& bytes, int index) {
    const std::size_t dir = 0x54 + 4 * static_cast<std::size_t>(I32At(bytes, 0x20));
    return static_cast<std::size_t>(I32At(bytes, dir + 16 * index));
}

TEST(TypeLibFormat, WritesBackWhatItReads) {
    std::string again, error;
    ASSERT_TRUE(SerializeInto(PinbusLibrary(), &again, &error)) << error;
    EXPECT_EQ(again, PinbusLibraryBytes());
}

// A library of 64-bit modules (SYS_WIN64) counts its vtables in 8-byte pointers: the file holds
// twice the 32-bit sizes and offsets (an offset's flag bit kept), and reading gives back the
// 32-bit layout the library was written from.
TEST(TypeLibFormat, A64BitLibraryCountsItsVtablesInEightBytePointers) {
    typelib::LibraryData lib = PinbusLibrary();
    lib.syskind = SYS_WIN64;
    std::string bytes, error;
    ASSERT_TRUE(SerializeInto(lib, &bytes, &error)) << error;
    const std::string bytes32 = PinbusLibraryBytes();
    EXPECT_EQ(I32At(bytes, 0x14) & 0x0F, SYS_WIN64);
    const std::size_t types64 = SegmentAt(bytes, 0), types32 = SegmentAt(bytes32, 0);
    for (std::size_t i = 0; i < lib.types.size(); ++i) {
        const std::size_t at = 0x64 * i + 0x4C;  // implemented types (low), vtable size (high)
        const auto size64 = static_cast<std::uint16_t>(I32At(bytes, types64 + at) >> 16);
        const auto size32 = static_cast<std::uint16_t>(I32At(bytes32, types32 + at) >> 16);
        EXPECT_EQ(size32, lib.types[i].vtableSize) << i;
        EXPECT_EQ(size64, 2 * size32) << i;
    }
    typelib::LibraryData again;
    ASSERT_TRUE(ParseInto(bytes, &again, &error)) << error;
    std::string rewritten;
    ASSERT_TRUE(SerializeInto(again, &rewritten, &error)) << error;
    EXPECT_EQ(rewritten, bytes);
    for (std::size_t i = 0; i < lib.types.size(); ++i)
        EXPECT_EQ(again.types[i].vtableSize, lib.types[i].vtableSize) << i;
    EXPECT_EQ(typelib::VtableOffsetInFile(0x1D, SYS_WIN64), 0x39);
    EXPECT_EQ(typelib::VtableOffsetFromFile(0x39, SYS_WIN64), 0x1D);
    EXPECT_EQ(typelib::VtableOffsetInFile(0x1D, SYS_WIN32), 0x1D);
}

// The header as the platform's loaders read it.
TEST(TypeLibFormat, HeaderOfThePinbusLibrary) {
    const std::string bytes = PinbusLibraryBytes();
    ASSERT_GE(bytes.size(), 0x54u);
    EXPECT_EQ(bytes.substr(0, 4), "MSFT");
    EXPECT_EQ(I32At(bytes, 0x04), 0x00010002);
    EXPECT_EQ(I32At(bytes, 0x0C), 0x0409);      // lcid
    EXPECT_EQ(I32At(bytes, 0x14) & 0x0F, 1);    // SYS_WIN32
    EXPECT_EQ(I32At(bytes, 0x18), 0x00000001);  // version 1.0
    EXPECT_EQ(I32At(bytes, 0x1C), LIBFLAG_FCONTROL);
    EXPECT_EQ(I32At(bytes, 0x20), 3);   // types
    EXPECT_EQ(I32At(bytes, 0x3C), -1);  // no help file
    EXPECT_EQ(I32At(bytes, 0x40), -1);  // no custom data
    EXPECT_EQ(I32At(bytes, 0x4C), 1);   // IDispatch: the first imported type
    EXPECT_EQ(I32At(bytes, 0x50), 1);   // one imported type
    // The imported library's entry: its GUID's offset, lcid, version 1.0, "stdole32.tlb".
    const std::size_t files = SegmentAt(bytes, 2);
    EXPECT_EQ(I32At(bytes, files + 4), 0x0409);
    EXPECT_EQ(I32At(bytes, files + 8), 0x00000001);
    EXPECT_EQ(bytes.substr(files + 14, 12), "stdole32.tlb");
    // Names carry the platform's hash of themselves, which its loaders look names up by.
    const std::size_t names = SegmentAt(bytes, 7);
    EXPECT_EQ(bytes.substr(names + 12, 9), "PINBUSLib");
    EXPECT_EQ(static_cast<std::uint32_t>(I32At(bytes, names + 8)), 0xD9E40009u);
}

TEST(TypeLibFormat, EveryTruncationIsAnErrorAndPaddingIsNot) {
    const std::string bytes = PinbusLibraryBytes();
    typelib::LibraryData lib;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        std::string error;
        EXPECT_FALSE(ParseInto(std::string_view(bytes).substr(0, n), &lib, &error)) << n;
        EXPECT_FALSE(error.empty());
    }
    // A resource may be padded after the library's last byte.
    std::string error;
    EXPECT_TRUE(ParseInto(bytes + std::string(4, '\0'), &lib, &error)) << error;
}

TEST(TypeLibFormat, LibrariesBreakingTheRulesAreRefused) {
    struct Case {
        const char* what;
        void (*damage)(typelib::LibraryData&);
        const char* message;
    } cases[] = {
        {"two types with one GUID", [](auto& l) { l.types[1].guid = l.types[0].guid; }, "GUID"},
        {"an implemented type outside the library",
         [](auto& l) { l.types[2].impls[0].type = typelib::LocalHref(3); }, "outside"},
        {"an imported type outside the library",
         [](auto& l) { l.types[0].impls[0].type = typelib::ImportedHref(1); }, "outside"},
        {"a member id used twice", [](auto& l) { l.types[0].vars[1].memid = 1; }, "used twice"},
        {"a property sharing a method's id", [](auto& l) { l.types[0].funcs[0].memid = 2; },
         "used twice"},
        {"a nameless member", [](auto& l) { l.types[0].vars[0].name.clear(); }, "no name"},
        {"text outside ASCII", [](auto& l) { l.types[0].doc = "caf\xC3\xA9"; }, "ASCII"},
        {"a control character", [](auto& l) { l.doc = "a\nb"; }, "ASCII"},
        {"a name too long", [](auto& l) { l.types[0].name = std::string(256, 'x'); }, "too long"},
        {"a user-defined type outside the library",
         [](auto& l) {
             l.types[0].vars[0].type.vt = VT_USERDEFINED;
             l.types[0].vars[0].type.hreftype = 7;
         },
         "outside"},
        {"a pointer without its type", [](auto& l) { l.types[0].vars[0].type.vt = VT_PTR; },
         "pointer"},
        {"a bad kind", [](auto& l) { l.types[1].kind = static_cast<TYPEKIND>(12); }, "kind"},
        {"a bad invoke kind",
         [](auto& l) { l.types[0].funcs[0].invkind = static_cast<INVOKEKIND>(3); }, "kind"},
        {"an import of no library", [](auto& l) { l.refs[0].import = 1; }, "no imported"},
        {"an enumeration implementing a type", [](auto& l) { l.types[1].kind = TKIND_ENUM; },
         "only interfaces and classes"},
        {"a dual interface deriving from nothing",
         [](auto& l) {
             l.types[0].flags |= TYPEFLAG_FDUAL;
             l.types[0].dualBase = typelib::LocalHref(3);
         },
         "derives from no interface"},
        {"a dual interface's return value that is not a pointer",
         [](auto& l) {
             l.types[0].flags |= TYPEFLAG_FDUAL;
             l.types[0].dualBase = l.types[0].impls[0].type;
             typelib::ParamData result{
                 "result", {VT_I4, 0, {}}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
             l.types[0].funcs[0].params.push_back(result);
         },
         "not a pointer"},
    };
    for (const Case& c : cases) {
        typelib::LibraryData lib = PinbusLibrary();
        c.damage(lib);
        std::string bytes, error;
        EXPECT_FALSE(SerializeInto(lib, &bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

// Kinds no enumeration declares, and offsets that point outside their segments, are refused as
// they are read.
TEST(TypeLibFormat, DamagedFieldsAreRefusedWhenRead) {
    const std::string bytes = PinbusLibraryBytes();
    const std::size_t types = SegmentAt(bytes, 0);
    const std::size_t members = static_cast<std::size_t>(I32At(bytes, types + 4));
    const std::size_t func = members + 4;      // AboutBox's record
    const std::size_t var = members + 4 + 24;  // Address's record
    struct Case {
        std::size_t offset;
        std::int32_t value;
        const char* message;
    } cases[] = {
        {0x00, 0x4C42544C, "signature"},
        {0x14, 0x4F, "bad system kind"},
        {0x20, 0xFFFF, "truncated"},
        {0x38, 0x7FF0, "name table"},
        {0x24, 0x7FF0, "string table"},
        {0x08, 5, "GUID table"},
        {types, 0x2F, "bad type kind"},
        {types, 0x22, "module types"},
        {types + 4, 0x7FFFFFF0, "outside"},
        {types + 0x54 + 100 * 2, 0x1000, "truncated"},  // the coclass's first interface
        {func + 16, 4 | 3 << 3 | 4 << 8, "bad function kind"},
        {func + 16, 4 | 1 << 3 | 4 << 8 | 0x1000, "default values"},
        {func + 4, 0x1A, "type table"},
        {var + 12, 0x00240029, "bad variable kind"},
        {var + 4, static_cast<std::int32_t>(0x8000001A), "bad type"},
    };
    for (const Case& c : cases) {
        std::string damaged = bytes;
        SetI32At(&damaged, c.offset, c.value);
        typelib::LibraryData back;
        std::string error;
        EXPECT_FALSE(ParseInto(damaged, &back, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.message << ": " << error;
    }
}

TEST(TypeLibFormat, PointerChainsAreBoundedEvenWhenTheyLoop) {
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
    EXPECT_EQ(back.types[0].vars[0].type.pointee.size(), 1u);

    // The outermost pointer made to point at itself: the reader stops instead of recursing on.
    const std::size_t descs = SegmentAt(bytes, 9);
    std::string looped = bytes;
    const std::int32_t outer = (typelib::kMaxTypeDepth - 1) * 8;  // the last entry written
    looped[descs + outer + 4] = static_cast<char>(outer);
    looped[descs + outer + 5] = 0;
    EXPECT_FALSE(ParseInto(looped, &back, &error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;

    typelib::TypeRef deeper;
    deeper.vt = VT_PTR;
    deeper.pointee.push_back(t);
    lib.types[0].vars[0].type = deeper;
    EXPECT_FALSE(SerializeInto(lib, &bytes, &error));
}

// ---------------------------------------------------------------- a library made by widl

class WidlLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadTypeLib(Wide(TYPELIBS_DIR "/coverage.tlb").c_str(), &lib_), S_OK)
            << TakeErrorInfoText();
    }
    ComPtr<ITypeInfo> Type(const char* name) {
        ComPtr<ITypeInfo> info;
        for (UINT i = 0; i < lib_->GetTypeInfoCount(); ++i) {
            BSTR n = nullptr;
            lib_->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr);
            if (Take(n) == name) {
                EXPECT_EQ(lib_->GetTypeInfo(i, &info), S_OK);
            }
        }
        EXPECT_TRUE(info) << name;
        return info;
    }
    std::string RefName(ITypeInfo* info, HREFTYPE ref) {
        ComPtr<ITypeInfo> other;
        if (FAILED(info->GetRefTypeInfo(ref, &other))) return "?";
        BSTR name = nullptr;
        other->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        return Take(name);
    }
    ComPtr<ITypeLib> lib_;
};

TEST_F(WidlLibrary, LibraryHelpAndVersion) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->wMajorVerNum, 2);
    EXPECT_EQ(attr->wMinorVerNum, 5);
    lib_->ReleaseTLibAttr(attr);
    BSTR name, doc, file;
    ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, nullptr, &file), S_OK);
    EXPECT_EQ(Take(name), "CoverageLib");
    EXPECT_EQ(Take(doc), "Type library reader coverage");
    EXPECT_EQ(Take(file), "coverage.hlp");
}

TEST_F(WidlLibrary, EnumerationConstantsWithTheirValues) {
    ComPtr<ITypeInfo> shade = Type("Shade");
    const std::pair<const char*, LONG> expected[] = {
        {"Dark", -1}, {"Plain", 0}, {"Light", 17}, {"Bright", 0x7FFF}};
    for (UINT i = 0; i < 4; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(shade->GetVarDesc(i, &var), S_OK);
        EXPECT_EQ(var->varkind, VAR_CONST);
        ASSERT_NE(var->lpvarValue, nullptr);
        EXPECT_EQ(var->lpvarValue->vt, VT_I4);
        EXPECT_EQ(var->lpvarValue->lVal, expected[i].second) << expected[i].first;
        BSTR name = nullptr;
        ASSERT_EQ(shade->GetDocumentation(var->memid, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(Take(name), expected[i].first);
        shade->ReleaseVarDesc(var);
    }
    DWORD context = 0;
    BSTR doc = nullptr;
    ASSERT_EQ(shade->GetDocumentation(MEMBERID_NIL, nullptr, &doc, &context, nullptr), S_OK);
    EXPECT_EQ(Take(doc), "Colours with explicit values");
    EXPECT_EQ(context, 11u);
}

TEST_F(WidlLibrary, AliasNamesItsType) {
    ComPtr<ITypeInfo> counter = Type("Counter");
    ASSERT_TRUE(counter);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(counter->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_ALIAS);
    EXPECT_EQ(attr->tdescAlias.vt, VT_I4);
    counter->ReleaseTypeAttr(attr);
}

TEST_F(WidlLibrary, VtableInterfaceParameters) {
    ComPtr<ITypeInfo> gauge = Type("IGauge");
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(gauge->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->cFuncs, 6);
    gauge->ReleaseTypeAttr(attr);
    HREFTYPE base = 0;
    ASSERT_EQ(gauge->GetRefTypeOfImplType(0, &base), S_OK);
    EXPECT_EQ(RefName(gauge.Get(), base), "IUnknown");

    FUNCDESC* read = nullptr;  // HRESULT Read([in] long, [out, retval] double*)
    ASSERT_EQ(gauge->GetFuncDesc(0, &read), S_OK);
    EXPECT_EQ(read->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(read->oVft, static_cast<SHORT>(3 * sizeof(void*)));
    EXPECT_EQ(read->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(read->cParams, 2);
    EXPECT_EQ(read->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(read->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(read->lprgelemdescParam[1].tdesc.vt, VT_PTR);
    EXPECT_EQ(read->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_R8);
    EXPECT_EQ(read->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    BSTR doc = nullptr;
    DWORD context = 0;
    ASSERT_EQ(gauge->GetDocumentation(read->memid, nullptr, &doc, &context, nullptr), S_OK);
    EXPECT_EQ(Take(doc), "Reads a value");
    EXPECT_EQ(context, 22u);
    gauge->ReleaseFuncDesc(read);

    FUNCDESC* swap = nullptr;  // Swap([in, out] long*, [in, out] BSTR*)
    ASSERT_EQ(gauge->GetFuncDesc(2, &swap), S_OK);
    EXPECT_EQ(swap->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
    EXPECT_EQ(swap->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_BSTR);
    gauge->ReleaseFuncDesc(swap);

    FUNCDESC* fetch = nullptr;  // Fetch([out] Shade*, ...): a pointer to the enumeration
    ASSERT_EQ(gauge->GetFuncDesc(3, &fetch), S_OK);
    const TYPEDESC& shade = *fetch->lprgelemdescParam[0].tdesc.lptdesc;
    ASSERT_EQ(shade.vt, VT_USERDEFINED);
    EXPECT_EQ(RefName(gauge.Get(), shade.hreftype), "Shade");
    gauge->ReleaseFuncDesc(fetch);
}

TEST_F(WidlLibrary, CoclassWithSeveralInterfacesAndADefaultSource) {
    ComPtr<ITypeInfo> panel = Type("Panel");
    const std::pair<const char*, INT> expected[] = {
        {"DPanel", IMPLTYPEFLAG_FDEFAULT},
        {"IGauge", 0},
        {"DPanelEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 3; ++i) {
        HREFTYPE ref = 0;
        INT flags = -1;
        ASSERT_EQ(panel->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(panel->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(RefName(panel.Get(), ref), expected[i].first);
        EXPECT_EQ(flags, expected[i].second);
    }
}

// ---------------------------------------------------------------- dual interfaces (widl)

class DualInterfaces : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadTypeLib(Wide(TYPELIBS_DIR "/dual.tlb").c_str(), &lib_), S_OK)
            << TakeErrorInfoText();
        ASSERT_EQ(lib_->GetTypeInfo(0, &meter_), S_OK);
        ASSERT_EQ(lib_->GetTypeInfo(1, &meterEx_), S_OK);
    }
    static ComPtr<ITypeInfo> OtherView(ITypeInfo* info) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> other;
        EXPECT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
        EXPECT_EQ(info->GetRefTypeInfo(ref, &other), S_OK);
        return other;
    }
    static TYPEATTR Attributes(ITypeInfo* info) {
        TYPEATTR* attr = nullptr;
        EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
        TYPEATTR copy = *attr;
        info->ReleaseTypeAttr(attr);
        return copy;
    }
    static std::vector<std::string> Names(ITypeInfo* info, MEMBERID memid) {
        BSTR names[8] = {};
        UINT count = 0;
        EXPECT_EQ(info->GetNames(memid, names, 8, &count), S_OK);
        std::vector<std::string> out;
        for (UINT i = 0; i < count; ++i) out.push_back(Take(names[i]));
        return out;
    }
    ComPtr<ITypeLib> lib_;
    ComPtr<ITypeInfo> meter_, meterEx_;
};

// The library lists the dispatch view: IUnknown's and IDispatch's functions from the standard
// library first, every function dispatched, an [out, retval] parameter made the result.
TEST_F(DualInterfaces, DispatchViewTakesTheStandardFunctionsFirst) {
    const TYPEATTR attr = Attributes(meter_.Get());
    EXPECT_EQ(attr.typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr.cFuncs, 3 + 4 + 4);
    EXPECT_EQ(attr.cbSizeVft, 7 * sizeof(void*));
    EXPECT_EQ(attr.wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);  // not FOLEAUTOMATION

    FUNCDESC* f = nullptr;
    ASSERT_EQ(meter_->GetFuncDesc(0, &f), S_OK);  // QueryInterface([in] GUID*, [out] void**)
    EXPECT_EQ(f->memid, 0x60000000);
    EXPECT_EQ(f->funckind, FUNC_DISPATCH);
    EXPECT_EQ(f->wFuncFlags, FUNCFLAG_FRESTRICTED);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_VOID);  // the HRESULT is no value
    ASSERT_EQ(f->cParams, 2);
    const TYPEDESC& riid = *f->lprgelemdescParam[0].tdesc.lptdesc;
    ASSERT_EQ(riid.vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> guid;
    ASSERT_EQ(meter_->GetRefTypeInfo(riid.hreftype, &guid), S_OK);
    EXPECT_EQ(Attributes(guid.Get()).typekind, TKIND_RECORD);
    meter_->ReleaseFuncDesc(f);
    ASSERT_EQ(meter_->GetFuncDesc(1, &f), S_OK);  // AddRef keeps its ULONG
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_UI4);
    meter_->ReleaseFuncDesc(f);
    ASSERT_EQ(meter_->GetFuncDesc(6, &f), S_OK);
    EXPECT_EQ(f->memid, 0x60010003);  // Invoke
    EXPECT_EQ(f->cParams, 8);
    meter_->ReleaseFuncDesc(f);

    ASSERT_EQ(meter_->GetFuncDesc(9, &f), S_OK);  // Reset([in] VARIANT_BOOL, [out, retval] BSTR*)
    EXPECT_EQ(f->memid, 2);
    EXPECT_EQ(f->funckind, FUNC_DISPATCH);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_BSTR);
    EXPECT_EQ(f->cParams, 1);
    meter_->ReleaseFuncDesc(f);
    EXPECT_EQ(meter_->GetFuncDesc(11, &f), TYPE_E_ELEMENTNOTFOUND);

    EXPECT_EQ(Names(meter_.Get(), 2), (std::vector<std::string>{"Reset", "hard"}));
    EXPECT_EQ(Names(meter_.Get(), 0x60010001),
              (std::vector<std::string>{"GetTypeInfo", "itinfo", "lcid", "pptinfo"}));
    BSTR name = nullptr;
    ASSERT_EQ(meter_->GetDocumentation(0x60000002, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), "Release");
    OLECHAR invoke[] = u"invoke";
    LPOLESTR names[] = {invoke};
    MEMBERID id = 0;
    ASSERT_EQ(meter_->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 0x60010003);
}

// GetRefTypeOfImplType(-1) names the vtable view, and the vtable view names the dispatch view.
TEST_F(DualInterfaces, VtableViewIsTheOtherView) {
    ComPtr<ITypeInfo> vtable = OtherView(meter_.Get());
    const TYPEATTR attr = Attributes(vtable.Get());
    EXPECT_EQ(attr.typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr.cFuncs, 4);
    EXPECT_EQ(attr.cbSizeVft, 11 * sizeof(void*));
    EXPECT_NE(attr.wTypeFlags & TYPEFLAG_FOLEAUTOMATION, 0);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(2, &f), S_OK);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(f->cParams, 2);
    EXPECT_EQ(f->oVft, static_cast<SHORT>(9 * sizeof(void*)));
    vtable->ReleaseFuncDesc(f);
    EXPECT_EQ(Names(vtable.Get(), 2), (std::vector<std::string>{"Reset", "hard", "report"}));

    HREFTYPE base = 0;
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &base), S_OK);
    ASSERT_EQ(vtable->GetRefTypeInfo(base, &dispatch), S_OK);
    BSTR name = nullptr;
    dispatch->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_EQ(Take(name), "IDispatch");

    EXPECT_EQ(OtherView(vtable.Get()).Get(), meter_.Get());
    ComPtr<ITypeLib> owner;
    UINT index = 9;
    ASSERT_EQ(vtable->GetContainingTypeLib(&owner, &index), S_OK);
    EXPECT_EQ(owner.Get(), lib_.Get());
    EXPECT_EQ(index, 0u);
}

// A dual interface derived from another takes the other's functions after IDispatch's, and its
// vtable view derives from the other's vtable view.
TEST_F(DualInterfaces, DerivedDualTakesItsBasesFunctions) {
    EXPECT_EQ(Attributes(meterEx_.Get()).cFuncs, 7 + 4 + 2);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(meterEx_->GetFuncDesc(7, &f), S_OK);  // IMeter's Level (get)
    EXPECT_EQ(f->memid, 1);
    EXPECT_EQ(f->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_I4);
    EXPECT_EQ(f->cParams, 0);
    meterEx_->ReleaseFuncDesc(f);
    EXPECT_EQ(Names(meterEx_.Get(), 2), (std::vector<std::string>{"Reset", "hard"}));

    ComPtr<ITypeInfo> vtable = OtherView(meterEx_.Get());
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(vtable->GetRefTypeInfo(ref, &base), S_OK);
    EXPECT_EQ(Attributes(base.Get()).typekind, TKIND_INTERFACE);
    EXPECT_EQ(OtherView(base.Get()).Get(), meter_.Get());
}

// Where the interface a dual interface derives from cannot be found (its library is not
// registered), the dispatch view has the dual interface's own functions, each of them whole.
TEST(DualInterfaceOfAMissingLibrary, KeepsItsOwnFunctions) {
    typelib::LibraryData lib = PinbusLibrary();
    const GUID missing = {
        0x3E1D6A40, 0x7B21, 0x4C55, {0x9F, 0x0E, 0x2A, 0x6B, 0x8C, 0x4D, 0xEE, 1}};
    lib.imports.push_back({"missing.tlb", missing, 0, 1, 0});
    lib.refs.push_back(
        {static_cast<std::uint32_t>(lib.imports.size() - 1), missing, TKIND_INTERFACE});
    typelib::TypeData& dual = lib.types[0];
    dual.flags |= TYPEFLAG_FDUAL;
    dual.dualBase = typelib::ImportedHref(lib.refs.size() - 1);
    for (typelib::FuncData& f : dual.funcs) f.funckind = FUNC_PUREVIRTUAL;
    std::string bytes, error;
    ASSERT_TRUE(SerializeInto(lib, &bytes, &error)) << error;
    ComPtr<ITypeLib> loaded;
    SetErrorInfoText("before");
    ASSERT_EQ(LoadTypeLibFromMemory(bytes, &loaded), S_OK) << TakeErrorInfoText();
    EXPECT_EQ(TakeErrorInfoText(), "before");  // the missing library is no failure of the load
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(loaded->GetTypeInfo(0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, dual.funcs.size());
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, dual.funcs[i].memid);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
}

TEST(LoadTypeLibFiles, ModulesBareFilesAndFailures) {
    tltest::TempDir dir;
    ComPtr<ITypeLib> lib;
    const std::string bare = dir.File("pinbus.tlb");
    tltest::WriteBytes(bare, PinbusLibraryBytes());
    ASSERT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), S_OK) << TakeErrorInfoText();
    EXPECT_EQ(lib->GetTypeInfoCount(), 3u);

    std::string damaged = PinbusLibraryBytes();
    damaged.resize(damaged.size() - 3);
    tltest::WriteBytes(bare, damaged);
    EXPECT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), TYPE_E_INVDATAREAD);
    EXPECT_FALSE(lib);
    EXPECT_NE(TakeErrorInfoText().find(bare), std::string::npos);

    // A library the loader reads but cannot represent (a dual interface stored as its vtable
    // view, which the platform's compilers never write) is refused as such.
    typelib::LibraryData vtableDual = PinbusLibrary();
    vtableDual.types[1].kind = TKIND_INTERFACE;
    vtableDual.types[1].flags |= TYPEFLAG_FDUAL;
    std::string bytes, error;
    ASSERT_TRUE(SerializeInto(vtableDual, &bytes, &error)) << error;
    tltest::WriteBytes(bare, bytes);
    EXPECT_EQ(LoadTypeLib(Wide(bare.c_str()).c_str(), &lib), TYPE_E_UNSUPFORMAT);
    EXPECT_NE(TakeErrorInfoText().find("dual interface stored as its vtable view"),
              std::string::npos);

    EXPECT_EQ(LoadTypeLib(Wide(dir.File("none").c_str()).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"/proc/self/exe", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_NE(TakeErrorInfoText().find("no resource section"), std::string::npos);
    EXPECT_EQ(LoadTypeLib(Wide(dir.path().c_str()).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"", &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(nullptr, &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(u"x", nullptr), E_INVALIDARG);

    ASSERT_EQ(LoadTypeLibFromMemory(PinbusLibraryBytes(), &lib), S_OK);
    EXPECT_EQ(LoadTypeLibFromMemory("LBTYPLIB", &lib), TYPE_E_INVDATAREAD);
}

}  // namespace
