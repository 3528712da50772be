#include "panel/cli/subcommands.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/cli/arguments.h"
#include "panel/cli/image_output.h"
#include "panel/field_numbers.h"
#include "panel/file_io.h"
#include "panel/image_files.h"
#include "panel/registers.h"
#include "panel/session.h"
#include "platform/base/result.h"
#include "platform/base/shown.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/ending.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace panel::cli {
namespace {

constexpr int kOk = 0, kFailed = 1;

constexpr char kSetHelp[] =
    "Usage: lensbay set [--yes] KEY=VALUE...\n"
    "  Writes the camera's registers as Set Register does after those fields were typed and\n"
    "  those options selected in the window; keys not named are not written.\n"
    "  Keys: exposure, gain, divider, h_start, h_end, v_start, v_end (numbers, as the window's\n"
    "  fields take them), gamma=0.45|1.0, mirror=on|off, mode=indoor|outdoor, backlight=on|off\n"
    "  (the words in any case), as a settings file takes them.\n";
constexpr char kResetHelp[] =
    "Usage: lensbay reset [--yes]\n"
    "  Puts the camera back to its default setting, as Default Setting does.\n";
constexpr char kCaptureHelp[] =
    "Usage: lensbay capture [--yes] [-o FILE] [--window H_START,H_END,V_START,V_END] [--count N]\n"
    "                       [--no-set]\n"
    "  Writes the chip's window registers (HWCTL, VWCTL) for the window it reads, the full frame\n"
    "  included, as Set Register does for those fields, then captures as the Capture button\n"
    "  does; with --no-set, Capture alone (the chip's window must already match). Without -o:\n"
    "  image.raw and image.bmp in the working directory. With -o: FILE by its extension (.bmp,\n"
    "  .raw as Capture writes them; .png, .pgm 8-bit grey). With --count N: N frames, FILE\n"
    "  numbered by a %d or %04d in its name (else -0001, -0002, ... before the extension),\n"
    "  progress on standard error.\n"
    "  --window: the capture window in blocks (the window's Text4 to Text7).\n";
constexpr char kCommonHelp[] =
    "  --yes    answer every register-selection prompt at once (for boards whose A[3:0]\n"
    "           switches follow by themselves); without it a prompt waits for Enter, except on\n"
    "           the simulated board while its switches follow the prompts.\n"
    "  Exit status: 0 done, 1 bad arguments or a failed operation, 2 the Pinbus control is not\n"
    "  registered or will not load, 3 the port backend (PORTIO) cannot be opened.\n";

// Boxes on the terminal: a register-selection prompt is printed and waits for Enter, unless
// --yes answers it or the simulated board's switches follow it; any other box is the failure of
// the operation and goes to standard error.
class TerminalUi : public UserInterface {
public:
    TerminalUi(bool yes, portio::BoardOperator* board) : yes_(yes), board_(board) {}
    void MessageBox(const std::string& title, const std::string& text) override {
        // The panel's register-selection prompts ("Please select EXCTL register A[3:0]=0010");
        // every other box says why the operation failed.
        if (text.rfind("Please ", 0) == 0) {
            const bool follows = board_ && board_->FollowsPrompts();
            if (yes_ || follows) {
                std::fprintf(stderr, "%s\n", text.c_str());
            } else {
                std::fprintf(stderr, "%s, then press Enter: ", text.c_str());
                std::fflush(stderr);
                std::string line;
                std::getline(std::cin, line);
            }
        } else {
            std::fprintf(stderr, "lensbay: %s\n", text.c_str());
            failed_ = true;
        }
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor_; }
    bool failed() const { return failed_; }

private:
    // Nobody looks at a monitor here; the picture is checked as the window would load it.
    class PictureCheck : public MonitorWindow {
    public:
        void Close() override {}
        void SetHeightTwips(int) override {}
        void SetWidthTwips(int) override {}
        bool LoadPicture(const std::string& path) override {
            std::vector<std::uint8_t> bytes;
            return ReadWholeFile(path, &bytes).ok() && IsLoadableBitmap(bytes.data(), bytes.size());
        }
        void Show() override {}
    };
    bool yes_;
    portio::BoardOperator* board_;
    bool failed_ = false;
    PictureCheck monitor_;
};

// A private working directory for a capture with -o, so that the user's image.raw and image.bmp
// stay as they are; the header template of the working directory goes with it.
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
        } else if (r.error().code != kFileMissing) {
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

int Capture(const Arguments& a, FormState& state, CameraLink& link, TerminalUi& ui,
            PngEncoder* png) {
    // The window read: the one given, else the full frame the fields hold. Unless --no-set, the
    // chip's window registers are set to it first, so that the rows it sends are the rows read.
    if (a.window || !a.no_set) {
        for (int i = 0; i < 4; ++i) {
            const std::string text = a.window ? (*a.window)[i] : state.text[kHStartField + i];
            ClickField(state, kHStartField + i);
            state.text[kHStartField + i] = text;
        }
    }
    if (!a.no_set && (!SetRegister(state, link, ui) || ui.failed())) return kFailed;
    CaptureDir dir;
    if (a.output) {
        if (auto entered = dir.Enter(); !entered) {
            std::fprintf(stderr, "lensbay: %s\n", entered.message().c_str());
            return kFailed;
        }
    }
    for (int n = 1; n <= a.count; ++n) {
        if (!panel::Capture(state, link, ui) || ui.failed()) return kFailed;
        std::string written = "image.bmp";
        if (a.output) {
            const auto name =
                a.count > 1 ? FrameName(*a.output, n) : base::Result<std::string>(*a.output);
            std::vector<std::uint8_t> bmp, raw;
            const base::Result<> rb = ReadWholeFile(kBitmapFile, &bmp);
            const base::Result<> rr = ReadWholeFile(kRawFile, &raw);
            base::Result<> w = !rb.ok() ? base::Fail("cannot read image.bmp: " + rb.message())
                               : !rr.ok()
                                   ? base::Fail("cannot read image.raw: " + rr.message())
                                   : WriteImage(dir.Outside(*name), *a.format, bmp, raw, png);
            if (!w) {
                std::fprintf(stderr, "lensbay: %s\n", w.message().c_str());
                return kFailed;
            }
            written = *name;
        }
        if (a.count > 1)
            std::fprintf(stderr, "lensbay: frame %d of %d: %s\n", n, a.count,
                         base::Shown(written).c_str());
    }
    return kOk;
}

}  // namespace

