// `lensbay capture`: Set Register of the window it reads (unless --no-set), then Capture, once or
// --count times; each picture with its record beside it, and a summary at the end.
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "panel/capture.h"
#include "panel/cli/task.h"
#include "panel/file_io.h"
#include "panel/picture_files.h"
#include "panel/registers.h"
#include "platform/base/files.h"
#include "platform/base/shown.h"
#include "platform/portio/ending.h"

namespace panel::cli {
namespace {

// A private working directory for a capture with -o, so that the user's image.raw, image.bmp and
// image.json stay as they are; the header template of the working directory goes with it.
class CaptureDir {
public:
    ~CaptureDir() {
        if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) std::perror("lensbay: chdir");
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(path_, ec);
        }
    }
    base::Result<> Enter() {
        std::error_code ec;
        previous_ = std::filesystem::current_path(ec).string();
        if (ec) return base::Fail("cannot read the working directory: " + ec.message());
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lensbay-capture-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return base::Fail("cannot make a temporary directory: " +
                              std::string(std::strerror(errno)));
        path_ = pattern;
        std::vector<std::uint8_t> header;
        const base::Result<> r = ReadWholeFile(kTemplateFile, &header);
        if (r.ok()) {
            const base::Result<> w =
                WriteWholeFile(path_ + "/" + kTemplateFile, header.data(), header.size());
            if (!w.ok()) return base::Fail("cannot copy bmphead1: " + w.message());
        } else if (!r.error().Is(base::FileStep::kMissing)) {
            return base::Fail("cannot read bmphead1: " + r.message());
        }
        if (::chdir(path_.c_str()) != 0)
            return base::Fail("cannot enter " + path_ + ": " + std::strerror(errno));
        return {};
    }
    // A path given on the command line, as seen from the private directory.
    std::string Outside(const std::string& path) const {
        return !path.empty() && path[0] == '/' ? path : previous_ + "/" + path;
    }

private:
    std::string previous_, path_;
    // A signal ends the process without unwinding: the folder goes all the same.
    portio::EndingCleanup on_ending_{[this] {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }};
};

// The record beside a picture written with -o: its name with ".json" for the extension
// ("shot.png" -> "shot.json", "frame-0001.pgm" -> "frame-0001.json").
std::string RecordNameFor(const std::string& picture) {
    const auto dot = picture.rfind('.');
    const auto slash = picture.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return picture + ".json";
    return picture.substr(0, dot) + ".json";
}

// The picture of the frame just captured under the user's name, from image.bmp and image.raw.
base::Result<> WriteOutput(const Arguments& a, const std::string& path, PngEncoder* png) {
    std::vector<std::uint8_t> bmp, raw;
    const base::Result<> rb = ReadWholeFile(kBitmapFile, &bmp);
    if (!rb.ok()) return base::Fail("cannot read image.bmp: " + rb.message());
    const base::Result<> rr = ReadWholeFile(kRawFile, &raw);
    if (!rr.ok()) return base::Fail("cannot read image.raw: " + rr.message());
    return WriteImage(path, *a.format, bmp, raw, png);
}

// The record of frame `frame` beside `picture` (a name as the user gave it).
base::Result<> WriteRecord(const std::string& record, const std::string& shown_picture,
                           const FormState& state, const RegisterRecord& registers,
                           const SeriesFrame& frame) {
    const base::Result<FrameGeometry> g =
        ComputeFrameGeometry(state.text[kHStartField], state.text[kHEndField],
                             state.text[kVStartField], state.text[kVEndField]);
    if (!g) return g.error();
    if (base::Result<> free = CheckRecordReplaceable(record); !free)
        return base::Fail("the picture " + base::Shown(shown_picture) +
                          " was written, but no record: " + free.message());
    const std::string json = PictureRecordJson(g->FrameWidth, g->FrameHeight, state, g->RowSkip,
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
    // The window read: the one given, else the full frame the fields hold. Unless --no-set, the
    // chip's window registers are set to it first, so that the rows it sends are the rows read.
    if (a.window || !a.no_set) {
        for (int i = 0; i < 4; ++i) {
            const std::string text = a.window ? (*a.window)[i] : state.text[kHStartField + i];
            ClickField(state, kHStartField + i);
            state.text[kHStartField + i] = text;
        }
    }
    if (!a.no_set) {
        const bool set = SetRegister(state, *t.link, *t.ui, &registers);
        // The handshake is over: what reached the chip goes to the board's record now.
        t.session->BoardRecord().Flush();
        if (!set || t.ui->failed()) return kExitFailed;
    }
    CaptureDir dir;
    if (a.output) {
        if (auto entered = dir.Enter(); !entered) {
            std::fprintf(stderr, "lensbay: %s\n", entered.message().c_str());
            return ExitStatusFor(entered.error());
        }
    }
    using Steady = std::chrono::steady_clock;
    const Steady::time_point first = Steady::now();
    for (int n = 1; n <= a.count; ++n) {
        if (!panel::Capture(state, *t.link, *t.ui) || t.ui->failed()) return kExitFailed;
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
                record = dir.Outside(RecordNameFor(written));
                w = WriteOutput(a, dir.Outside(written), context.png);
            }
            if (w) w = WriteRecord(record, written, state, registers, frame);
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
