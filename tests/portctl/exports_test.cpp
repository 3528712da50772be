// The library's exports: class objects, the unload answer, registration and unregistration.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/com/combase.h"
#include "platform/com/registry.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/ctl/module.h"
#include "tests/portctl/pinbus_fixture.h"

namespace {

using ModuleTest = PinbusTest;

const std::string kCtrlKey = "CLSID\\{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}";
const std::string kPageKey = "CLSID\\{6B2F14D4-5C83-11D0-9E41-0040A7B3C250}";
const std::string kTypeLibKey = "TypeLib\\{6B2F14D0-5C83-11D0-9E41-0040A7B3C250}";

bool KeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// A key's value; "<none>" when the key or value is missing.
std::string Value(const std::string& key, const char* name = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<none>";
    char data[1024];
    DWORD size = sizeof data, type = 0;
    LSTATUS st = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    if (st != ERROR_SUCCESS || type != REG_SZ || size == 0) return "<none>";
    return std::string(data, size - 1);
}

std::set<std::string> Subkeys(const std::string& key) {
    std::set<std::string> names;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    RegCloseKey(h);
    return names;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(ModuleTest, ExportsExactlyTheFourFunctions) {
    FILE* nm = popen(("nm -D --defined-only '" + lib->path + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, nm)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name) names.insert(name);
    }
    if (pclose(nm) != 0 && names.empty()) GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(names, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                            "DllRegisterServer", "DllUnregisterServer"}));
}

