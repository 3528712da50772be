// A module of the framework whose initialisation fails when CTL_TEST_REFUSE_INIT is "1" at load:
// the loader must then refuse it. It serves one class of plain objects.
#include <cstdlib>
#include <cstring>

#include "platform/ctl/factory.h"

#define INIT_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

AFX_DEFINE_STATIC_MODULE_STATE()

namespace {

// {A1B2C3D4-0009-4000-8000-00000000C0DE}, as tests/platform/ctl/module_test.cpp names it.
constexpr CLSID kClsid = {
    0xA1B2C3D4, 0x0009, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

class CPlainObject final : public CCmdTarget, public IUnknown {
public:
    AFX_DECLARE_IUNKNOWN
    IUnknown* GetControllingUnknown() override { return this; }
    void* GetInterface(REFIID) override { return nullptr; }
};

class CInitModule : public COleControlModule {
public:
    CInitModule() : COleControlModule(AfxGetStaticModuleState()) {}
    BOOL InitInstance() override {
        const char* refuse = std::getenv("CTL_TEST_REFUSE_INIT");
        return refuse && std::strcmp(refuse, "1") == 0 ? FALSE : TRUE;
    }
};

CInitModule theApp;
AfxModuleStartup theAppStartup(theApp);
COleObjectFactory theFactory(AfxGetStaticModuleState(), kClsid, &AfxCreateObject<CPlainObject>,
                             FALSE, "CtlTest.Init.1");

}  // namespace

INIT_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return AfxCallExport(AfxGetStaticModuleState(),
                         [&] { return AfxDllGetClassObject(rclsid, riid, ppv); });
}

INIT_MODULE_EXPORT HRESULT DllCanUnloadNow() {
    return AfxCallExport(AfxGetStaticModuleState(), [] { return AfxDllCanUnloadNow(); });
}
