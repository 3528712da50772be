// Registering, finding and removing type libraries in a registry file of the test's own, and the
// process-wide type-library cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/com/utf.h"
#include "tests/platform/com/resource_test_util.h"

namespace {

constexpr GUID kLibId = {
    0x6B2F14D0, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
const std::string kLib = "TypeLib\\{6B2F14D0-5C83-11D0-9E41-0040A7B3C250}";
const std::string kDPinbusKey = "Interface\\{6B2F14D1-5C83-11D0-9E41-0040A7B3C250}";
const std::string kEventsKey = "Interface\\{6B2F14D2-5C83-11D0-9E41-0040A7B3C250}";
const std::string kMarshaller = "{00020420-0000-0000-C000-000000000046}";

// A value of HKCR\key ("" for the default); "<absent>" when the key or value is missing.
std::string Value(const std::string& key, const char* name = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<absent>";
    char data[1024];
    DWORD size = sizeof data, type = 0;
    LSTATUS st = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    if (st != ERROR_SUCCESS || type != REG_SZ || size == 0) return "<absent>";
    return std::string(data, size - 1);
}

bool Exists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

class TypeLibRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        registry_ = dir_.File("registry.reg");
        ASSERT_EQ(setenv("OLE_REGISTRY", registry_.c_str(), 1), 0);
        ClearTypeLibCache();
        module_ = std::filesystem::absolute(TEST_MODULE_PATH).string();
        ASSERT_EQ(LoadTypeLib(Utf8ToOle(module_).c_str(), &lib_), S_OK) << TakeErrorInfoText();
    }
    void TearDown() override { ClearTypeLibCache(); }

    HRESULT Register(const std::string& path) {
        return RegisterTypeLib(lib_.Get(), Utf8ToOle(path).c_str(), nullptr);
    }

    tltest::TempDir dir_;
    std::string registry_;
    std::string module_;
    ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibRegistry, RegistrationWritesThePlatformsEntries) {
    ASSERT_EQ(Register(module_), S_OK) << TakeErrorInfoText();
    EXPECT_EQ(Value(kLib + "\\1.0"), "pinbus OLE Control module");
    EXPECT_EQ(Value(kLib + "\\1.0\\409\\win32"), module_);
    EXPECT_EQ(Value(kLib + "\\1.0\\FLAGS"), "2");  // a control library
    EXPECT_EQ(Value(kLib + "\\1.0\\HELPDIR"),
              std::filesystem::path(module_).parent_path().string());
    for (const auto& [key, name] :
         {std::pair{kDPinbusKey, "_DPinbus"}, std::pair{kEventsKey, "_DPinbusEvents"}}) {
        EXPECT_EQ(Value(key), name);
        EXPECT_EQ(Value(key + "\\ProxyStubClsid"), kMarshaller);
        EXPECT_EQ(Value(key + "\\ProxyStubClsid32"), kMarshaller);
        EXPECT_EQ(Value(key + "\\TypeLib"), "{6B2F14D0-5C83-11D0-9E41-0040A7B3C250}");
        EXPECT_EQ(Value(key + "\\TypeLib", "Version"), "1.0");
    }
    // The coclass is the control framework's to register, not the library's.
    EXPECT_FALSE(Exists("Interface\\{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}"));

    const std::string once = tltest::ReadBytes(registry_);
    ASSERT_EQ(Register(module_), S_OK);
    EXPECT_EQ(tltest::ReadBytes(registry_), once) << "registering twice changes nothing";

    // An explicit help directory, and a relative path made absolute.
    std::filesystem::current_path(std::filesystem::path(module_).parent_path());
    const std::string relative = std::filesystem::path(module_).filename().string();
    ASSERT_EQ(RegisterTypeLib(lib_.Get(), Utf8ToOle(relative).c_str(), u"/usr/share/help"), S_OK);
    EXPECT_EQ(Value(kLib + "\\1.0\\409\\win32"), module_);
    EXPECT_EQ(Value(kLib + "\\1.0\\HELPDIR"), "/usr/share/help");
    EXPECT_EQ(RegisterTypeLib(nullptr, u"/x", nullptr), E_INVALIDARG);
    EXPECT_EQ(RegisterTypeLib(lib_.Get(), nullptr, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibRegistry, RegisteredLibraryLoadsByGuidVersionAndLocale) {
    ComPtr<ITypeLib> loaded;
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x0409, &loaded), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(Register(module_), S_OK);
    ASSERT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x0409, &loaded), S_OK) << TakeErrorInfoText();
    EXPECT_EQ(loaded->GetTypeInfoCount(), 3u);
    // Any locale finds the library registered under its own.
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x0407, &loaded), S_OK);
    // A newer minor version or another major version is not what is registered.
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 1, 0x0409, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(kLibId, 2, 0, 0x0409, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_FALSE(loaded);

    BSTR path = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 0, 0x0409, &path), S_OK);
    EXPECT_EQ(OleToUtf8(path), module_);
    SysFreeString(path);
}

