// The Pinbus library module: its module object, its two class factories and its four exports.
#include "platform/ctl/factory.h"
#include "platform/ctl/registration.h"
#include "portctl/port_access.h"
#include "portctl/property_page.h"
#include "portctl/resource_ids.h"

// The exports (portctl/sources.cmake lists them) are called as every COM method is
// (STDMETHODCALLTYPE). COM_EXPORT makes them visible in the native build; under Wine the module's
// .def file exports them.
#define PINBUS_EXPORT extern "C" COM_EXPORT

AFX_DEFINE_STATIC_MODULE_STATE()

namespace {

class CPinbusApp : public COleControlModule {
public:
    CPinbusApp() : COleControlModule(AfxGetStaticModuleState()) {}
};

class CPinbusCtrlFactory : public COleObjectFactory {
public:
    CPinbusCtrlFactory()
        : COleObjectFactory(AfxGetStaticModuleState(), CLSID_Pinbus, &AfxCreateObject<CPinbusCtrl>,
                            FALSE, PROGID_Pinbus) {}

    BOOL UpdateRegistry(BOOL bRegister) override {
        if (!bRegister) return AfxOleUnregisterClass(m_clsid, m_lpszProgID);
        // Not insertable and no threading model: the objects stay in the host's main apartment.
        return AfxOleRegisterControlClass(AfxGetInstanceHandle(), m_clsid, m_lpszProgID, IDS_PINBUS,
                                          IDB_PINBUS, 0, _dwPinbusOleMisc, LIBID_PINBUSLib,
                                          VERMAJOR_PINBUSLib, VERMINOR_PINBUSLib);
    }
};

class CPinbusPropPageFactory : public COleObjectFactory {
public:
    CPinbusPropPageFactory()
        : COleObjectFactory(AfxGetStaticModuleState(), CLSID_PinbusPropPage,
                            &AfxCreateObject<CPinbusPropPage>, FALSE, PROGID_PinbusPropPage) {}

    BOOL UpdateRegistry(BOOL bRegister) override {
        // The page's ProgID is known to the factory but never written.
        if (!bRegister) return AfxOleUnregisterClass(m_clsid, nullptr);
        return AfxOleRegisterPropertyPageClass(AfxGetInstanceHandle(), m_clsid, IDS_PINBUS_PPG);
    }
};

// Constructed in this order when the library is loaded, destroyed in reverse when it unloads.
CPinbusApp theApp;
AfxModuleStartup theAppStartup(theApp);
CPinbusCtrlFactory theCtrlFactory;
CPinbusPropPageFactory thePropPageFactory;

}  // namespace

PINBUS_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return AfxCallExport(AfxGetStaticModuleState(), [] { return AfxDllCanUnloadNow(); });
}

PINBUS_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                          void** ppv) {
    return AfxCallExport(AfxGetStaticModuleState(),
                         [&] { return AfxDllGetClassObject(rclsid, riid, ppv); });
}

// Each writes all its entries in one change of the class registry, or none.
PINBUS_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    return AfxCallExport(AfxGetStaticModuleState(), []() -> HRESULT {
        return AfxRegisterInOneChange([]() -> HRESULT {
            if (!AfxOleRegisterTypeLib(AfxGetInstanceHandle(), LIBID_PINBUSLib))
                return SELFREG_E_TYPELIB;
            if (!COleObjectFactory::UpdateRegistryAll(TRUE)) return SELFREG_E_CLASS;
            return S_OK;
        });
    });
}

PINBUS_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    return AfxCallExport(AfxGetStaticModuleState(), []() -> HRESULT {
        return AfxRegisterInOneChange([]() -> HRESULT {
            if (!AfxOleUnregisterTypeLib(LIBID_PINBUSLib, VERMAJOR_PINBUSLib, VERMINOR_PINBUSLib))
                return SELFREG_E_TYPELIB;
            if (!COleObjectFactory::UpdateRegistryAll(FALSE)) return SELFREG_E_CLASS;
            return S_OK;
        });
    });
}
