// The exit statuses of Lensbay's programs (the window and the console, the subcommands), one
// table in which each status means one thing: every help text that lists them says these. A
// program that an error stops ends with the status of the error's kind (ExitStatusFor); a signal
// ends it with the signal (a shell shows 128 + its number).
#pragma once

#include "platform/base/result.h"

namespace panel {

inline constexpr int kExitOk = 0;
// The command did not do what it was asked, for a reason of its own: bad arguments or options, a
// word that names no subcommand, a file that cannot be read or written, a damaged board state or
// board record, a stopped sequence.
inline constexpr int kExitFailed = 1;
// COM, the class registry or the Pinbus control cannot be used.
inline constexpr int kExitNotRegistered = 2;
// The port cannot be had: PORTIO names no backend, its backend will not open, another program
// holds the port, or the backend refused a port cycle.
inline constexpr int kExitPortRefused = 3;

// The exit status of a program that `error` stops.
constexpr int ExitStatusFor(const base::Error& error) {
    switch (error.kind) {
        case base::ErrorKind::kPortRefused:
            return kExitPortRefused;
        case base::ErrorKind::kNotRegistered:
        case base::ErrorKind::kRegistry:
            return kExitNotRegistered;
        default:
            return kExitFailed;
    }
}

}  // namespace panel