TEST_F(ModuleTest, ClassObjects) {
    for (const CLSID& clsid : {CLSID_Pinbus, CLSID_PinbusPropPage}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(
            lib->DllGetClassObject(clsid, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
            S_OK);
        ComPtr<IUnknown> a, b;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, a.ReleaseAndGetVoidAddress()),
                  S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, b.ReleaseAndGetVoidAddress()),
                  S_OK);
        EXPECT_NE(a.Get(), b.Get());
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(a.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(p, nullptr);
    }
    // Only the control is an automation object.
    ComPtr<IClassFactory> page;
    ASSERT_EQ(
        lib->DllGetClassObject(CLSID_PinbusPropPage, IID_IUnknown, page.ReleaseAndGetVoidAddress()),
        S_OK);
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(page->CreateInstance(nullptr, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);

    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(lib->DllGetClassObject(LIBID_PINBUSLib, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(lib->DllGetClassObject(IID_DPinbus, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(lib->DllGetClassObject(CLSID_Pinbus, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ModuleTest, CanUnloadOnlyWhenNothingIsAlive) {
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(
        lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
        S_OK);
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);  // a held class object
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);  // an object and a lock
    object.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);  // the lock
    ASSERT_EQ(
        lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
        S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);

    // A property page alive counts as much as a control.
    ASSERT_EQ(lib->DllGetClassObject(CLSID_PinbusPropPage, IID_IClassFactory,
                                     factory.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
              S_OK);
    factory.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);
    object.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, ExportsRunInTheLibrarysModuleStateAndRestoreTheCallers) {
    AFX_MODULE_STATE caller(nullptr);
    AFX_MANAGE_STATE(&caller);
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
    EXPECT_EQ(AfxGetModuleState(), &caller);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(
        lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
        S_OK);
    EXPECT_EQ(AfxGetModuleState(), &caller);
    void* p = nullptr;
    EXPECT_EQ(lib->DllGetClassObject(IID_DPinbus, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(AfxGetModuleState(), &caller);
    // The object is counted by the library, not by whoever called.
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_EQ(AfxGetModuleState(), &caller);
    EXPECT_EQ(caller.m_nObjectCount, 0);
    factory.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);
    object.Reset();
    {
        TempRegistry registry;
        EXPECT_EQ(lib->DllUnregisterServer(), SELFREG_E_TYPELIB);
        EXPECT_EQ(AfxGetModuleState(), &caller);
    }
}

class RegistrationTest : public PinbusTest {
protected:
    void SetUp() override {
        PinbusTest::SetUp();
        ClearTypeLibCache();
    }
    void TearDown() override {
        ClearTypeLibCache();
        PinbusTest::TearDown();
    }
    TempRegistry registry;
};

TEST_F(RegistrationTest, RegisterWritesTheEntries) {
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    const std::string& path = lib->path;
    EXPECT_EQ(Value(kCtrlKey), "Pinbus Control");
    EXPECT_EQ(Value(kCtrlKey + "\\InprocServer32"), path);
    EXPECT_EQ(Value(kCtrlKey + "\\InprocServer32", "ThreadingModel"), "<none>");
    EXPECT_EQ(Value(kCtrlKey + "\\ProgID"), "PINBUS.PinbusCtrl.1");
    EXPECT_EQ(Value(kCtrlKey + "\\ToolboxBitmap32"), path + ", 1");
    EXPECT_EQ(Value(kCtrlKey + "\\MiscStatus"), "0");
    EXPECT_EQ(Value(kCtrlKey + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(Value(kCtrlKey + "\\TypeLib"), "{6B2F14D0-5C83-11D0-9E41-0040A7B3C250}");
    EXPECT_EQ(Value(kCtrlKey + "\\Version"), "1.0");
    EXPECT_EQ(Subkeys(kCtrlKey),
              (std::set<std::string>{"Control", "InprocServer32", "MiscStatus", "ProgID",
                                     "ToolboxBitmap32", "TypeLib", "Version"}));

    EXPECT_EQ(Value("PINBUS.PinbusCtrl.1"), "Pinbus Control");
    EXPECT_EQ(Value("PINBUS.PinbusCtrl.1\\CLSID"), "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}");
    EXPECT_EQ(Subkeys("PINBUS.PinbusCtrl.1"), (std::set<std::string>{"CLSID"}));

    EXPECT_EQ(Value(kPageKey), "Pinbus Property Page");
    EXPECT_EQ(Value(kPageKey + "\\InprocServer32"), path);
    EXPECT_EQ(Subkeys(kPageKey), (std::set<std::string>{"InprocServer32"}));
    EXPECT_FALSE(KeyExists("PINBUS.PinbusPropPage.1"));

    EXPECT_TRUE(KeyExists(kTypeLibKey + "\\1.0"));
    EXPECT_EQ(Value(kTypeLibKey + "\\1.0\\409\\win32"), path);
    EXPECT_EQ(Subkeys(kTypeLibKey + "\\1.0"), (std::set<std::string>{"409", "FLAGS", "HELPDIR"}));
}

TEST_F(RegistrationTest, RegisteringTwiceGivesTheSameEntries) {
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    const std::string first = FileText(registry.path());
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    EXPECT_EQ(FileText(registry.path()), first);
}

TEST_F(RegistrationTest, StaleEntriesAreReplaced) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kCtrlKey + "\\Insertable").c_str(), REG_SZ, "", 1),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kCtrlKey + "\\InprocServer32").c_str(), REG_SZ,
                           "/old/PINBUS.OCX", 16),
              ERROR_SUCCESS);
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(kCtrlKey + "\\Insertable"));
    EXPECT_EQ(Value(kCtrlKey + "\\InprocServer32"), lib->path);
}

TEST_F(RegistrationTest, AnOldNeutralTypeLibraryKeyServesUntilRegisteringReplacesIt) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kTypeLibKey + "\\1.0\\0\\win32").c_str(), REG_SZ,
                           lib->path.c_str(), 0),
              ERROR_SUCCESS);
    auto c = NewControl();
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(c->GetTypeInfo(0, 0x0409, &info), S_OK);
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    EXPECT_EQ(Subkeys(kTypeLibKey + "\\1.0"), (std::set<std::string>{"409", "FLAGS", "HELPDIR"}));
    ClearTypeLibCache();
    EXPECT_EQ(c->GetTypeInfo(0, LOCALE_NEUTRAL, &info), S_OK);
}

