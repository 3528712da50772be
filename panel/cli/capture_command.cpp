// `lensbay capture`: Set Register of the window it reads (unless --no-set), then Capture, once or
// --count times; each picture with its record beside it, and a summary at the end.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/capture.h"
#include "panel/cli/task.h"
#include "panel/file_io.h"
#include "panel/monitor.h"
#include "panel/picture_files.h"
#include "panel/register_plan.h"
#include "panel/registers.h"
#include "panel/settings.h"
#include "platform/base/files.h"
#include "platform/base/shown.h"

namespace panel::cli {
namespace {

// A path given on the command line as the working directory `here` sees it: messages name the
// whole path.
std::string FromHere(const std::string& here, const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : here + "/" + path;
}

// What -o needs before the first frame: the working directory's path and its header file's bytes
// (none when it has no header file).
base::Result<> PrepareOutput(std::string* here, std::vector<std::uint8_t>* header) {
    std::error_code ec;
    *here = std::filesystem::current_path(ec).string();
    if (ec) return base::Fail("cannot read the working directory: " + ec.message());
    const base::Result<> r = ReadWholeFile(kTemplateFile, header);
    if (r.ok()) return {};
    header->clear();
    if (!r.error().Is(base::FileStep::kMissing))
        return base::Fail("cannot read bmphead1: " + r.message());
    return {};
}

// The record beside a picture written with -o: its name with ".json" for the extension
// ("shot.png" -> "shot.json", "frame-0001.pgm" -> "frame-0001.json").
std::string RecordNameFor(const std::string& picture) {
    const auto dot = picture.rfind('.');
    const auto slash = picture.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return picture + ".json";
    return picture.substr(0, dot) + ".json";
}

// The record of frame `frame` beside `picture` (a name as the user gave it).
base::Result<> WriteRecord(const std::string& record, const std::string& shown_picture,
                           const FormState& state, const RegisterRecord& registers,
                           const SeriesFrame& frame, const FrameGeometry& g) {
    if (base::Result<> free = CheckRecordReplaceable(record); !free)
        return base::Fail("the picture " + base::Shown(shown_picture) +
                          " was written, but no record: " + free.message());
    const std::string json = PictureRecordJson(g.FrameWidth, g.FrameHeight, state, g.RowSkip,
                                               registers, PortBackendName(), frame.when, &frame);
    if (base::Result<> w = WriteRecordFile(record, json); !w)
        return base::Fail("the picture " + base::Shown(shown_picture) +
                          " was written, but its record was not: " + w.message());
    return {};
}

}  // namespace

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
    std::string here;
    std::vector<std::uint8_t> header;
    if (a.output) {
        if (auto prepared = PrepareOutput(&here, &header); !prepared) {
            std::fprintf(stderr, "lensbay: %s\n", prepared.message().c_str());
            return ExitStatusFor(prepared.error());
        }
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
            if (!CaptureToMemory(geometry, header, *t.link, *t.ui, &captured) || t.ui->failed())
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
        std::string written = kBitmapFile, record = kCaptureRecordFile;
        base::Result<> w;
        {
            // The picture and its record land in one folder: one flush of it for both.
            base::FolderFlushGroup flush_folder_once;
            if (a.output) {
                const base::Result<std::string> name =
                    a.numbered ? FrameName(*a.output, n) : base::Result<std::string>(*a.output);
                if (!name) {
                    std::fprintf(stderr, "lensbay: -o %s\n", name.message().c_str());
                    return ExitStatusFor(name.error());
                }
                written = *name;
                record = FromHere(here, RecordNameFor(written));
                w = WriteImage(FromHere(here, written), *a.format, captured.bitmap, captured.raw,
                               context.png);
            }
            if (w) w = WriteRecord(record, written, state, registers, frame, geometry);
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
