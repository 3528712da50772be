#include "platform/ctl/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "platform/com/combase.h"
#include "platform/com/library_init.h"
#include "platform/com/module_resources.h"
#include "platform/ctl/factory.h"
#include "platform/ctl/module_image.h"

namespace {

// The main program's state: current whenever no module has switched to its own.
AFX_MODULE_STATE& DefaultModuleState() {
    static AFX_MODULE_STATE state(nullptr);
    return state;
}

thread_local AFX_MODULE_STATE* t_currentState = nullptr;

bool RealPath(const std::string& path, std::string* out) {
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    if (!resolved) return false;
    *out = resolved.get();
    return true;
}

}  // namespace

AFX_MODULE_STATE* AfxGetModuleState() {
    return t_currentState ? t_currentState : &DefaultModuleState();
}

AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state) {
    AFX_MODULE_STATE* previous = t_currentState;
    t_currentState = state;
    return previous;
}

HINSTANCE AfxGetInstanceHandle() { return AfxGetModuleState()->m_hCurrentInstanceHandle; }

COleControlModule::COleControlModule(AFX_MODULE_STATE* state) : m_pModuleState(state) {
    state->m_pModule = this;
}

COleControlModule::~COleControlModule() {
    if (m_pModuleState->m_pModule == this) m_pModuleState->m_pModule = nullptr;
}

AfxModuleStartup::AfxModuleStartup(COleControlModule& module) : m_module(module) {
    AFX_MANAGE_STATE(module.m_pModuleState);
    try {
        m_bStarted = module.InitInstance() != FALSE;
    } catch (...) {
        m_bStarted = false;
    }
    // A module whose initialisation failed refuses to load, and hands out no class objects to
    // whoever reached it before.
    module.m_pModuleState->m_bInitFailed = !m_bStarted;
    if (!m_bStarted && module.m_pModuleState->m_hCurrentInstanceHandle)
        CoSetLibraryInitFailed(module.m_pModuleState->m_hCurrentInstanceHandle, true);
}

AfxModuleStartup::~AfxModuleStartup() {
    if (!m_bStarted) {
        if (m_module.m_pModuleState->m_hCurrentInstanceHandle)
            CoSetLibraryInitFailed(m_module.m_pModuleState->m_hCurrentInstanceHandle, false);
        return;
    }
    AFX_MANAGE_STATE(m_module.m_pModuleState);
    try {
        m_module.ExitInstance();
    } catch (...) {
        // Nothing can be reported while the module goes away.
    }
}

HRESULT AfxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    AFX_MODULE_STATE* state = AfxGetModuleState();
    if (state->m_bInitFailed) return E_UNEXPECTED;
    for (COleObjectFactory* f = state->m_pFactoryFirst; f; f = f->m_pNextFactory) {
        if (f->GetClassID() == rclsid) return f->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AfxDllCanUnloadNow() {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    return state->m_nObjectCount.load() == 0 && state->m_nLockCount.load() == 0 ? S_OK : S_FALSE;
}

void AfxOleLockApp(AFX_MODULE_STATE* state) { ++state->m_nLockCount; }

void AfxOleUnlockApp(AFX_MODULE_STATE* state) {
    // Never below zero: an unbalanced unlock must not let a later lock go unnoticed.
    long count = state->m_nLockCount.load();
    while (count > 0 && !state->m_nLockCount.compare_exchange_weak(count, count - 1)) {
    }
}

bool ModuleImageFile(HINSTANCE instance, std::string* path) {
    if (instance) {
        Dl_info info{};
        link_map* map = nullptr;
        if (dladdr1(instance, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 && map &&
            map->l_name && map->l_name[0] != '\0') {
            return RealPath(map->l_name, path);
        }
        // The main program's link map carries no name; fall through to its file.
    }
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return false;
    buffer[n] = '\0';
    *path = buffer;
    return true;
}

bool AfxLoadResource(HINSTANCE instance, ResourceType type, std::uint16_t id, std::string* bytes) {
    std::string path;
    if (!bytes || !ModuleImageFile(instance, &path)) return false;
    auto found = FindModuleResource(path, type, id);
    if (!found) return false;
    *bytes = std::move(*found);
    return true;
}

bool AfxLoadString(HINSTANCE instance, std::uint16_t id, std::string* text) {
    return AfxLoadResource(instance, ResourceType::String, id, text);
}
