// Module state, module object and the class-object lookup of the control framework.
//
// Every library built on the framework (an in-process server such as a control module) owns one
// AFX_MODULE_STATE: its instance handle (from which its file and resources are found), its class
// factories, and the object and lock counts behind DllCanUnloadNow. The framework keeps, per
// thread, a pointer to the state of the module whose code is running; every export of a module
// switches it with AFX_MANAGE_STATE for the length of the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "platform/com/com_exception.h"
#include "platform/com/resource_table.h"
#include "platform/com/unknwn.h"

#define CTL_EXPORT __attribute__((visibility("default")))

class COleObjectFactory;
class COleControlModule;

// A module instance handle: the address of anything inside the module. The module's file (and so
// its resources) is found from it; null stands for the main program.
using HINSTANCE = const void*;

class CTL_EXPORT AFX_MODULE_STATE {
public:
    explicit AFX_MODULE_STATE(HINSTANCE instance) : m_hCurrentInstanceHandle(instance) {}
    AFX_MODULE_STATE(const AFX_MODULE_STATE&) = delete;
    AFX_MODULE_STATE& operator=(const AFX_MODULE_STATE&) = delete;

    HINSTANCE m_hCurrentInstanceHandle;
    // The module's class factories, in the order of their construction.
    COleObjectFactory* m_pFactoryFirst = nullptr;
    COleObjectFactory* m_pFactoryLast = nullptr;
    COleControlModule* m_pModule = nullptr;
    // Live framework objects created in this module, and server locks (LockServer and held
    // class-object references).
    std::atomic<long> m_nObjectCount{0};
    std::atomic<long> m_nLockCount{0};
    // Set when the module object's initialisation failed: the module then hands out nothing.
    bool m_bInitFailed = false;
};

// Each module defines its own state; AFX_DEFINE_STATIC_MODULE_STATE() in one of its source files
// provides AfxGetStaticModuleState() for that module (hidden, so modules never share it).
AFX_MODULE_STATE* AfxGetStaticModuleState();
#define AFX_DEFINE_STATIC_MODULE_STATE()                                                      \
    AFX_MODULE_STATE* AfxGetStaticModuleState() {                                             \
        static AFX_MODULE_STATE state(reinterpret_cast<HINSTANCE>(&AfxGetStaticModuleState)); \
        return &state;                                                                        \
    }

// The state of the module whose code runs on this thread (the main program's when none is set).
CTL_EXPORT AFX_MODULE_STATE* AfxGetModuleState();
// Makes `state` current on this thread and returns the previous one (null restores the default).
CTL_EXPORT AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state);
CTL_EXPORT HINSTANCE AfxGetInstanceHandle();

// Switches the current module state for its lifetime and restores the previous one on every way
// out, exceptions included.
class CTL_EXPORT AFX_MAINTAIN_STATE2 {
public:
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) noexcept
        : m_pPrevState(AfxSetModuleState(state)) {}
    ~AFX_MAINTAIN_STATE2() { AfxSetModuleState(m_pPrevState); }
    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

private:
    AFX_MODULE_STATE* m_pPrevState;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _afxModuleStateGuard(p)

// Runs an export's body with the module's state current; no exception leaves it (it becomes
// its HRESULT, see HresultFromCurrentException).
template <typename Body>
HRESULT AfxCallExport(AFX_MODULE_STATE* state, Body&& body) noexcept {
    try {
        AFX_MANAGE_STATE(state);
        return body();
    } catch (...) {
        return HresultFromCurrentException();
    }
}

// The module object: one per module, a static object. Its initialisation runs when the module is
// loaded (AfxModuleStartup), its exit when it is unloaded.
class CTL_EXPORT COleControlModule {
public:
    explicit COleControlModule(AFX_MODULE_STATE* state);
    virtual ~COleControlModule();
    COleControlModule(const COleControlModule&) = delete;
    COleControlModule& operator=(const COleControlModule&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    AFX_MODULE_STATE* m_pModuleState;
};

// Place right after the module object in the same source file: runs its InitInstance on load
// and its ExitInstance on unload (static objects are destroyed in reverse order).
class CTL_EXPORT AfxModuleStartup {
public:
    explicit AfxModuleStartup(COleControlModule& module);
    ~AfxModuleStartup();
    AfxModuleStartup(const AfxModuleStartup&) = delete;
    AfxModuleStartup& operator=(const AfxModuleStartup&) = delete;

private:
    COleControlModule& m_module;
    bool m_bStarted = false;
};

// The framework's answers behind a module's exports, for the current module state.
CTL_EXPORT HRESULT AfxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
CTL_EXPORT HRESULT AfxDllCanUnloadNow();

// Object and lock counting of a module.
CTL_EXPORT void AfxOleLockApp(AFX_MODULE_STATE* state);
CTL_EXPORT void AfxOleUnlockApp(AFX_MODULE_STATE* state);

// The full path of the module file holding `instance` (null: the main program), as the class
// registry and LoadTypeLib must name it: under Wine the PE module the loader mapped (for a
// Winelib module its placeholder, C:\pinbus\PINBUS.OCX), not the ELF file. False when the loader
// cannot tell. Resources are read from the ELF file either way.
CTL_EXPORT bool AfxGetModuleFileName(HINSTANCE instance, std::string* path);
// One resource of a module, read from its file.
CTL_EXPORT bool AfxLoadResource(HINSTANCE instance, ResourceType type, std::uint16_t id,
                                std::string* bytes);
CTL_EXPORT bool AfxLoadString(HINSTANCE instance, std::uint16_t id, std::string* text);
