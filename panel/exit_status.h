// The exit statuses of Lensbay's programs (the window and the console, the subcommands), one
// table: every help text that lists them says these. A program that an error stops ends with the
// status of the error's kind (ExitStatusFor).
#pragma once

#include "platform/base/result.h"

namespace panel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // bad arguments or options, or a failed operation
// COM, the class registry or the Pinbus control cannot be used.
inline constexpr int kExitNotRegistered = 2;
// `lensbay WORD` where WORD names no subcommand.
inline constexpr int kExitUnknownSubcommand = 2;
// The port cannot be had: its backend (PORTIO) will not open, or another program holds it.
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
