// regsvr [--system] [-u] PATH: loads an in-process server and asks it to register (or unregister)
// itself in the class registry; prints the outcome with its HRESULT and exits 0 only on S_OK.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com/combase.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"
#include "platform/com/wtypes.h"

#ifndef LENSBAY_VERSION
#define LENSBAY_VERSION "unknown"
#endif

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: regsvr [-u] PATH | --help | --version\n"
        "       regsvr --system [-u] PATH\n"
        "Loads the in-process server PATH and calls its DllRegisterServer (with -u:\n"
        "DllUnregisterServer). The class registry is the file named by OLE_REGISTRY, else\n"
        "${XDG_DATA_HOME:-$HOME/.local/share}/lensbay/registry.reg (read over the machine-wide\n"
        "one). --system: the machine-wide registry for every user instead (needs root).\n"
        "On success it says which registry file it wrote.\n"
        "Exit status: 0 when the server answers S_OK, 1 otherwise.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool system = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("regsvr %s\n", LENSBAY_VERSION);
            return 0;
        }
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (arg == "--system") {
            system = true;
        } else if (arg == "--") {
            if (i + 1 < argc && !path) path = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "regsvr: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 1;
        } else if (path) {
            std::fprintf(stderr, "regsvr: only one PATH may be given\n");
            Usage(stderr);
            return 1;
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        Usage(stderr);
        return 1;
    }
    // The machine-wide registry, and only it.
    if (system && ::setenv("OLE_REGISTRY", MachineRegistryFilePath().c_str(), 1) != 0) {
        std::fprintf(stderr, "regsvr: cannot select the machine-wide registry: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // The registry keeps the full path, so that any process can load the server later.
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    // Through the platform's loader: a library whose initialisation fails is refused there.
    void* module = CoLoadLibrary(Utf8ToOle(resolved).data(), FALSE);
    if (!module) {
        std::fprintf(stderr, "regsvr: %s\n", TakeErrorInfoText().c_str());
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    dlerror();
    auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(module, entry));
    if (!fn) {
        const char* why = dlerror();
        std::fprintf(stderr, "regsvr: %s has no %s: %s\n", resolved, entry,
                     why ? why : "null symbol");
        return 1;
    }
    // Whatever the server writes lands in the class registry in one change, or not at all; when
    // that change cannot be written, not even the first step (the type library) is done.
    RegistryBeginBatch();
    HRESULT hr = fn();
    if (hr == S_OK) {
        if (base::Result<> written = RegistryCommitBatch(); !written) hr = SELFREG_E_TYPELIB;
    } else {
        RegistryAbandonBatch();
    }
    std::printf("%s in %s %s (%s)\n", entry, resolved, hr == S_OK ? "succeeded" : "failed",
                HresultToString(hr).c_str());
    // Which file changed: OLE_REGISTRY, the user's own registry or (--system) the machine's.
    if (hr == S_OK) std::printf("written to the class registry %s\n", RegistryFilePath().c_str());
    if (FAILED(hr)) {
        // A registry that cannot be read is the user's to repair; say which file and how.
        const std::string last = TakeErrorInfoText();
        if (const base::Result<> registry = CheckClassRegistry(); !registry) {
            std::fprintf(stderr, "regsvr: %s\n", registry.message().c_str());
        } else if (!last.empty()) {
            std::fprintf(stderr, "regsvr: last registry error: %s\n", last.c_str());
            if (system && ::geteuid() != 0 && last.find("Permission denied") != std::string::npos)
                std::fprintf(stderr, "regsvr: --system changes %s: run it as root\n",
                             MachineRegistryFilePath().c_str());
        }
    }
    std::fflush(stdout);
    return hr == S_OK ? 0 : 1;
}