bool IsSubcommand(const char* arg) {
    const std::string name = arg ? arg : "";
    return name == "set" || name == "reset" || name == "capture";
}

int RunSubcommand(int argc, char** argv, const std::string& pinbus_hint, PngEncoder* png) {
    auto parsed = ParseArguments(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    if (!parsed) {
        std::fprintf(stderr, "lensbay %s: %s\n(see lensbay %s --help)\n", argv[1],
                     parsed.message().c_str(), argv[1]);
        return kFailed;
    }
    const Arguments& a = *parsed;
    if (a.help) {
        std::fputs(a.command == "set"     ? kSetHelp
                   : a.command == "reset" ? kResetHelp
                                          : kCaptureHelp,
                   stdout);
        std::fputs(kCommonHelp, stdout);
        return kOk;
    }

    base::Result<std::unique_ptr<Session>> session =
        OpenSession(pinbus_hint, panel::ExitOnPortFault);
    if (!session) {
        std::fprintf(stderr, "lensbay: %s\n", session.message().c_str());
        return static_cast<int>(session.error().code);
    }
    portio::BoardOperator* const board = (*session)->Board();
    TerminalUi ui(a.yes, board);
    // The simulated board's switches follow each acknowledged prompt while they are set to.
    const std::unique_ptr<portio::BoardOperator::PromptWatch> follower =
        board ? board->WatchPrompts() : nullptr;
    FormState state;
    CameraLink link((*session)->Pinbus1(), (*session)->Pinbus2(), ui);
    // The window's load.
    if (FAILED(link.SetupPortMode())) {
        ReportPortFailure(link, ui, kNoticeTitle);
        return kFailed;
    }
    if (a.command == "set") {
        ApplySettings(a.settings, state);
        return SetRegister(state, link, ui) && !ui.failed() ? kOk : kFailed;
    }
    if (a.command == "reset")
        return DefaultSetting(state, link, ui) && !ui.failed() ? kOk : kFailed;
    return Capture(a, state, link, ui, png);
}

}  // namespace panel::cli
