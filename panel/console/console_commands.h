// The console's commands: one table (command_table.cpp) gives each command's word, its arguments
// and help as `lensbay --help` lists them, how the rest of its line is parsed and what runs it;
// ParseCommand, the help text and RunConsoleFrontEnd all read it. Each family of commands has its
// own file: form_commands.cpp (the window's fields, options and buttons), board_commands.cpp (the
// simulated board), workbench_commands.cpp (pictures, live frames, registers, settings). A new
// command is its parser and runner in its family's file and one row of the table.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/console/console_front_end.h"

namespace panel::console {

// What follows a command's word: the rest of the line after one space, and whether there was one.
struct CommandArguments {
    std::string_view rest;
    bool given = false;
};

// What a command runs on.
struct ConsoleSession {
    Panel& panel;
    portio::BoardOperator* board;  // null where the backend has no operator side
    const ConsoleOptions& options;
    const std::function<void(const std::string&)>& write;

    // An `error` event.
    void Error(const std::string& text) const;
};

struct ConsoleCommand {
    const char* name;
    const char* arguments;  // as the help shows them ("TextN VALUE"); "" for none
    const char* help;       // continuation lines after '\n'
    Command::Kind kind;
    // Reads the arguments into *out (its kind is set already); the error is the event's text.
    base::Result<> (*parse)(const ConsoleCommand& self, CommandArguments args, Command* out);
    void (*run)(const Command& cmd, ConsoleSession& session);  // null for quit

    // "text TextN VALUE": the word and its arguments, as messages quote the usage.
    std::string Usage() const;
};

// The commands in the order the help lists them.
const std::vector<ConsoleCommand>& ConsoleCommands();
// The command of this kind; null for kNone.
const ConsoleCommand* ConsoleCommandOf(Command::Kind kind);

// Splits off the first space-separated word of `line`; the rest is what follows that one space.
struct SplitLine {
    std::string_view word;
    CommandArguments after;
};
SplitLine SplitWord(std::string_view line);

// Parsers more than one family uses.
base::Result<> ParseNoArgument(const ConsoleCommand& self, CommandArguments args, Command* out);
// "unexpected text after the command; usage: USAGE"
base::Error UnexpectedText(const ConsoleCommand& self);

// form_commands.cpp
base::Result<> ParseField(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParseOption(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParsePress(const ConsoleCommand& self, CommandArguments args, Command* out);
void RunClick(const Command& cmd, ConsoleSession& session);
void RunText(const Command& cmd, ConsoleSession& session);
void RunEnter(const Command& cmd, ConsoleSession& session);
void RunOption(const Command& cmd, ConsoleSession& session);
void RunPress(const Command& cmd, ConsoleSession& session);
void RunShow(const Command& cmd, ConsoleSession& session);

// board_commands.cpp
base::Result<> ParseSwitches(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParseFollow(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParsePowerCycle(const ConsoleCommand& self, CommandArguments args, Command* out);
void RunSwitches(const Command& cmd, ConsoleSession& session);
void RunFollow(const Command& cmd, ConsoleSession& session);
void RunPowerCycle(const Command& cmd, ConsoleSession& session);

// workbench_commands.cpp
base::Result<> ParseProbe(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParseLive(const ConsoleCommand& self, CommandArguments args, Command* out);
base::Result<> ParseFile(const ConsoleCommand& self, CommandArguments args, Command* out);
void RunInspect(const Command& cmd, ConsoleSession& session);
void RunProbe(const Command& cmd, ConsoleSession& session);
void RunLive(const Command& cmd, ConsoleSession& session);
void RunRegisters(const Command& cmd, ConsoleSession& session);
void RunStatus(const Command& cmd, ConsoleSession& session);
void RunSaveSettings(const Command& cmd, ConsoleSession& session);
void RunLoadSettings(const Command& cmd, ConsoleSession& session);

}  // namespace panel::console
