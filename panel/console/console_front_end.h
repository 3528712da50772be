// The console front end of Lensbay: commands from an input stream, one per line; events on
// standard output, one per line, fields separated by one tab.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/result.h"

struct IDispatch;

namespace panel {
class KeptBoardRecord;
class Panel;
class PngEncoder;
}  // namespace panel

namespace portio {
class BoardOperator;
}

namespace panel::console {

struct Command {
    enum Kind {
        kNone,
        kClick,
        kText,
        kEnter,
        kOption,
        kPress,
        kShow,
        kQuit,
        kSwitches,
        kFollow,
        kPowerCycle,
        kInspect,
        kProbe,
        kLive,
        kRegisters,
        kStatus,
        kSaveSettings,
        kLoadSettings
    };
    Kind kind = kNone;
    long long x = 0, y = 0;  // probe X Y; live N in x
    int number = 0;          // N of TextN or OptionN
    int item = 0;            // option item 0/1; the A[3:0] bits of switches; follow 1 (on) or 0
    std::string value;       // text and enter: the rest of the line after one space
    std::string button;      // press: Command1, Capture, SaveAs or Command2
};

// Parses one input line (its newline removed; one trailing CR is dropped too). Blank lines and
// lines starting with '#' give kNone. An error with a message for a line that is not understood.
base::Result<Command> ParseCommand(std::string_view line);

// An event field with backslash, tab, newline and CR written as \\, \t, \n and \r, so that every
// event stays one line of tab-separated fields, and every other control character (C0, DEL, C1)
// as \xNN, so that no field text can drive the terminal.
std::string EscapeField(std::string_view text);

// Input quoted back in a message: at most kEchoLimit bytes (cut at a character boundary) in
// double quotes, then a note of the whole length when cut, so that a runaway line cannot flood
// the output. Not escaped: EscapeField (or the caller) does that on the way out.
inline constexpr std::size_t kEchoLimit = 64;
std::string EchoInput(std::string_view input);

// What `lensbay --help` prints about the console, from the table of its commands
// (console_commands.h).
std::string ConsoleHelp();

struct ConsoleOptions {
    std::istream* in = nullptr;  // commands, and Enter for boxes when interactive
    bool interactive = false;    // boxes wait for a line (Enter) before they count as OK
    // Where event lines go (without newline); portio::WriteStdoutLine when empty, so that they
    // keep their order with the port trace on standard output.
    std::function<void(const std::string&)> write_line;
    // The board's operator side for `switches` and `follow`, and whose switches follow the
    // prompts; null when the port backend has none.
    portio::BoardOperator* board = nullptr;
    // Save As to a ".png" name encodes with it (none: such a Save As says it cannot).
    PngEncoder* png_encoder = nullptr;
    // The board's record of what Lensbay's programs wrote (board_record.h): the console's writes
    // are noted there, `status` shows it and `power-cycle` empties it. Null: this session's own.
    KeptBoardRecord* board_record = nullptr;
};

// `status`: one event per control of the chip (chip_status.h), `board` the simulated board's
// operator side or null.
void WriteStatusEvents(const Panel& panel, const portio::BoardOperator* board,
                       const std::function<void(const std::string&)>& write);

// Runs the panel on the two port objects: the window's load (port set-up and the start-up
// prompt), then the commands until `quit` or the end of input. Returns the exit status: 0, or 1
// when any command gave an `error` event (so that a script can tell).
int RunConsoleFrontEnd(IDispatch* pinbus1, IDispatch* pinbus2, const ConsoleOptions& options);

}  // namespace panel::console