// Which file each caller's locale finds: the exact locale, its primary language, neutral, and
// last the lowest locale registered at all.
TEST_F(TypeLibRegistry, LocalesResolveExactThenPrimaryThenNeutralThenAnyRegistered) {
    auto path = [](LCID lcid) {
        BSTR found = nullptr;
        if (FAILED(QueryPathOfRegTypeLib(kLibId, 1, 0, lcid, &found))) return std::string("-");
        std::string text = OleToUtf8(found);
        SysFreeString(found);
        return text;
    };
    auto set = [](const char* locale, const char* file) {
        ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLib + "\\1.0\\" + locale + "\\win32").c_str(),
                               REG_SZ, file, 0),
                  ERROR_SUCCESS);
    };
    set("409", "/us");
    set("c07", "/at");
    for (LCID lcid : {0x0409u, 0x0809u, 0x0000u, 0x0400u, 0x0411u})
        EXPECT_EQ(path(lcid), "/us") << std::hex << lcid;
    EXPECT_EQ(path(0x0C07), "/at");
    set("7", "/de");
    EXPECT_EQ(path(0x0407), "/de");
    EXPECT_EQ(path(0x0C07), "/at");
    set("0", "/neutral");
    EXPECT_EQ(path(0x0411), "/neutral");
    EXPECT_EQ(path(0x0809), "/neutral");
    EXPECT_EQ(path(0x0409), "/us");
}

// A registry written before libraries were registered under their locale holds "0": it is read
// as before, and registering again leaves only the library's own locale.
TEST_F(TypeLibRegistry, AnOldNeutralRegistrationIsReadAndReplaced) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLib + "\\1.0\\0\\win32").c_str(), REG_SZ,
                           module_.c_str(), 0),
              ERROR_SUCCESS);
    ComPtr<ITypeLib> loaded;
    for (LCID lcid : {0x0409u, 0x0000u, 0x0407u})
        EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, lcid, &loaded), S_OK) << TakeErrorInfoText();
    ASSERT_EQ(Register(module_), S_OK);
    EXPECT_FALSE(Exists(kLib + "\\1.0\\0"));
    EXPECT_EQ(Value(kLib + "\\1.0\\409\\win32"), module_);
    for (LCID lcid : {0x0409u, 0x0000u, 0x0407u})
        EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, lcid, &loaded), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(kLib));
}

