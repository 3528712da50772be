// The simulated board's state file: what a powered board keeps between programs, in a few lines
// of text, e.g.
//   lensbay-sim-board 1
//   switches 1000
//   follows-prompts on
//   agc off
//   reset-request 0
//   frames 3
//   scene-time 2
//   next-time 3
//   register EXCTL 20
//   register HWCTL 4c
// Registers that were never latched have no line; a register value is two lower-case hex digits
// as the chip holds it. A missing file is a board just powered on.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/result.h"
#include "platform/portio/sim/board.h"

namespace sim {

// Where the board's state is kept: LENSBAY_SIM_STATE (set to nothing: empty, the board is then
// fresh in each program), else $XDG_RUNTIME_DIR/lensbay/sim-board, else /tmp/lensbay-UID/sim-board
// (said on standard error when that folder is made). The folder is made (mode 0700) when it is
// missing, and used only when it is a folder of this user's that no other user may enter;
// otherwise the refusal says why.
SIM_EXPORT base::Result<std::string> StateFilePath();

// Asked while the state's lock is waited for (2 s at most): true gives up at once (a signal is
// ending the program, which then must not wait on another program's lock). Null: never.
SIM_EXPORT void SetLockWaitAbandoned(bool (*abandoned)());

SIM_EXPORT std::string FormatBoardState(const BoardState& state);
// Refuses anything but the lines FormatBoardState writes (each key once, in any order; the
// register lines optional), naming the line that is wrong.
SIM_EXPORT base::Result<BoardState> ParseBoardState(std::string_view text);

// Reads the state file (a missing file gives a board just powered on). Writing replaces the file
// whole (a temporary file beside it, renamed over it; its owner and mode kept), so a reader never
// meets half a state, and readers and writers of one file take turns through the lock file beside
// it (PATH.lock). Neither the state file nor its lock file is ever followed as a symbolic link: a
// link in their place is refused. The folder must exist.
SIM_EXPORT base::Result<BoardState> LoadBoardState(const std::string& path);
SIM_EXPORT base::Result<> SaveBoardState(const std::string& path, const BoardState& state);

}  // namespace sim
