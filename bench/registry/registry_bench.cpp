// Registry costs on a file holding a few dozen classes: a lookup as CoGetClassObject makes it
// (open, query, close) with the file unchanged, the same right after a change (the file is read
// again), and one change (lock, read, write, fsync, rename).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/com/registry.h"

namespace {

class ScratchRegistry {
public:
    ScratchRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lensbay-bench-XXXXXX");
        if (mkdtemp(pattern.data())) dir_ = pattern;
        setenv("OLE_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        for (int i = 0; i < 40; ++i) {
            std::string key = "CLSID\\{6B2F14" + std::to_string(10 + i) +
                              "-5C83-11D0-9E41-0040A7B3C250}\\InprocServer32";
            RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, "/usr/lib/lensbay/PINBUS.OCX", 0);
        }
        // Let the file age past the window in which it is always read again.
        sleep(3);
    }
    ~ScratchRegistry() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    std::string dir_;
};

void UseScratchRegistry() { static ScratchRegistry registry; }

bool Lookup() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT,
                      "CLSID\\{6B2F1430-5C83-11D0-9E41-0040A7B3C250}\\InprocServer32", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return false;
    char path[256];
    DWORD size = sizeof path;
    LSTATUS st =
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    return st == ERROR_SUCCESS;
}

void BM_LookupUnchangedFile(benchmark::State& state) {
    UseScratchRegistry();
    for (auto _ : state)
        if (!Lookup()) state.SkipWithError("lookup failed");
}
BENCHMARK(BM_LookupUnchangedFile);

void BM_LookupRightAfterAChange(benchmark::State& state) {
    UseScratchRegistry();
    RegSetValueA(HKEY_CLASSES_ROOT, "Touched", REG_SZ, "now", 0);
    for (auto _ : state)
        if (!Lookup()) state.SkipWithError("lookup failed");
}
BENCHMARK(BM_LookupRightAfterAChange);

void BM_ChangeTransaction(benchmark::State& state) {
    UseScratchRegistry();
    int n = 0;
    for (auto _ : state) {
        std::string value = std::to_string(n++ & 1);
        if (RegSetValueA(HKEY_CLASSES_ROOT, "Counter", REG_SZ, value.c_str(), 0) != ERROR_SUCCESS)
            state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_ChangeTransaction);

}  // namespace

BENCHMARK_MAIN();