TEST_F(TypeLibRegistry, ARegistrationPointingAtTheWrongFileFailsToLoad) {
    ASSERT_EQ(Register(module_), S_OK);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLib + "\\1.0\\409\\win32").c_str(), REG_SZ,
                           "/proc/self/exe", 0),
              ERROR_SUCCESS);
    ComPtr<ITypeLib> loaded;
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x0409, &loaded), TYPE_E_CANTLOADLIBRARY);

    // A file holding some other library.
    const GUID other = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const std::string otherKey = "TypeLib\\" + GuidToString(other) + "\\1.0\\0\\win32";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, otherKey.c_str(), REG_SZ, module_.c_str(), 0),
              ERROR_SUCCESS);
    EXPECT_EQ(LoadRegTypeLib(other, 1, 0, 0, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_NE(TakeErrorInfoText().find("does not hold"), std::string::npos);
}

TEST_F(TypeLibRegistry, UnregistrationRemovesOnlyThisLibrarysEntries) {
    // Another library's interface, which must survive.
    const std::string foreign = "Interface\\{0000AAAA-0000-0000-0000-000000000001}";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (foreign + "\\TypeLib").c_str(), REG_SZ,
                           "{0000BBBB-0000-0000-0000-000000000001}", 0),
              ERROR_SUCCESS);
    ASSERT_EQ(Register(module_), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32), S_OK) << TakeErrorInfoText();
    EXPECT_FALSE(Exists(kLib));
    EXPECT_FALSE(Exists(kDPinbusKey));
    EXPECT_FALSE(Exists(kEventsKey));
    EXPECT_TRUE(Exists(foreign));

    // Not registered (any more): a failure, which the control maps to SELFREG_E_TYPELIB.
    HRESULT again = UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32);
    EXPECT_TRUE(FAILED(again));
    EXPECT_EQ(again, TYPE_E_REGISTRYACCESS);

    // Another version stays when one is removed.
    ASSERT_EQ(Register(module_), S_OK);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLib + "\\1.1\\0\\win32").c_str(), REG_SZ,
                           module_.c_str(), 0),
              ERROR_SUCCESS);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(kLib + "\\1.0"));
    EXPECT_TRUE(Exists(kLib + "\\1.1"));
}

// Unregistration removes what registration wrote for the locale and system kind asked for, as
// the platform's does; another locale of the version keeps it and its interfaces.
TEST_F(TypeLibRegistry, UnregistrationFollowsTheLocaleAndSystemKindRegistered) {
    ASSERT_EQ(Register(module_), S_OK);
    EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0000, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN64), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_MAC), E_INVALIDARG);
    EXPECT_EQ(Value(kLib + "\\1.0\\409\\win32"), module_);  // none of them touched it
    EXPECT_TRUE(Exists(kDPinbusKey));

    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLib + "\\1.0\\407\\win32").c_str(), REG_SZ,
                           module_.c_str(), 0),
              ERROR_SUCCESS);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32), S_OK) << TakeErrorInfoText();
    EXPECT_FALSE(Exists(kLib + "\\1.0\\409"));
    EXPECT_EQ(Value(kLib + "\\1.0\\407\\win32"), module_);
    EXPECT_TRUE(Exists(kDPinbusKey));
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0407, SYS_WIN32), S_OK) << TakeErrorInfoText();
    EXPECT_FALSE(Exists(kLib));
    EXPECT_FALSE(Exists(kDPinbusKey));
    EXPECT_FALSE(Exists(kEventsKey));
}

TEST_F(TypeLibRegistry, UnwritableRegistryIsAFailure) {
    const std::string blocker = dir_.File("file");
    tltest::WriteBytes(blocker, "x");
    ASSERT_EQ(setenv("OLE_REGISTRY", (blocker + "/registry.reg").c_str(), 1), 0);
    EXPECT_EQ(Register(module_), TYPE_E_REGISTRYACCESS);
    EXPECT_FALSE(TakeErrorInfoText().empty());
    ComPtr<ITypeLib> loaded;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(kLibId, 1, 0, 0x0409, &loaded)));
}

TEST_F(TypeLibRegistry, CacheLoadsOnceAndDoesNotRememberFailures) {
    ComPtr<ITypeLib> first, second;
    EXPECT_EQ(GetCachedTypeLib(kLibId, 1, 0, 0x0409, &first), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(Register(module_), S_OK);
    ASSERT_EQ(GetCachedTypeLib(kLibId, 1, 0, 0x0409, &first), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x0409, SYS_WIN32), S_OK);
    ASSERT_EQ(GetCachedTypeLib(kLibId, 1, 0, 0x0409, &second), S_OK);  // from the cache
    EXPECT_EQ(first.Get(), second.Get());
    ClearTypeLibCache();
    EXPECT_EQ(GetCachedTypeLib(kLibId, 1, 0, 0x0409, &second), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(first->GetTypeInfoCount(), 3u);  // references handed out outlive the cache
    EXPECT_EQ(GetCachedTypeLib(kLibId, 1, 0, 0x0409, nullptr), E_INVALIDARG);
}

}  // namespace
