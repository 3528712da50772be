// A program's standard output and standard error as places its results go: a write to either that
// fails is said once, and the program's exit status says it too, so that `lensbay ... >/dev/full`
// never looks like a success.
#pragma once

#include "platform/base/files.h"

namespace base {

// Makes sure descriptors 0, 1 and 2 are open before the program opens anything: one its caller
// closed (`lensbay >&-`) is opened on /dev/null, standard input for reading (its end) and the
// outputs for reading only, so that writing to them fails as a closed one does, and no file the
// program opens later takes their place (a lock file would otherwise receive its output).
BASE_FILES_EXPORT void GuardStandardStreams();

// Notes that writing to standard output (fd 1) or standard error (fd 2) failed with `err` (0: for
// a reason no longer known). The
// first failure is said on standard error ("standard output: write failed: No space left on
// device") unless `said` (the caller said it) or it is a broken pipe while SIGPIPE ends the
// program (which the shell shows by itself).
BASE_FILES_EXPORT void NoteOutputFailure(int fd, int err, bool said = false);

// Flushes standard output and standard error and answers the program's exit status: `status`
// when every write to them succeeded, else a non-zero one (1 for a `status` of 0), after saying the
// failure once.
BASE_FILES_EXPORT int FinishOutput(int status);

}  // namespace base
