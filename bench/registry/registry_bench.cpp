// Registry costs on a file holding a few dozen classes: a lookup as CoGetClassObject makes it
// (open, query, close) with the file unchanged, the same right after a change (the file is read
// again), and one change (lock, read, write, fsync, rename). On a registry of 10,000 classes
// (about 1.9 MB): the parse, the start-up of `lensbay --console` and `regsvr PINBUS.OCX`, each
// against the same with a registry holding only Pinbus.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/support/ratio.h"
#include "platform/com/reg_file.h"
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

constexpr int kManyClasses = 10000;

// The text of a registry of `n` classes, each as a control registers one: its name, its server
// and a few keys beside (about 190 bytes a class).
std::string ManyClassesText(int n) {
    reg::Key root;
    reg::Key& clsid = root.subkeys["CLSID"];
    char guid[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(guid, sizeof guid, "{%08X-7A1C-4E0B-9D2F-%012X}", 0x3C000000u + unsigned(i),
                      unsigned(i) * 2654435761u);
        reg::Key& c = clsid.subkeys[guid];
        c.values[""] = reg::Value{REG_SZ, "Class " + std::to_string(i) + '\0'};
        c.subkeys["InprocServer32"].values[""] =
            reg::Value{REG_SZ, std::string("/usr/lib/lensbay/generated.so") + '\0'};
    }
    return reg::WriteRegistryText(root);
}

