// A full-frame capture through the panel's logic, the Pinbus objects' IDispatch and the
// simulated board (110,880 reads and 221,760 handshake writes, both files written), and the peak
// memory of `lensbay --console` doing one. Against the port cost alone (the same cycles called
// directly on the port service), with each stage of the capture measured on its own: the port
// loop through IDispatch, the files, the bitmap, the monitor's load.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/support/board.h"
#include "bench/support/ratio.h"
#include "panel/bitmap_file.h"
#include "panel/bitmap_template.h"
#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/file_io.h"
#include "panel/frame_layout.h"
#include "panel/monitor.h"
#include "panel/panel.h"
#include "panel/picture_files.h"
#include "panel/register_record.h"
#include "panel/startup.h"
#include "platform/base/files.h"
#include "platform/base/little_endian.h"
#include "platform/portio/portio.h"

namespace {

using bench::BinDir;
using bench::NullUi;
using bench::WorkDir;

// The monitor as the console front end has it: the picture read whole and checked.
class ReadingMonitor : public bench::NullMonitor {
public:
    bool LoadPicture(const std::string& path) override {
        std::vector<std::uint8_t> bytes;
        return panel::ReadWholeFile(path, &bytes).ok() &&
               panel::IsLoadableBitmap(bytes.data(), bytes.size());
    }
};

void BM_FullFrameCapture(benchmark::State& state) {
    if (!bench::OpenSimulatedBoard(state)) return;
    std::string error;
    WorkDir dir;
    bench::PinbusPair pinbus;
    if (dir.path().empty() || !bench::CreatePinbusPair(&pinbus, &error)) {
        state.SkipWithError(dir.path().empty() ? "no working directory" : error.c_str());
        return;
    }
    NullUi ui;
    panel::Panel panel(pinbus.pinbus1.Get(), pinbus.pinbus2.Get(), ui);
    panel.FormLoad();
    for (auto _ : state) panel.CaptureClick();
    std::error_code ec;
    if (std::filesystem::file_size("image.bmp", ec) != 111959) {
        state.SkipWithError("the capture did not write a full-frame image.bmp");
    }
    state.counters["bytes_per_frame"] = 110880;
}
BENCHMARK(BM_FullFrameCapture)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

constexpr std::int64_t kFrameBytes = 110880;

// The port cost alone: the cycles of a full-frame read called directly on the port service, as
// the capture makes them (start, then per byte a data read and the two handshake writes, end).
void BM_PortCostAlone(benchmark::State& state) {
    if (!bench::OpenSimulatedBoard(state)) return;
    for (auto _ : state) {
        portio::Out8(panel::kControlPort, 0x27);
        portio::Out8(panel::kControlPort, 0x2F);
        portio::Out8(panel::kControlPort, 0x2B);
        std::uint8_t sum = 0;
        for (std::int64_t i = 0; i < kFrameBytes; ++i) {
            sum = static_cast<std::uint8_t>(sum + portio::In8(panel::kDataPort));
            portio::Out8(panel::kControlPort, 0x2A);
            portio::Out8(panel::kControlPort, 0x2B);
        }
        portio::Out8(panel::kControlPort, 0x27);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PortCostAlone)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

// Stage: the same frame read through the two Pinbus objects' IDispatch.
void BM_StagePortLoop(benchmark::State& state) {
    if (!bench::OpenSimulatedBoard(state)) return;
    std::string error;
    bench::PinbusPair pinbus;
    if (!bench::CreatePinbusPair(&pinbus, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    NullUi ui;
    panel::CameraLink link(pinbus.pinbus1.Get(), pinbus.pinbus2.Get(), ui);
    std::vector<std::uint8_t> raw(kFrameBytes + 1);
    for (auto _ : state) {
        bool ok = SUCCEEDED(link.BeginFrameRead());
        for (std::int64_t i = 0; ok && i < kFrameBytes; ++i)
            ok = SUCCEEDED(link.ReadPixelByte(raw.data() + i));
        if (!ok || FAILED(link.EndFrameRead())) state.SkipWithError("a port access failed");
    }
}
BENCHMARK(BM_StagePortLoop)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

panel::FrameGeometry FullFrame() {
    const base::Result<panel::FrameGeometry> g = panel::ComputeFrameGeometry("0", "15", "0", "15");
    return g ? *g : panel::FrameGeometry{};
}

// Stage: the bitmap made from the raw bytes.
void BM_StageBitmap(benchmark::State& state) {
    const panel::FrameGeometry g = FullFrame();
    const panel::BitmapLayout layout = panel::LayoutFor(g);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(g.ByteCount) + 1, 0x5A);
    std::vector<std::uint8_t> bitmap(layout.file_size);
    for (auto _ : state) {
        panel::FillPixelArea(g, layout, raw.data(), bitmap.data());
        benchmark::DoNotOptimize(bitmap.data());
    }
}
BENCHMARK(BM_StageBitmap)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

// Stage: the files, written as a capture writes them (raw, header template read, bitmap, the
// capture's record), with one flush of the folder for all three.
void BM_StageFiles(benchmark::State& state) {
    WorkDir dir;
    const panel::FrameGeometry g = FullFrame();
    const panel::BitmapLayout layout = panel::LayoutFor(g);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(g.ByteCount) + 1, 0x5A);
    std::vector<std::uint8_t> bitmap(layout.file_size);
    const panel::FormState form;
    const panel::RegisterRecord registers;
    NullUi ui;
    for (auto _ : state) {
        base::FolderFlushGroup flush_folder_once;
        std::size_t got = 0;
        bool ok = panel::WriteWholeFile(panel::kRawFile, raw.data(), raw.size()).ok();
        if (ok) {
            const base::Result<> header =
                panel::ReadFileStart(panel::kTemplateFile, bitmap.data(), bitmap.size(), &got);
            ok = !header && header.error().Is(base::FileStep::kMissing);
        }
        ok = ok && panel::WriteWholeFile(panel::kBitmapFile, bitmap.data(), bitmap.size()).ok();
        ok = ok && panel::WriteCaptureRecord(form, registers, ui);
        if (!ok) state.SkipWithError("a file could not be written");
    }
}
BENCHMARK(BM_StageFiles)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

// Stage: the monitor's load of the bitmap, as the console front end makes it.
void BM_StageMonitorLoad(benchmark::State& state) {
    WorkDir dir;
    const panel::FrameGeometry g = FullFrame();
    const panel::BitmapLayout layout = panel::LayoutFor(g);
    std::vector<std::uint8_t> bitmap(layout.file_size);
    std::copy(panel::kDefaultBitmapHeader.begin(), panel::kDefaultBitmapHeader.end(),
              bitmap.begin());
    base::PutLe32(bitmap.data() + panel::kWidthOffset, static_cast<std::uint32_t>(g.FrameWidth));
    base::PutLe32(bitmap.data() + panel::kHeightOffset, static_cast<std::uint32_t>(g.FrameHeight));
    if (!panel::WriteWholeFile(panel::kBitmapFile, bitmap.data(), bitmap.size()).ok()) {
        state.SkipWithError("cannot write the bitmap");
        return;
    }
    NullUi ui;
    ReadingMonitor monitor;
    for (auto _ : state) panel::LoadMonitor(monitor, ui);
    if (ui.boxes != 0) state.SkipWithError("the monitor did not load the bitmap");
}
BENCHMARK(BM_StageMonitorLoad)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

// Runs `lensbay --console` for one full capture, with PINBUS.OCX registered in a registry file
// of its own, and reports the peak resident set of that process.
void BM_ConsoleCapturePeakMemory(benchmark::State& state) {
    const std::string bin = BinDir();
    WorkDir dir;
    const std::string commands = dir.path() + "/commands";
    std::FILE* f = dir.path().empty() ? nullptr : std::fopen(commands.c_str(), "w");
    const bool written = f && std::fputs("press Capture\nquit\n", f) >= 0;
    if (!f || std::fclose(f) != 0 || !written) {
        state.SkipWithError("cannot prepare the working directory");
        return;
    }
    if (std::string error; !bench::RegisterPinbus(dir.path(), &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    long peak_kb = 0;
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!std::freopen(commands.c_str(), "r", stdin) ||
                !std::freopen("/dev/null", "w", stdout)) {
                _exit(126);
            }
            const std::string lensbay = bin + "/lensbay";
            ::execl(lensbay.c_str(), lensbay.c_str(), "--console", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("lensbay --console did not run to its end");
            return;
        }
        peak_kb = std::max(peak_kb, usage.ru_maxrss);
    }
    std::error_code ec;
    if (std::filesystem::file_size("image.bmp", ec) != 111959) {
        state.SkipWithError("lensbay did not write a full-frame image.bmp");
    }
    state.counters["max_rss_MB"] = static_cast<double>(peak_kb) / 1024.0;
}
BENCHMARK(BM_ConsoleCapturePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return bench::MainWithRatios(
        argc, argv,
        {{"full_frame_capture/port_cost", "BM_FullFrameCapture", "BM_PortCostAlone", 2.0},
         {"stage_port_loop/port_cost", "BM_StagePortLoop", "BM_PortCostAlone", 2.0}});
}
