// lensbay's subcommands, one table: each one's name, argument parser, help line and run. The
// program's dispatch, its usage and each subcommand's --help all read it. The task subcommands
// (`set KEY=VALUE...`, `reset`, `capture`) each do on the port exactly what the window does for
// the same clicks: the port set-up of the window's load, then Set Register, Default Setting or
// Capture. `status` shows what was written to the chip; `power-cycle` turns the simulated board
// off and on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "panel/cli/arguments.h"
#include "panel/exit_status.h"
#include "panel/picture_files.h"
#include "platform/base/result.h"

namespace panel::cli {

// What a subcommand runs with besides its arguments.
struct Context {
    std::string pinbus_hint;    // the PINBUS.OCX path named in the "register it with" advice
    PngEncoder* png = nullptr;  // makes `capture -o NAME.png` (null: the build has none)
};

struct Subcommand {
    const char* name;
    const char* synopsis;  // what follows the name in the usage ("KEY=VALUE...")
    const char* summary;   // one line for lensbay --help
    std::string help;      // `lensbay NAME --help`
    base::Result<Arguments> (*parse)(const std::vector<std::string>& args);
    int (*run)(const Arguments& a, const Context& context);
};

// Every subcommand, in the order the usage lists them.
const std::vector<Subcommand>& Subcommands();
const Subcommand* FindSubcommand(std::string_view name);

// Whether argv[1] is a word for the subcommand dispatch rather than an option: anything that does
// not start with '-' (a known subcommand, or one refused as unknown).
bool IsSubcommand(const char* arg);

// For lensbay --help: the subcommands' usage lines (indented to follow "Usage: lensbay ..."),
// and their list with one line each.
std::string SubcommandUsage();
std::string SubcommandList();

// Runs the subcommand in argv[1]: its --help, its arguments' refusal (status 1), or its run. A
// word that names none is refused with status 2, the list of subcommands and the nearest name
// ("did you mean capture?").
int RunSubcommand(int argc, char** argv, const Context& context);

}  // namespace panel::cli
