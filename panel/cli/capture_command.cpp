// `lensbay capture`: Set Register of the window it reads (unless --no-set), then Capture, once or
// --count times; each picture with its record beside it, and a summary at the end.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/capture.h"
#include "panel/capture_output.h"
#include "panel/cli/task.h"
#include "panel/file_io.h"
#include "panel/monitor.h"
#include "panel/picture_files.h"
#include "panel/register_plan.h"
#include "panel/registers.h"
#include "panel/settings.h"
#include "platform/base/shown.h"

namespace panel::cli {

int RunCapture(const Arguments& a, const Context& context) {
    base::Result<std::unique_ptr<Task>> opened = OpenTask(a, context);
    if (!opened) return ExitStatusFor(opened.error());
    Task& t = **opened;
    FormState& state = t.state;
    RegisterRecord& registers = t.session->BoardRecord().Record();
    // The window read: the one given, else the full frame the fields hold (their start-up
    // values). Unless --no-set, the chip's window registers are set to it first through the
    // register plan, so that the rows it sends are the rows read. The fields show it, as the
    // picture's record reads them.
    Settings window;
    if (a.window) window = *a.window;
    for (int i = 0; i < 4; ++i) {
        const int control = chip::kHStart + i;
        if (!window.Given(control)) {
            const std::optional<int> v =
                SavedFieldValue(kHStartField + i, state.text[kHStartField + i]);
            if (!v || !window.Set(control, *v)) {
                std::fprintf(stderr, "lensbay: Text%d holds no block of the window\n",
                             kHStartField + i);
                return kExitFailed;
            }
        }
        state.text[kHStartField + i] = std::to_string(*window.Get(control));
    }
    if (!a.no_set) {
        const bool set = RunRegisterPlan(PlanFor(window), *t.link, *t.ui, &registers);
        // The handshake is over: what reached the chip goes to the board's record now.
        t.session->BoardRecord().Flush();
        if (!set || t.ui->failed()) return kExitFailed;
    }
    OutputFolder folder;
    if (a.output) {
        base::Result<OutputFolder> prepared = PrepareOutputFolder();
        if (!prepared) {
            std::fprintf(stderr, "lensbay: %s\n", prepared.message().c_str());
            return ExitStatusFor(prepared.error());
        }
        folder = std::move(prepared).value();
    }
    const FrameGeometry geometry =
        BlockGeometry(*window.Get(chip::kHStart), *window.Get(chip::kHEnd),
                      *window.Get(chip::kVStart), *window.Get(chip::kVEnd));
    using Steady = std::chrono::steady_clock;
    const Steady::time_point first = Steady::now();
    for (int n = 1; n <= a.count; ++n) {
        // With -o the frame stays in memory and goes straight to the user's file in its format;
        // without it, Capture writes image.raw and image.bmp as the window's button does.
        CapturedFrame captured;
        if (a.output) {
            if (!CaptureToMemory(geometry, folder.header, *t.link, *t.ui, &captured) ||
                t.ui->failed())
                return kExitFailed;
            // The picture is checked as the monitor would load it.
            if (!IsLoadableBitmap(captured.bitmap.data(), captured.bitmap.size())) {
                t.ui->MessageBox(kMonitorMessageTitle, kMonitorMessage);
                return kExitFailed;
            }
        } else if (!panel::Capture(geometry, *t.link, *t.ui) || t.ui->failed()) {
            return kExitFailed;
        }
        const SeriesFrame frame{n, a.count, RegisterRecord::Clock::now(),
                                std::chrono::duration<double>(Steady::now() - first).count()};
        std::string written = kBitmapFile;
        base::Result<> w;
        if (a.output) {
            const base::Result<std::string> name =
                a.numbered ? FrameName(*a.output, n) : base::Result<std::string>(*a.output);
            if (!name) {
                std::fprintf(stderr, "lensbay: -o %s\n", name.message().c_str());
                return ExitStatusFor(name.error());
            }
            written = *name;
            w = WritePictureWithRecord(folder, written, *a.format, captured, state, registers,
                                       frame, geometry, context.png);
        } else {
            w = WritePictureRecord(kCaptureRecordFile, written, state, registers, frame, geometry);
        }
        if (!w) {
            std::fprintf(stderr, "lensbay: %s\n", w.message().c_str());
            return ExitStatusFor(w.error());
        }
        if (a.count > 1 && !a.quiet)
            std::fprintf(stderr, "lensbay: frame %d of %d: %s\n", n, a.count,
                         base::Shown(written).c_str());
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - first).count();
    if (!a.quiet) {
        std::fprintf(stderr, "lensbay: %d frame%s in %.3f s, %.1f frames a second\n", a.count,
                     a.count == 1 ? "" : "s", seconds, seconds > 0 ? a.count / seconds : 0.0);
    }
    return kExitOk;
}

}  // namespace panel::cli
