// Object creation through the registry, against the test server module.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/registry.h"
#include "tests/platform/com/failing_stream.h"
#include "tests/platform/com/test_server.h"
#include "tests/support/temp_registry.h"

using test_support::TempRegistry;

namespace {

const std::string kServer = TEST_SERVER_PATH;
const std::string kNoExports = TEST_NO_EXPORTS_PATH;

bool Loaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);  // NOLOAD still counts a reference
    return h != nullptr;
}

void RegisterServer(REFCLSID clsid, const std::string& path) {
    std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, path.c_str(), 0), ERROR_SUCCESS);
}

LONG GetNumber(IDispatch* d) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    return v.lVal;
}

class ObjectCreation : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterServer(kTestObjectClsid, kServer);
        CoFreeUnusedLibraries();
        ASSERT_FALSE(Loaded(kServer));
    }
    void TearDown() override { CoFreeUnusedLibraries(); }
    TempRegistry temp_;
};

TEST_F(ObjectCreation, CreatesARegisteredObjectAndItsClassObject) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    ComPtr<IDispatch> d;
    ASSERT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               d.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_TRUE(Loaded(kServer));
    EXPECT_EQ(GetNumber(d.Get()), 0);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CoGetClassObject(kTestObjectClsid, CLSCTX_ALL, nullptr, IID_IClassFactory,
                               factory.ReleaseAndGetVoidAddress()),
              S_OK);
    ComPtr<IPersistStreamInit> persist;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersistStreamInit,
                                      persist.ReleaseAndGetVoidAddress()),
              S_OK);
    // The object's own refusal of an interface comes back unchanged.
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IStream, &p),
              E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    CoUninitialize();
}

