// Runs a built program as a child process the way a user's shell would: its own environment,
// working directory and standard input, optionally as the unprivileged user "nobody". The child
// is killed after a time limit, so that a hang shows as a failure rather than a stuck suite.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace test_support {

struct Command {
    Command(std::vector<std::string> args_, std::map<std::string, std::string> env_ = {},
            std::string input_ = "")
        : args(std::move(args_)), env(std::move(env_)), input(std::move(input_)) {}
    std::vector<std::string> args;  // args[0] is the program's path
    // Changes; an empty value removes the variable. Without LENSBAY_SIM_STATE here the program
    // gets a simulated board of its own, just powered on, that no other run shares.
    std::map<std::string, std::string> env;
    std::string input;       // standard input, then end of file
    std::string cwd;         // "" keeps the test's own
    bool as_nobody = false;  // drop to uid/gid 65534 before exec
    int timeout_seconds = 60;
    // Run on a thread of its own while the child runs, with the child's process id and a flag
    // that turns true once the child has closed its outputs (it ended); it must return by itself.
    std::function<void(pid_t pid, const std::atomic<bool>& ended)> while_running;
    // Standard input stays open (after `input`) until the child ends, as a terminal's would.
    bool keep_input_open = false;
};

struct Outcome {
    bool started = false;  // false: fork/exec or the privilege drop failed (see `err`)
    bool timed_out = false;
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

Outcome RunProcess(const Command& run);

bool ReadWholeFile(const std::string& path, std::string* out);
bool WriteWholeFile(const std::string& path, const std::string& data);

}  // namespace test_support
