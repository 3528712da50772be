// lensbay's task subcommands, each one process: `set KEY=VALUE...`, `reset` and `capture`. Each
// does on the port exactly what the window does for the same clicks: the port set-up of the
// window's load, then Set Register, Default Setting or Capture.
#pragma once

#include <string>

#include "panel/picture_files.h"

namespace panel::cli {

// Whether argv[1] names a subcommand.
bool IsSubcommand(const char* arg);

// Runs the subcommand in argv[1]. `pinbus_hint` is the PINBUS.OCX path named in the "register it
// with" advice. Exit status: 0 done, 1 bad arguments or a failed operation, 2 the Pinbus port
// objects cannot be created, 3 the port backend cannot be opened. `png` makes `capture -o
// NAME.png` (null where the build has no PNG encoder).
int RunSubcommand(int argc, char** argv, const std::string& pinbus_hint, PngEncoder* png);

}  // namespace panel::cli