void BM_ParseTenThousandClasses(benchmark::State& state) {
    const std::string text = ManyClassesText(kManyClasses);
    for (auto _ : state) {
        reg::Key tree;
        if (const base::Result<> parsed = reg::ParseRegistryText(text, &tree); !parsed)
            state.SkipWithError(parsed.message().c_str());
        benchmark::DoNotOptimize(tree);
        state.PauseTiming();  // the tree's destruction is not the parse's
        tree = reg::Key{};
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_ParseTenThousandClasses)->Unit(benchmark::kMillisecond);

void BM_WriteTenThousandClasses(benchmark::State& state) {
    reg::Key tree;
    if (const base::Result<> parsed = reg::ParseRegistryText(ManyClassesText(kManyClasses), &tree);
        !parsed) {
        state.SkipWithError(parsed.message().c_str());
        return;
    }
    std::size_t size = 0;
    for (auto _ : state) {
        std::string text = reg::WriteRegistryText(tree);
        size = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}
BENCHMARK(BM_WriteTenThousandClasses)->Unit(benchmark::kMillisecond);

// Where lensbay, regsvr and PINBUS.OCX are: beside this program, or LENSBAY_BENCH_BIN.
std::string BinDir() {
    if (const char* dir = std::getenv("LENSBAY_BENCH_BIN"); dir && *dir) return dir;
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs a program with OLE_REGISTRY = registry and standard input from `input` (or /dev/null);
// its wall-clock time in seconds (and its CPU time, user and system, in *cpu), or a negative
// number when it did not run to a clean end.
double Run(const std::vector<std::string>& argv, const std::string& registry,
           const std::string& input, double* cpu = nullptr) {
    const double start = Now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        const int out = ::open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::setenv("OLE_REGISTRY", registry.c_str(), 1) != 0 || ::setenv("PORTIO", "sim", 1))
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    const double end = Now();
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    if (cpu) *cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return end - start;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// A folder with two registries, each with PINBUS.OCX registered: one holding only Pinbus, one
// holding it among 10,000 classes.
class Registries {
public:
    Registries() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lensbay-bench-XXXXXX");
        if (!mkdtemp(pattern.data())) return;
        dir_ = pattern;
        input_ = dir_ + "/quit";
        const std::string bin = BinDir();
        if (!WriteText(input_, "quit\n") || !WriteText(path(true), ManyClassesText(kManyClasses)))
            return;
        ok_ = Run({bin + "/regsvr", bin + "/PINBUS.OCX"}, path(false), "") >= 0 &&
              Run({bin + "/regsvr", bin + "/PINBUS.OCX"}, path(true), "") >= 0;
        // The start-up cases read copies of their own: the registration cases put their files
        // back before each run, and with the repetitions interleaved that must not make the
        // start-up's file a just-changed one.
        for (bool large : {false, true}) {
            std::error_code ec;
            std::filesystem::copy_file(path(large), path(large) + ".orig", ec);
            ok_ = ok_ && !ec;
            std::filesystem::copy_file(path(large), startup_path(large), ec);
            ok_ = ok_ && !ec;
        }
        // Let the files age past the window in which a file just changed is always read again
        // (a registry is not usually changed just before a program starts).
        sleep(3);
    }
    ~Registries() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    bool ok() const { return ok_; }
    const std::string& input() const { return input_; }
    std::string path(bool large) const { return dir_ + (large ? "/large.reg" : "/small.reg"); }
    std::string startup_path(bool large) const {
        return dir_ + (large ? "/large-startup.reg" : "/small-startup.reg");
    }
    // Puts a registry back as it was made.
    bool Restore(bool large) const {
        std::error_code ec;
        std::filesystem::copy_file(path(large) + ".orig", path(large),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        return !ec;
    }

private:
    std::string dir_, input_;
    bool ok_ = false;
};

Registries& TheRegistries() {
    static Registries registries;
    return registries;
}

// `lensbay --console` from its start to its end with "quit" as the only command. The time is
// the process's CPU time (user and system): the start-up does no waiting of its own, and on a
// shared machine the wall-clock time mostly measures the other processes (it is shown as a
// counter).
void ConsoleStartup(benchmark::State& state, bool large) {
    Registries& r = TheRegistries();
    if (!r.ok()) {
        state.SkipWithError("cannot prepare the registries (is everything built?)");
        return;
    }
    const std::string lensbay = BinDir() + "/lensbay";
    double wall = 0;
    for (auto _ : state) {
        double cpu = 0;
        const double seconds = Run({lensbay, "--console"}, r.startup_path(large), r.input(), &cpu);
        if (seconds < 0) {
            state.SkipWithError("lensbay --console did not run to its end");
            return;
        }
        wall += seconds;
        state.SetIterationTime(cpu);
    }
    state.counters["wall_ms"] = wall * 1e3 / static_cast<double>(state.iterations());
}
void BM_ConsoleStartupPinbusOnly(benchmark::State& state) { ConsoleStartup(state, false); }
void BM_ConsoleStartupTenThousandClasses(benchmark::State& state) { ConsoleStartup(state, true); }
BENCHMARK(BM_ConsoleStartupPinbusOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5)
    ->Repetitions(5);
BENCHMARK(BM_ConsoleStartupTenThousandClasses)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5)
    ->Repetitions(5);

// `regsvr PINBUS.OCX` into the registry as it was made.
void Regsvr(benchmark::State& state, bool large) {
    Registries& r = TheRegistries();
    if (!r.ok()) {
        state.SkipWithError("cannot prepare the registries (is everything built?)");
        return;
    }
    const std::string bin = BinDir();
    for (auto _ : state) {
        if (!r.Restore(large)) {
            state.SkipWithError("cannot restore the registry");
            return;
        }
        const double seconds = Run({bin + "/regsvr", bin + "/PINBUS.OCX"}, r.path(large), "");
        if (seconds < 0) {
            state.SkipWithError("regsvr did not run to its end");
            return;
        }
        state.SetIterationTime(seconds);
    }
}
void BM_RegsvrPinbusOnly(benchmark::State& state) { Regsvr(state, false); }
void BM_RegsvrTenThousandClasses(benchmark::State& state) { Regsvr(state, true); }
BENCHMARK(BM_RegsvrPinbusOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(5);
BENCHMARK(BM_RegsvrTenThousandClasses)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    return bench::MainWithRatios(
        argc, argv,
        {{"console_startup_10000_classes/pinbus_only", "BM_ConsoleStartupTenThousandClasses",
          "BM_ConsoleStartupPinbusOnly", 1.5, bench::Ratio::kReal},
         {"regsvr_10000_classes/pinbus_only", "BM_RegsvrTenThousandClasses", "BM_RegsvrPinbusOnly",
          3.0, bench::Ratio::kReal}});
}
