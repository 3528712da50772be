#include "panel/console/console_front_end.h"

#include <istream>
#include <vector>

#include "panel/board_record.h"
#include "panel/image_files.h"
#include "panel/panel.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace panel::console {

const char kConsoleHelp[] =
    R"(Console front end (lensbay --console)
  Commands, one per line on standard input:
    click TextN             a mouse click in the field (empties it and marks it changed)
    text TextN VALUE        the field's text becomes VALUE (as typed after Tab: no mark)
    enter TextN VALUE       click, then text
    option OptionN 0|1      select item 0 or 1 of the option group (N = 1..4)
    press NAME              press Command1 (Set Register), Capture, SaveAs or Command2
                            (Default Setting)
    show                    print the form state (see below)
    switches BBBB           set the simulated board's A[3:0] switches, A3 first (e.g. 0010)
    follow on|off           whether the simulated board's switches follow the prompts
    power-cycle             turn the simulated board off and on (chip registers to their reset
                            state; the switches stay)
    inspect                 the statistics and histogram of the picture in image.bmp
    probe X Y               the value of that picture at X (from the left), Y (from the top)
    live N                  read N frames as the live view does (no files written)
    registers               what this session wrote to each chip register
    status                  every control of the chip: range, default, what Lensbay's programs
                            last wrote (when, by whom) and what the simulated board holds
    save-settings FILE      write the fields and options to a settings file
    load-settings FILE      set the fields and options a settings file names
    quit                    close the main window (the end of input does the same)
  VALUE is the rest of the line after one space; it may hold spaces and may be empty. Fields
  are Text1 to Text8. Blank lines and lines starting with # are ignored.
  Events, one per line on standard output, fields separated by one tab:
    box TITLE TEXT                                  a message box (acknowledged at once, or
                                                    after Enter when input is a terminal)
    monitor WIDTH_TWIPS HEIGHT_TWIPS picture|nopicture   the monitor window was loaded
    error TEXT                                      a command that was not understood
    show TextN TEXT changed=True|False              (Text1 .. Text7)
    show Text8 TEXT
    show OptionN ITEM                               the selected item, 0 or 1
    show gama|mir|nsr VALUE                         decimal, or "empty" before any selection
    show bkl VALUE / show mctl_act VALUE            decimal
    stats W H MIN MAX MEAN STDDEV ZEROS SATURATED   inspect (MEAN, STDDEV with two decimals)
    histogram COUNTS                                inspect: the 256 counts, space-separated
    pixel X Y VALUE                                 probe
    frame INDEX W H MIN MAX MEAN                    live, one per frame from 1
    register NAME VALUE|default|unknown             registers, FCTL EXCTL GCTL FRCTL MCTL
                                                    HWCTL VWCTL
    status CONTROL REGISTER RANGE DEFAULT WRITTEN WHEN BY BOARD
                                                    status, one per control (exposure ...
                                                    v_end, reset); "-" for an empty field
  In event fields a backslash, tab, newline or CR is written as \\, \t, \n or \r.
  Other control characters are written as \xNN; quoted input is cut after 64 bytes.
  With PORTIO_TRACE=- the port trace lines appear among the events in their true order.
  Exit status: 0, or 1 when any command gave an error event.
)";

