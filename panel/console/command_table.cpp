// The console's one table of commands, and what reads it: the parser of an input line and the
// help text.
#include <string>

#include "panel/console/console_commands.h"
#include "platform/base/shown.h"

namespace panel::console {
namespace {

constexpr char kHelpHead[] =
    "Console front end (lensbay --console)\n"
    "  Commands, one per line on standard input:\n";
constexpr char kHelpTail[] =
    R"(  VALUE is the rest of the line after one space; it may hold spaces and may be empty. Fields
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
// Where a command's help starts on its line, and its lines' indent.
constexpr std::size_t kHelpIndent = 4;
constexpr std::size_t kHelpColumn = 28;

}  // namespace

const std::vector<ConsoleCommand>& ConsoleCommands() {
    static const std::vector<ConsoleCommand> table = {
        {"click", "TextN", "a mouse click in the field (empties it and marks it changed)",
         Command::kClick, ParseField, RunClick},
        {"text", "TextN VALUE", "the field's text becomes VALUE (as typed after Tab: no mark)",
         Command::kText, ParseField, RunText},
        {"enter", "TextN VALUE", "click, then text", Command::kEnter, ParseField, RunEnter},
        {"option", "OptionN 0|1", "select item 0 or 1 of the option group (N = 1..4)",
         Command::kOption, ParseOption, RunOption},
        {"press", "NAME",
         "press Command1 (Set Register), Capture, SaveAs or Command2\n(Default Setting)",
         Command::kPress, ParsePress, RunPress},
        {"show", "", "print the form state (see below)", Command::kShow, ParseNoArgument, RunShow},
        {"switches", "BBBB", "set the simulated board's A[3:0] switches, A3 first (e.g. 0010)",
         Command::kSwitches, ParseSwitches, RunSwitches},
        {"follow", "on|off", "whether the simulated board's switches follow the prompts",
         Command::kFollow, ParseFollow, RunFollow},
        {"power-cycle", "",
         "turn the simulated board off and on (chip registers to their reset\nstate; the "
         "switches stay)",
         Command::kPowerCycle, ParsePowerCycle, RunPowerCycle},
        {"inspect", "", "the statistics and histogram of the picture in image.bmp",
         Command::kInspect, ParseNoArgument, RunInspect},
        {"probe", "X Y", "the value of that picture at X (from the left), Y (from the top)",
         Command::kProbe, ParseProbe, RunProbe},
        {"live", "N", "read N frames as the live view does (no files written)", Command::kLive,
         ParseLive, RunLive},
        {"registers", "", "what this session wrote to each chip register", Command::kRegisters,
         ParseNoArgument, RunRegisters},
        {"status", "",
         "every control of the chip: range, default, what Lensbay's programs\nlast wrote (when, "
         "by whom) and what the simulated board holds",
         Command::kStatus, ParseNoArgument, RunStatus},
        {"save-settings", "FILE", "write the fields and options to a settings file",
         Command::kSaveSettings, ParseFile, RunSaveSettings},
        {"load-settings", "FILE", "set the fields and options a settings file names",
         Command::kLoadSettings, ParseFile, RunLoadSettings},
        {"quit", "", "close the main window (the end of input does the same)", Command::kQuit,
         ParseNoArgument, nullptr},
    };
    return table;
}

const ConsoleCommand* ConsoleCommandOf(Command::Kind kind) {
    for (const ConsoleCommand& c : ConsoleCommands())
        if (c.kind == kind) return &c;
    return nullptr;
}

std::string ConsoleCommand::Usage() const {
    return *arguments ? std::string(name) + " " + arguments : std::string(name);
}

void ConsoleSession::Error(const std::string& text) const { write("error\t" + EscapeField(text)); }

SplitLine SplitWord(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return {line, {{}, false}};
    return {line.substr(0, space), {line.substr(space + 1), true}};
}

base::Result<> ParseNoArgument(const ConsoleCommand& self, CommandArguments args, Command*) {
    if (args.given) return base::Fail(std::string(self.name) + " takes no argument");
    return {};
}

base::Error UnexpectedText(const ConsoleCommand& self) {
    return base::Fail("unexpected text after the command; usage: " + self.Usage());
}

std::string EchoInput(std::string_view input) {
    if (input.size() <= kEchoLimit) return "\"" + std::string(input) + "\"";
    std::size_t cut = kEchoLimit;
    while (cut > 0 && (static_cast<unsigned char>(input[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(input.substr(0, cut)) + "\"... (cut; " +
           std::to_string(input.size()) + " bytes in all)";
}

base::Result<Command> ParseCommand(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Command out;
    if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') {
        return out;
    }
    const SplitLine split = SplitWord(line);
    for (const ConsoleCommand& c : ConsoleCommands()) {
        if (split.word != c.name) continue;
        out.kind = c.kind;
        if (base::Result<> parsed = c.parse(c, split.after, &out); !parsed) return parsed.error();
        return out;
    }
    return base::Fail("unknown command " + EchoInput(split.word));
}

std::string ConsoleHelp() {
    std::string out = kHelpHead;
    for (const ConsoleCommand& c : ConsoleCommands()) {
        std::string line = std::string(kHelpIndent, ' ') + c.Usage();
        line.resize(kHelpColumn, ' ');
        for (const char* at = c.help; *at; ++at) {
            line += *at;
            if (*at == '\n') line.append(kHelpColumn, ' ');
        }
        out += line + "\n";
    }
    return out + kHelpTail;
}

std::string EscapeField(std::string_view text) { return base::EscapeText(text); }

}  // namespace panel::console
