// The live view on the simulated board, full frame: frames per second of the real live window
// (its reading thread and the window's event loop, offscreen), as a ratio to a full-frame
// Capture measured in the same run, how late a 10 ms timer on the window's thread fires at worst,
// and the resident memory after 100 frames against that at the end of the run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "bench/support/board.h"
#include "panel/panel.h"
#include "panel/qt/live_window.h"
#include "panel/startup.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::NullUi;
using bench::WorkDir;

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

// Arg: the number of frames the live window reads.
void BM_LiveWindowFullFrame(benchmark::State& state) {
    if (!bench::OpenSimulatedBoard(state)) return;
    std::string error;
    WorkDir dir("lensbay-live");
    bench::PinbusPair pinbus;
    if (dir.path().empty() || !bench::CreatePinbusPair(&pinbus, &error)) {
        state.SkipWithError(dir.path().empty() ? "no working directory" : error.c_str());
        return;
    }
    NullUi ui;
    panel::Panel panel(pinbus.pinbus1.Get(), pinbus.pinbus2.Get(), ui);
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