TEST_F(RegistrationTest, UnregisterRemovesEverything) {
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    ASSERT_EQ(lib->DllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(kCtrlKey));
    EXPECT_FALSE(KeyExists(kPageKey));
    EXPECT_FALSE(KeyExists("PINBUS.PinbusCtrl.1"));
    EXPECT_FALSE(KeyExists(kTypeLibKey + "\\1.0"));
    EXPECT_FALSE(KeyExists("Interface\\{6B2F14D1-5C83-11D0-9E41-0040A7B3C250}"));
    // Unregistering again: the type library is no longer there.
    EXPECT_EQ(lib->DllUnregisterServer(), SELFREG_E_TYPELIB);
}

TEST_F(RegistrationTest, UnregisterWithoutTypeLibraryLeavesTheClasses) {
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, kTypeLibKey.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(lib->DllUnregisterServer(), hresult(0x80040200));
    EXPECT_EQ(Value(kCtrlKey + "\\InprocServer32"), lib->path);
    EXPECT_EQ(Value(kPageKey + "\\InprocServer32"), lib->path);
    EXPECT_EQ(Value("PINBUS.PinbusCtrl.1\\CLSID"), "{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}");
}

TEST_F(RegistrationTest, AnUnusableRegistryFailsAtTheTypeLibraryStep) {
    {
        std::ofstream out(registry.path());
        out << "not a registry file\n";
    }
    const std::string before = FileText(registry.path());
    EXPECT_EQ(lib->DllRegisterServer(), SELFREG_E_TYPELIB);
    EXPECT_EQ(lib->DllUnregisterServer(), SELFREG_E_TYPELIB);
    EXPECT_EQ(FileText(registry.path()), before);
}

TEST_F(RegistrationTest, ARegistryThatCannotBeWrittenTakesNothingAndSaysTheTypeLibrary) {
    struct NoHookAfterwards {
        ~NoHookAfterwards() { SetRegistryWriteHookForTesting(nullptr); }
    } no_hook_afterwards;
    // Every attempt to write the file is refused, as by a read-only disk.
    SetRegistryWriteHookForTesting(
        [](const char* step) { return std::string(step) == "open-temp" ? EROFS : 0; });
    EXPECT_EQ(lib->DllRegisterServer(), hresult(0x80040200));
    EXPECT_FALSE(KeyExists(kTypeLibKey));
    EXPECT_FALSE(KeyExists(kCtrlKey));
    EXPECT_FALSE(KeyExists("PINBUS.PinbusCtrl.1"));
    SetRegistryWriteHookForTesting(nullptr);

    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    const std::string registered = FileText(registry.path());
    SetRegistryWriteHookForTesting([](const char*) { return EACCES; });
    EXPECT_EQ(lib->DllUnregisterServer(), hresult(0x80040200));
    SetRegistryWriteHookForTesting(nullptr);
    EXPECT_EQ(FileText(registry.path()), registered);
    EXPECT_TRUE(KeyExists(kTypeLibKey + "\\1.0"));
    EXPECT_EQ(Value(kCtrlKey + "\\InprocServer32"), lib->path);
}

TEST_F(RegistrationTest, HostsCreateTheControlByProgIdAndReadItsTypeInformation) {
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgIDA("PINBUS.PinbusCtrl.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Pinbus);
    ComPtr<IDispatch> control;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               control.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(Persist(control)->InitNew(), S_OK);
    ASSERT_EQ(PutProp(control.Get(), kValue, VarI4(0x42)), S_OK);
    EXPECT_EQ(cycles, (std::vector<Cycle>{{true, 8, 0x378, 0x42}}));

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_DPinbus);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    info->ReleaseTypeAttr(attr);
    // The type information names the members the dispatch map serves.
    for (auto [name, id] : {std::pair{u"Address", 1}, std::pair{u"Bits", 2}, std::pair{u"Value", 3},
                            std::pair{u"AboutBox", -552}}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        MEMBERID memid = 0;
        EXPECT_EQ(info->GetIDsOfNames(names, 1, &memid), S_OK);
        EXPECT_EQ(memid, id);
    }
}

TEST_F(RegistrationTest, TypeInformationNeedsTheRegisteredLibrary) {
    auto c = NewControl();
    ComPtr<ITypeInfo> info;
    EXPECT_TRUE(FAILED(c->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)));
    EXPECT_FALSE(info);
}

}  // namespace
