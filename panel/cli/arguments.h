// The arguments of lensbay's task subcommands: `set [--yes] KEY=VALUE...`, `reset [--yes]` and
// `capture [--yes] [-o FILE] [--window H_START,H_END,V_START,V_END] [--count N]`. Everything is
// checked before any port cycle; an option given twice is refused.
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
    bool help = false;
    bool no_set = false;                               // capture: Capture alone
    Settings settings;                                 // set
    std::optional<std::array<std::string, 4>> window;  // capture
    std::optional<std::string> output;
    std::optional<ImageFormat> format;
    int count = 1;
};

// `command` is the subcommand's name, `args` what follows it. With -o, the file's directory must
// take new files.
base::Result<Arguments> ParseArguments(const std::string& command,
                                       const std::vector<std::string>& args);

}  // namespace panel::cli
