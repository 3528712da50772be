// The live view on the simulated board, full frame: frames per second of the real live window
// (its reading thread and the window's event loop, offscreen), as a ratio to a full-frame
// Capture measured in the same run, how late a 10 ms timer on the window's thread fires at worst,
// and the resident memory after 100 frames against that at the end of the run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "panel/panel.h"
#include "panel/qt/live_window.h"
#include "panel/startup.h"
#include "platform/com/objidl.h"
#include "platform/portio/portio.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BinDir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

class NullMonitor : public panel::MonitorWindow {
public:
    void Close() override {}
    void SetHeightTwips(int) override {}
    void SetWidthTwips(int) override {}
    bool LoadPicture(const std::string&) override { return true; }
    void Show() override {}
};

class NullUi : public panel::UserInterface {
public:
    void MessageBox(const std::string&, const std::string&) override {}
    void SetWaitCursor(bool) override {}
    panel::MonitorWindow& Monitor() override { return monitor_; }

private:
    NullMonitor monitor_;
};

IDispatch* CreatePinbus(std::string* why) {
    static void* module = ::dlopen((BinDir() + "/PINBUS.OCX").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        *why = "cannot load PINBUS.OCX beside the benchmark";
        return nullptr;
    }
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(::dlsym(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> object;
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    if (!get ||
        FAILED(
            get(panel::CLSID_PinbusCtrl, IID_IClassFactory, factory.ReleaseAndGetVoidAddress())) ||
        FAILED(
            factory->CreateInstance(nullptr, IID_IDispatch, object.ReleaseAndGetVoidAddress())) ||
        FAILED(object.As(IID_IPersistStreamInit, std::addressof(persist))) ||
        FAILED(CreateStreamOnMemory(panel::kPinbusStoredStream.data(),
                                    static_cast<ULONG>(panel::kPinbusStoredStream.size()),
                                    &stream)) ||
        FAILED(persist->Load(stream.Get()))) {
        *why = "cannot create a Pinbus object";
        return nullptr;
    }
    return object.Detach();
}

// The process's CPU time in seconds, all threads.
double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Resident memory in kB (0 when it cannot be read).
long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// A temporary working directory for Capture's files.
class WorkDir {
public:
    WorkDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/lensbay-live-XXXXXX";
        if (::mkdtemp(pattern.data()) && ::getcwd(previous_, sizeof previous_) &&
            ::chdir(pattern.c_str()) == 0) {
            path_ = pattern;
        }
    }
    ~WorkDir() {
        if (path_.empty()) return;
        if (::chdir(previous_) != 0) std::perror("chdir");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    char previous_[PATH_MAX] = {};
    std::string path_;
};

// Arg: the number of frames the live window reads.
void BM_LiveWindowFullFrame(benchmark::State& state) {
    if (::setenv("PORTIO", "sim", 1) != 0) {
        state.SkipWithError("cannot set PORTIO");
        return;
    }
    if (const base::Result<> opened = portio::Initialize(); !opened) {
        state.SkipWithError(("port backend: " + opened.message()).c_str());
        return;
    }
    std::string error;
    WorkDir dir;
    ComPtr<IDispatch> pinbus1, pinbus2;
    pinbus1.Attach(CreatePinbus(&error));
    pinbus2.Attach(pinbus1 ? CreatePinbus(&error) : nullptr);
    if (dir.path().empty() || !pinbus2) {
        state.SkipWithError(dir.path().empty() ? "no working directory" : error.c_str());
        return;
    }
    NullUi ui;
    panel::Panel panel(pinbus1.Get(), pinbus2.Get(), ui);
    panel.FormLoad();

    // The baseline: full-frame Captures in the same run.
    constexpr int kCaptures = 10;
    const auto capture_start = Clock::now();
    const double capture_cpu_start = CpuSeconds();
    for (int i = 0; i < kCaptures; ++i) panel.CaptureClick();
    const double capture_s =
        std::chrono::duration<double>(Clock::now() - capture_start).count() / kCaptures;
    const double capture_cpu_s = (CpuSeconds() - capture_cpu_start) / kCaptures;

    const auto frames = static_cast<std::uint64_t>(state.range(0));
    double seconds = 0, cpu_seconds = 0, longest_gap_ms = 0;
    long rss_early = 0, rss_end = 0;
    for (auto _ : state) {
        panel::qt::LiveWindow live(panel, nullptr);
        live.show();
        const auto start = Clock::now();
        const double cpu_start = CpuSeconds();
        if (!live.Start()) {
            state.SkipWithError("the live view did not start");
            return;
        }
        // A 10 ms timer on the window's thread: how late it fires is how long the window
        // would keep a click waiting.
        auto last = Clock::now();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longest_gap_ms = std::max(
                longest_gap_ms, std::chrono::duration<double, std::milli>(now - last).count() - 10);
            last = now;
        });
        tick.start(10);
        while (live.FramesRead() < frames) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (rss_early == 0 && live.FramesRead() >= 100) rss_early = ResidentKb();
        }
        tick.stop();
        live.Stop();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        cpu_seconds = CpuSeconds() - cpu_start;
        QCoreApplication::processEvents();
        rss_end = ResidentKb();
        if (live.Shown().width != 384 || live.Shown().height != 288) {
            state.SkipWithError("the live view did not show full frames");
        }
    }
    const double fps = static_cast<double>(frames) / seconds;
    state.counters["frames_per_s"] = fps;
    state.counters["ratio_to_capture"] = fps * capture_s;  // > 1: a live frame beats a Capture
    state.counters["ratio_to_30fps"] = fps / 30.0;
    // The same on CPU time (both threads), which a machine shared with other work disturbs less.
    const double cpu_per_frame = cpu_seconds / static_cast<double>(frames);
    state.counters["frames_per_cpu_s"] = 1.0 / cpu_per_frame;
    state.counters["cpu_ratio_to_capture"] = capture_cpu_s / cpu_per_frame;
    state.counters["longest_gui_gap_ms"] = longest_gap_ms;
    state.counters["rss_growth_ratio"] =
        rss_early > 0 ? static_cast<double>(rss_end) / static_cast<double>(rss_early) : 0;
    state.counters["rss_end_MB"] = static_cast<double>(rss_end) / 1024.0;
}
BENCHMARK(BM_LiveWindowFullFrame)
    ->Arg(300)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
