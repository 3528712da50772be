// Module state, its guard, the class factories, the unload answer and the class-removal helper.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"
#include "platform/com/utf.h"
#include "platform/ctl/factory.h"
#include "platform/ctl/registration.h"
#include "tests/platform/ctl/test_control.h"
#include "tests/support/temp_registry.h"

namespace {

// {A1B2C3D4-0003-4000-8000-00000000C0DE}
constexpr CLSID CLSID_Other = {
    0xA1B2C3D4, 0x0003, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
// {A1B2C3D4-0004-4000-8000-00000000C0DE}
constexpr CLSID CLSID_Missing = {
    0xA1B2C3D4, 0x0004, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

std::vector<std::string> g_registered;

class RecordingFactory : public COleObjectFactory {
public:
    RecordingFactory(AFX_MODULE_STATE* state, REFCLSID clsid, const char* name, bool ok = true)
        : COleObjectFactory(state, clsid, &AfxCreateObject<CTestCtrl>, FALSE, name), ok_(ok) {}
    BOOL UpdateRegistry(BOOL bRegister) override {
        g_registered.push_back(std::string(bRegister ? "+" : "-") + GetProgID());
        return ok_;
    }

private:
    bool ok_;
};

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { g_registered.clear(); }
    int anchor = 0;
    AFX_MODULE_STATE state{&anchor};
    RecordingFactory first{&state, CLSID_TestCtrl, "Test.First.1"};
    RecordingFactory second{&state, CLSID_Other, "Test.Second.1"};

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
        return AfxCallExport(&state, [&] { return AfxDllGetClassObject(clsid, iid, ppv); });
    }
    HRESULT CanUnloadNow() {
        return AfxCallExport(&state, [] { return AfxDllCanUnloadNow(); });
    }
};

TEST_F(ModuleTest, ClassObjectsAreFoundByClsid) {
    void* p = nullptr;
    ASSERT_EQ(GetClassObject(CLSID_TestCtrl, IID_IClassFactory, &p), S_OK);
    EXPECT_EQ(p, static_cast<IClassFactory*>(&first));
    static_cast<IClassFactory*>(p)->Release();
    ASSERT_EQ(GetClassObject(CLSID_Other, IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IClassFactory*>(&second));
    static_cast<IUnknown*>(p)->Release();

    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(GetClassObject(CLSID_Missing, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(GetClassObject(CLSID_TestCtrl, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(GetClassObject(CLSID_TestCtrl, IID_IClassFactory, nullptr), E_POINTER);
    // Nothing is held after all this.
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, CreateInstanceMakesOneNewObjectPerRequestInTheFactorysModule) {
    const long defaultObjects = AfxGetModuleState()->m_nObjectCount;
    IDispatch* a = nullptr;
    IDispatch* b = nullptr;
    ASSERT_EQ(first.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(first.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(state.m_nObjectCount, 2);
    EXPECT_EQ(AfxGetModuleState()->m_nObjectCount, defaultObjects);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
    EXPECT_EQ(state.m_nObjectCount, 0);
}

TEST_F(ModuleTest, CreateInstanceFailures) {
    void* p = reinterpret_cast<void*>(0x1);
    IDispatch* outer = NewTestCtrl();
    EXPECT_EQ(first.CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    outer->Release();
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(first.CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(first.CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    // The object of the failed request is gone again.
    EXPECT_EQ(state.m_nObjectCount, 0);
}

TEST_F(ModuleTest, CanUnloadOnlyWithoutObjectsLocksOrHeldClassObjects) {
    EXPECT_EQ(CanUnloadNow(), S_OK);
    IUnknown* object = nullptr;
    ASSERT_EQ(first.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    object->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    EXPECT_EQ(first.LockServer(TRUE), S_OK);
    EXPECT_EQ(second.LockServer(TRUE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    first.LockServer(FALSE);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    second.LockServer(FALSE);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    // An unbalanced unlock does not hide a later lock.
    first.LockServer(FALSE);
    first.LockServer(TRUE);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    first.LockServer(FALSE);

    // A class object a host holds keeps the module loaded.
    void* factory = nullptr;
    ASSERT_EQ(GetClassObject(CLSID_TestCtrl, IID_IClassFactory, &factory), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    static_cast<IClassFactory*>(factory)->AddRef();
    static_cast<IClassFactory*>(factory)->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    static_cast<IClassFactory*>(factory)->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
    // Extra releases must not unbalance the count.
    EXPECT_EQ(static_cast<IClassFactory*>(factory)->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, RegistrationRunsEveryFactoryInOrderAndStopsAtAFailure) {
    AFX_MANAGE_STATE(&state);
    EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(TRUE));
    EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(FALSE));
    EXPECT_EQ(g_registered, (std::vector<std::string>{"+Test.First.1", "+Test.Second.1",
                                                      "-Test.First.1", "-Test.Second.1"}));
    g_registered.clear();
    RecordingFactory failing{&state, CLSID_Missing, "Test.Failing.1", false};
    RecordingFactory after{&state, CLSID_Missing, "Test.After.1"};
    EXPECT_FALSE(COleObjectFactory::UpdateRegistryAll(TRUE));
    EXPECT_EQ(g_registered,
              (std::vector<std::string>{"+Test.First.1", "+Test.Second.1", "+Test.Failing.1"}));
}

TEST_F(ModuleTest, FactoriesLeaveTheListWhenDestroyed) {
    {
        RecordingFactory temporary{&state, CLSID_Missing, "Test.Temporary.1"};
        void* p = nullptr;
        ASSERT_EQ(GetClassObject(CLSID_Missing, IID_IUnknown, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    void* p = nullptr;
    EXPECT_EQ(GetClassObject(CLSID_Missing, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(state.m_pFactoryLast, &second);
    RecordingFactory third{&state, CLSID_Missing, "Test.Third.1"};
    EXPECT_EQ(second.m_pNextFactory, &third);
}

TEST(ModuleStateTest, GuardRestoresOnEveryWayOut) {
    AFX_MODULE_STATE* outside = AfxGetModuleState();
    AFX_MODULE_STATE a(nullptr), b(nullptr);
    {
        AFX_MANAGE_STATE(&a);
        EXPECT_EQ(AfxGetModuleState(), &a);
        {
            AFX_MANAGE_STATE(&b);
            EXPECT_EQ(AfxGetModuleState(), &b);
        }
        EXPECT_EQ(AfxGetModuleState(), &a);
        try {
            AFX_MANAGE_STATE(&b);
            throw std::runtime_error("out");
        } catch (const std::exception&) {
        }
        EXPECT_EQ(AfxGetModuleState(), &a);
    }
    EXPECT_EQ(AfxGetModuleState(), outside);
}

TEST(ModuleStateTest, ExportsNeverLetAnExceptionOut) {
    AFX_MODULE_STATE* outside = AfxGetModuleState();
    AFX_MODULE_STATE a(nullptr);
    AFX_MODULE_STATE* seen = nullptr;
    EXPECT_EQ(AfxCallExport(&a,
                            [&]() -> HRESULT {
                                seen = AfxGetModuleState();
                                throw std::runtime_error("boom");
                            }),
              E_UNEXPECTED);
    EXPECT_EQ(seen, &a);
    EXPECT_EQ(AfxCallExport(&a, []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(AfxCallExport(&a, []() -> HRESULT { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(AfxGetModuleState(), outside);
}

class CountingModule : public COleControlModule {
public:
    CountingModule(AFX_MODULE_STATE* s, bool ok) : COleControlModule(s), ok_(ok) {}
    BOOL InitInstance() override {
        ++inits;
        initState = AfxGetModuleState();
        return ok_;
    }
    int ExitInstance() override { return ++exits; }
    int inits = 0, exits = 0;
    AFX_MODULE_STATE* initState = nullptr;

private:
    bool ok_;
};

TEST(ModuleStateTest, StartupRunsInitAndExitInTheModulesState) {
    AFX_MODULE_STATE s(nullptr);
    CountingModule module(&s, true);
    EXPECT_EQ(s.m_pModule, &module);
    {
        AfxModuleStartup startup(module);
        EXPECT_EQ(module.inits, 1);
        EXPECT_EQ(module.initState, &s);
        EXPECT_FALSE(s.m_bInitFailed);
    }
    EXPECT_EQ(module.exits, 1);
}

TEST(ModuleStateTest, AFailedInitHandsOutNothing) {
    AFX_MODULE_STATE s(nullptr);
    CountingModule module(&s, false);
    RecordingFactory factory(&s, CLSID_TestCtrl, "Test.Refused.1");
    {
        AfxModuleStartup startup(module);
        EXPECT_TRUE(s.m_bInitFailed);
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(
            AfxCallExport(
                &s, [&] { return AfxDllGetClassObject(CLSID_TestCtrl, IID_IClassFactory, &p); }),
            E_UNEXPECTED);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(module.exits, 0);
}

bool Loaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);  // NOLOAD still counts a reference
    return h != nullptr;
}

// The loader refuses a module whose initialisation failed, as it refuses one that will not load;
// the next load tries the initialisation again.
TEST(ModuleLoadTest, AModuleWhoseInitialisationFailsRefusesToLoad) {
    test_support::TempRegistry registry;
    const GUID clsid = {
        0xA1B2C3D4, 0x0009, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
    const std::string path = std::filesystem::canonical(INIT_MODULE_PATH).string();
    const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, path.c_str(), 0), ERROR_SUCCESS);
    const std::u16string olePath = Utf8ToOle(path);

    unsetenv("CTL_TEST_REFUSE_INIT");
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.ReleaseAndGetVoidAddress()),
              S_OK);
    object.Reset();
    CoFreeUnusedLibraries();
    ASSERT_FALSE(Loaded(path));

    setenv("CTL_TEST_REFUSE_INIT", "1", 1);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.ReleaseAndGetVoidAddress()),
              CO_E_DLLNOTFOUND);
    EXPECT_FALSE(object);
    const std::string error = TakeErrorInfoText();
    EXPECT_NE(error.find("initialisation failed"), std::string::npos) << error;
    EXPECT_FALSE(Loaded(path));
    EXPECT_EQ(CoLoadLibrary(const_cast<LPOLESTR>(olePath.c_str()), FALSE), nullptr);
    EXPECT_FALSE(Loaded(path));

    unsetenv("CTL_TEST_REFUSE_INIT");
    void* module = CoLoadLibrary(const_cast<LPOLESTR>(olePath.c_str()), FALSE);
    ASSERT_NE(module, nullptr) << TakeErrorInfoText();
    EXPECT_TRUE(Loaded(path));
    CoFreeLibrary(module);
    EXPECT_FALSE(Loaded(path));
}

TEST(ModuleStateTest, ModuleFileNames) {
    std::string self, lib;
    ASSERT_TRUE(AfxGetModuleFileName(nullptr, &self));
    EXPECT_EQ(std::filesystem::path(self), std::filesystem::canonical("/proc/self/exe"));
    // Any address inside the main program names the program too.
    std::string fromMain;
    ASSERT_TRUE(AfxGetModuleFileName(reinterpret_cast<HINSTANCE>(&NewTestCtrl), &fromMain));
    EXPECT_EQ(fromMain, self);
    ASSERT_TRUE(AfxGetModuleFileName(reinterpret_cast<HINSTANCE>(&AfxGetModuleState), &lib));
    EXPECT_EQ(std::filesystem::path(lib).filename(), "libctl.so");
    EXPECT_TRUE(std::filesystem::path(lib).is_absolute());
    EXPECT_FALSE(AfxGetModuleFileName(nullptr, nullptr));
    std::string text;
    EXPECT_FALSE(AfxLoadString(nullptr, 1, &text));
}

// Class registration tests write a registry of their own.
class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry_ = std::make_unique<test_support::TempRegistry>();
        dir_ = registry_->dir();
    }
    void TearDown() override { registry_.reset(); }
    static bool Exists(const std::string& key) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
            return false;
        RegCloseKey(h);
        return true;
    }
    std::unique_ptr<test_support::TempRegistry> registry_;
    std::string dir_;
};

TEST_F(RegistrationTest, RemovalTakesTheClassAndProgIdAndToleratesAbsence) {
    const std::string key = "CLSID\\" + GuidToString(CLSID_TestCtrl);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (key + "\\InprocServer32").c_str(), REG_SZ, "x", 2),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Test.Ctrl.1\\CLSID", REG_SZ, "y", 2), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Test.Kept.1", REG_SZ, "z", 2), ERROR_SUCCESS);
    EXPECT_TRUE(AfxOleUnregisterClass(CLSID_TestCtrl, "Test.Ctrl.1"));
    EXPECT_FALSE(Exists(key));
    EXPECT_FALSE(Exists("Test.Ctrl.1"));
    EXPECT_TRUE(Exists("Test.Kept.1"));
    EXPECT_TRUE(Exists("CLSID"));
    // Removing again finds nothing to remove, which is no failure.
    EXPECT_TRUE(AfxOleUnregisterClass(CLSID_TestCtrl, "Test.Ctrl.1"));
    EXPECT_TRUE(AfxOleUnregisterClass(CLSID_TestCtrl, nullptr));
}

TEST_F(RegistrationTest, NothingIsWrittenWithoutTheModulesStrings) {
    int anchor = 0;
    EXPECT_FALSE(AfxOleRegisterControlClass(&anchor, CLSID_TestCtrl, "Test.Ctrl.1", 1, 1, 0,
                                            0x20591, CLSID_Other, 1, 0));
    EXPECT_FALSE(AfxOleRegisterPropertyPageClass(&anchor, CLSID_Other, 2));
    EXPECT_FALSE(Exists("CLSID\\" + GuidToString(CLSID_TestCtrl)));
    EXPECT_FALSE(Exists("Test.Ctrl.1"));
    // This program holds no type library.
    EXPECT_FALSE(AfxOleRegisterTypeLib(&anchor, CLSID_Other));
    EXPECT_FALSE(AfxOleUnregisterTypeLib(CLSID_Other, 1, 0));
}

TEST_F(RegistrationTest, UnreadableRegistryFailsTheRemoval) {
    const std::string path = dir_ + "/registry.reg";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("this is no registry\n", f);
    fclose(f);
    EXPECT_FALSE(AfxOleUnregisterClass(CLSID_TestCtrl, "Test.Ctrl.1"));
}

}  // namespace
