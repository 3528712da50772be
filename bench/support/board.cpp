#include "bench/support/board.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "panel/startup.h"
#include "platform/portio/portio.h"

namespace bench {

std::string BinDir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

WorkDir::WorkDir(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) && ::getcwd(previous_, sizeof previous_) &&
        ::chdir(pattern.c_str()) == 0) {
        path_ = pattern;
    }
}

WorkDir::~WorkDir() {
    if (path_.empty()) return;
    if (::chdir(previous_) != 0) std::perror("chdir");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool OpenSimulatedBoard(benchmark::State& state) {
    if (::setenv("PORTIO", "sim", 1) != 0) {
        state.SkipWithError("port backend: cannot set PORTIO");
        return false;
    }
    if (const base::Result<> opened = portio::Initialize(); !opened) {
        state.SkipWithError(("port backend: " + opened.message()).c_str());
        return false;
    }
    return true;
}

IDispatch* CreatePinbus(std::string* why) {
    const char* other = std::getenv("LENSBAY_BENCH_PINBUS");
    static void* module = ::dlopen(other && *other ? other : (BinDir() + "/PINBUS.OCX").c_str(),
                                   RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        *why = "cannot load PINBUS.OCX beside the benchmark";
        return nullptr;
    }
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(::dlsym(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> object;
    if (!get ||
        FAILED(
            get(panel::CLSID_PinbusCtrl, IID_IClassFactory, factory.ReleaseAndGetVoidAddress())) ||
        FAILED(panel::CreateLoadedPinbus(factory.Get(), nullptr, std::addressof(object)))) {
        *why = "cannot create a Pinbus object";
        return nullptr;
    }
    return object.Detach();
}

bool CreatePinbusPair(PinbusPair* pair, std::string* why) {
    pair->pinbus1.Attach(CreatePinbus(why));
    pair->pinbus2.Attach(pair->pinbus1 ? CreatePinbus(why) : nullptr);
    return static_cast<bool>(pair->pinbus2);
}

bool RegisterPinbus(const std::string& dir, std::string* why) {
    const std::string bin = BinDir();
    if (::setenv("OLE_REGISTRY", (dir + "/registry.reg").c_str(), 1) != 0 ||
        ::setenv("PORTIO", "sim", 1) != 0) {
        *why = "cannot prepare the working directory";
        return false;
    }
    const std::string regsvr = "'" + bin + "/regsvr' '" + bin + "/PINBUS.OCX' >/dev/null";
    if (std::system(regsvr.c_str()) != 0) {
        *why = "cannot register PINBUS.OCX (is everything built?)";
        return false;
    }
    return true;
}

}  // namespace bench