TEST_F(ObjectCreation, UnregisteredOrRefusedClassesFailWithThePlatformCodes) {
    void* p = reinterpret_cast<void*>(1);
    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    // A class key without its InprocServer32 entry is not creatable either.
    std::string noServer = "CLSID\\" + GuidToString(unknown);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, noServer.c_str(), REG_SZ, "No server", 0),
              ERROR_SUCCESS);
    EXPECT_EQ(CoGetClassObject(unknown, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_NE(TakeErrorInfoText().find(GuidToString(unknown)), std::string::npos);
    EXPECT_EQ(
        CoGetClassObject(kTestObjectClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, &p),
        REGDB_E_CLASSNOTREG);
    // Registered to the test server, which does not hold it: the server's answer.
    RegisterServer(kUnheldClsid, kServer);
    EXPECT_EQ(CoCreateInstance(kUnheldClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    IUnknown* outer = reinterpret_cast<IUnknown*>(8);
    EXPECT_EQ(CoCreateInstance(kTestObjectClsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(
        CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
        E_INVALIDARG);
}

TEST_F(ObjectCreation, LibrariesThatWillNotLoadAreNamedWithTheLoadersReason) {
    void* p = nullptr;
    const std::string missing = temp_.dir() + "/missing.so";
    RegisterServer(kTestObjectClsid, missing);
    EXPECT_EQ(
        CoGetClassObject(kTestObjectClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
        CO_E_DLLNOTFOUND);
    const std::string error = TakeErrorInfoText();
    EXPECT_NE(error.find("cannot load " + missing + ": "), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    const std::string text = temp_.dir() + "/not-a-library.so";
    std::ofstream(text) << "just text\n";
    RegisterServer(kTestObjectClsid, text);
    EXPECT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CO_E_DLLNOTFOUND);
    const std::string notLibrary = TakeErrorInfoText();
    EXPECT_NE(notLibrary.find(text), std::string::npos) << notLibrary;

    RegisterServer(kTestObjectClsid, kNoExports);
    EXPECT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CO_E_ERRORINDLL);
    const std::string noExports = TakeErrorInfoText();
    EXPECT_NE(noExports.find(kNoExports + " has no DllGetClassObject"), std::string::npos)
        << noExports;
    EXPECT_FALSE(Loaded(kNoExports));  // not kept loaded after the failure
}

TEST_F(ObjectCreation, DamagedRegistryIsReportedNotTakenForAMissingClass) {
    temp_.Replace("REGEDIT4\n[HKEY_CLASSES_ROOT\\CLSID]\noops\n");
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              REGDB_E_READREGDB);
    EXPECT_EQ(TakeErrorInfoText(), temp_.path() + ":3: expected a key or a value");
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgIDA("Any.Thing.1", &clsid), REGDB_E_READREGDB);
}

TEST_F(ObjectCreation, UnloadsOnlyWhenTheServerSaysSo) {
    ComPtr<IDispatch> a, b;
    ASSERT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               a.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               b.ReleaseAndGetVoidAddress()),
              S_OK);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(kServer));
    a.Reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(kServer));
    b.Reset();
    // Two creations, one load: a single pass unloads it.
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded(kServer));

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kTestObjectClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(kServer));
    ASSERT_EQ(CoGetClassObject(kTestObjectClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded(kServer));
    // And it loads again when asked.
    ASSERT_EQ(CoCreateInstance(kTestObjectClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               a.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_EQ(GetNumber(a.Get()), 0);
}

TEST_F(ObjectCreation, ProgIdsLeadToTheirClass) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "LensbayTest.Object.1\\CLSID", REG_SZ,
                           GuidToString(kTestObjectClsid).c_str(), 0),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Broken.Prog.1\\CLSID", REG_SZ, "not a guid", 0),
              ERROR_SUCCESS);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgIDA("lensbaytest.object.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kTestObjectClsid);
    clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(u"LensbayTest.Object.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kTestObjectClsid);
    EXPECT_EQ(CLSIDFromProgIDA("Missing.Prog.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, GUID_NULL);
    EXPECT_EQ(CLSIDFromProgIDA("Broken.Prog.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_NE(TakeErrorInfoText().find("not a guid"), std::string::npos);
    EXPECT_EQ(CLSIDFromProgIDA("", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgIDA("Bad\\\\Name", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgIDA(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
}

// A host's Load on a stream that breaks off: a failure, and the object as it was.
void ExpectLoadFailsCleanly(REFCLSID clsid, DISPID probe, const VARIANT& before) {
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStreamInit,
                               persist.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    for (HRESULT failure : {STG_E_READFAULT, E_FAIL, S_FALSE}) {
        FailingReadStream stream(std::string(3, '\x7f'), failure);
        EXPECT_TRUE(FAILED(persist->Load(&stream))) << HresultToString(failure);
        EXPECT_EQ(stream.refs(), 1u);
        EXPECT_EQ(persist->IsDirty(), S_FALSE);
        ComPtr<IDispatch> d;
        ASSERT_EQ(persist.As(IID_IDispatch, std::addressof(d)), S_OK);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(d->Invoke(probe, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(v.vt, before.vt);
        EXPECT_EQ(v.lVal & (v.vt == VT_I2 ? 0xFFFF : -1), before.lVal);
    }
}

TEST_F(ObjectCreation, LoadFromAFailingStreamFailsCleanly) {
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 888;
    ExpectLoadFailsCleanly(kTestObjectClsid, 1, number);
#ifdef PINBUS_PATH
    const CLSID pinbus = {
        0x6B2F14D3, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
    RegisterServer(pinbus, PINBUS_PATH);
    VARIANT bits;
    bits.vt = VT_I2;
    bits.lVal = 8;
    ExpectLoadFailsCleanly(pinbus, 2, bits);
    number.lVal = 0x378;
    ExpectLoadFailsCleanly(pinbus, 1, number);
#endif
}

#ifdef PINBUS_PATH
// Unloading the control library leaves the platform libraries it pulled in (and their
// process-wide state: port service, caches, message-box hooks) loaded, and it loads again.
TEST_F(ObjectCreation, ControlLibraryUnloadsAndComesBackWhileThePlatformStays) {
    const CLSID pinbus = {
        0x6B2F14D3, 0x5C83, 0x11D0, {0x9E, 0x41, 0x00, 0x40, 0xA7, 0xB3, 0xC2, 0x50}};
    RegisterServer(pinbus, PINBUS_PATH);
    auto create = [&](ComPtr<IDispatch>* d) {
        ASSERT_EQ(CoCreateInstance(pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   d->ReleaseAndGetVoidAddress()),
                  S_OK);
        ComPtr<IPersistStreamInit> persist;
        ASSERT_EQ(d->As(IID_IPersistStreamInit, std::addressof(persist)), S_OK);
        ASSERT_EQ(persist->InitNew(), S_OK);
        EXPECT_EQ(GetNumber(d->Get()), 0x378);  // Address
    };
    ComPtr<IDispatch> d;
    create(std::addressof(d));
    std::vector<std::string> platform;
    for (const char* name : {"libctl.so", "libportio.so", "libui_core.so", "libui.so"})
        if (Loaded(name)) platform.push_back(name);
    EXPECT_GE(platform.size(), 2u);
    d.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded(PINBUS_PATH));
    for (const std::string& name : platform) EXPECT_TRUE(Loaded(name)) << name;
    create(std::addressof(d));
    EXPECT_TRUE(Loaded(PINBUS_PATH));
}
#endif

}  // namespace