namespace {

class ConsoleMonitor : public MonitorWindow {
public:
    explicit ConsoleMonitor(const std::function<void(const std::string&)>& write) : write_(write) {}
    void Close() override {}
    void SetHeightTwips(int twips) override { height_ = twips; }
    void SetWidthTwips(int twips) override { width_ = twips; }
    bool LoadPicture(const std::string& path) override {
        std::vector<std::uint8_t> bytes;
        picture_ = ReadWholeFile(path, &bytes).ok() && IsLoadableBitmap(bytes.data(), bytes.size());
        return picture_;
    }
    void Show() override {
        write_("monitor\t" + std::to_string(width_) + "\t" + std::to_string(height_) + "\t" +
               (picture_ ? "picture" : "nopicture"));
    }

private:
    const std::function<void(const std::string&)>& write_;
    int width_ = 0, height_ = 0;
    bool picture_ = false;
};

class ConsoleUserInterface : public UserInterface {
public:
    ConsoleUserInterface(const ConsoleOptions& options,
                         const std::function<void(const std::string&)>& write)
        : options_(options), write_(write), monitor_(write) {}
    void MessageBox(const std::string& title, const std::string& text) override {
        write_("box\t" + EscapeField(title) + "\t" + EscapeField(text));
        if (options_.interactive && options_.in) {
            // Enter (or the end of input) is the OK button.
            std::string line;
            std::getline(*options_.in, line);
        }
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor_; }

private:
    const ConsoleOptions& options_;
    const std::function<void(const std::string&)>& write_;
    ConsoleMonitor monitor_;
};

std::string BitText(const std::optional<std::int16_t>& bit) {
    return bit ? std::to_string(*bit) : "empty";
}

void Show(const FormState& s, const std::function<void(const std::string&)>& write) {
    for (int n = 1; n <= kFieldCount; ++n) {
        std::string line = "show\tText" + std::to_string(n) + "\t" + EscapeField(s.text[n]);
        if (n <= kMarkedFieldCount) line += s.changed[n] ? "\tchanged=True" : "\tchanged=False";
        write(line);
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        write("show\tOption" + std::to_string(g) + "\t" + std::to_string(s.selected[g]));
    }
    write("show\tgama\t" + BitText(s.gama));
    write("show\tmir\t" + BitText(s.mir));
    write("show\tnsr\t" + BitText(s.nsr));
    write("show\tbkl\t" + std::to_string(s.bkl));
    write("show\tmctl_act\t" + std::to_string(s.mctl_act));
}

}  // namespace

int RunConsoleFrontEnd(IDispatch* pinbus1, IDispatch* pinbus2, const ConsoleOptions& options) {
    const std::function<void(const std::string&)> out =
        options.write_line ? options.write_line
                           : std::function<void(const std::string&)>(portio::WriteStdoutLine);
    // Any error event, whichever command wrote it, makes the exit status 1.
    bool errors = false;
    const std::function<void(const std::string&)> write = [&](const std::string& line) {
        if (line.rfind("error\t", 0) == 0) errors = true;
        out(line);
    };
    ConsoleUserInterface ui(options, write);
    portio::BoardOperator* board = options.board;
    // The switches follow each acknowledged register-selection prompt from the very first one.
    const std::unique_ptr<portio::BoardOperator::PromptWatch> watch =
        board ? board->WatchPrompts() : nullptr;
    Panel panel(pinbus1, pinbus2, ui);
    panel.SetPngEncoder(options.png_encoder);
    panel.SetBoardRecord(options.board_record, "lensbay --console");
    panel.FormLoad();
    if (!options.in) return 0;

    std::string line;
    while (std::getline(*options.in, line)) {
        const base::Result<Command> parsed = ParseCommand(line);
        if (!parsed) {
            write("error\t" + EscapeField(parsed.message()));
            continue;
        }
        const Command& cmd = *parsed;
        switch (cmd.kind) {
            case Command::kNone:
                break;
            case Command::kClick:
                panel.TextClick(cmd.number);
                break;
            case Command::kText:
                panel.SetText(cmd.number, cmd.value);
                break;
            case Command::kEnter:
                panel.TextClick(cmd.number);
                panel.SetText(cmd.number, cmd.value);
                break;
            case Command::kOption:
                panel.OptionClick(cmd.number, cmd.item);
                break;
            case Command::kPress:
                if (cmd.button == "Command1") panel.Command1Click();
                if (cmd.button == "Capture") panel.CaptureClick();
                if (cmd.button == "SaveAs") panel.SaveAsClick();
                if (cmd.button == "Command2") panel.Command2Click();
                break;
            case Command::kShow:
                Show(panel.State(), write);
                break;
            case Command::kQuit:
                return errors ? 1 : 0;
            case Command::kSwitches:
            case Command::kFollow:
            case Command::kPowerCycle:
                if (!board) {
                    write("error\tno simulated board: the port backend is not sim");
                } else if (cmd.kind == Command::kSwitches) {
                    board->SetSwitches(static_cast<std::uint8_t>(cmd.item));
                } else if (cmd.kind == Command::kPowerCycle) {
                    board->PowerCycle();
                    // Nothing is written to a chip just powered on.
                    if (options.board_record) options.board_record->Record().Clear();
                } else {
                    board->SetFollowsPrompts(cmd.item == 1);
                }
                break;
            case Command::kStatus:
                WriteStatusEvents(panel, board, write);
                break;
            default:
                RunWorkbenchCommand(cmd, panel, write);
                break;
        }
    }
    return errors ? 1 : 0;
}

}  // namespace panel::console
