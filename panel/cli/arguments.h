// The arguments of lensbay's subcommands: `set [--yes] [-q] KEY=VALUE...`, `reset [--yes] [-q]`,
// `capture [--yes] [-q] [-o FILE] [--window H_START,H_END,V_START,V_END] [--count N] [--no-set]`,
// `status [--json]` and `power-cycle`. Everything is checked before any port cycle; an option
// given twice is refused; --help (or -h) may come anywhere.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "panel/cli/image_output.h"
#include "panel/settings.h"
#include "platform/base/result.h"

namespace panel::cli {

struct Arguments {
    std::string command;
    bool yes = false;
    bool quiet = false;  // set, reset, capture: errors only on standard error
    bool help = false;
    bool no_set = false;                               // capture: Capture alone
    bool json = false;                                 // status
    Settings settings;                                 // set
    std::optional<std::array<std::string, 4>> window;  // capture
    std::optional<std::string> output;
    std::optional<ImageFormat> format;
    int count = 1;
    // capture: --count was given, so that every frame's name is numbered (--count 1 included);
    // without it the name of -o is taken literally.
    bool numbered = false;
};

// Each subcommand's parser (the subcommand table's): `args` is what follows its name. With -o,
// the file's directory must take new files.
base::Result<Arguments> ParseSetArguments(const std::vector<std::string>& args);
base::Result<Arguments> ParseResetArguments(const std::vector<std::string>& args);
base::Result<Arguments> ParseCaptureArguments(const std::vector<std::string>& args);
base::Result<Arguments> ParseStatusArguments(const std::vector<std::string>& args);
base::Result<Arguments> ParsePowerCycleArguments(const std::vector<std::string>& args);

// The parser of the subcommand named `command` in the table; an unknown name fails.
base::Result<Arguments> ParseArguments(const std::string& command,
                                       const std::vector<std::string>& args);

}  // namespace panel::cli
