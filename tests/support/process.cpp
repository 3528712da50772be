#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

extern char** environ;

namespace test_support {
namespace {

// Child side: nothing here may allocate or return; any failure ends the child with 126/127
// after a short note on its standard error, which the parent reads.
[[noreturn]] void ChildFail(const char* what) {
    const char* why = std::strerror(errno);
    [[maybe_unused]] ssize_t n = ::write(2, what, std::strlen(what));
    n = ::write(2, ": ", 2);
    n = ::write(2, why, std::strlen(why));
    n = ::write(2, "\n", 1);
    _exit(126);
}

long long NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

Outcome RunProcess(const Command& run) {
    Outcome o;
    // A program the test does not give a board of its own powers up a fresh one, kept in a
    // folder of this run's own, so that no two runs (nor tests side by side) share a board.
    std::optional<TempDir> board_dir;
    std::map<std::string, std::string> env = run.env;
    if (env.find("LENSBAY_SIM_STATE") == env.end()) {
        board_dir.emplace("sim-board");
        env["LENSBAY_SIM_STATE"] = board_dir->File("sim-board");
        // A program run as "nobody" keeps its board too.
        if (run.as_nobody && ::chown(board_dir->path().c_str(), 65534, 65534) != 0) return o;
    }
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : env) {
        if (value.empty()) {
            vars.erase(name);
        } else {
            vars[name] = value;
        }
    }
    std::vector<std::string> env_strings;
    for (const auto& [name, value] : vars) env_strings.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> arg_strings = run.args;
    for (auto& s : arg_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    if (argv.size() < 2) return o;

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return o;
    const pid_t pid = ::fork();
    if (pid < 0) return o;
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (!run.cwd.empty() && ::chdir(run.cwd.c_str()) != 0) ChildFail("chdir");
        if (run.as_nobody) {
            // Group first, while still allowed to change it; then check nothing was kept.
            if (::setgroups(0, nullptr) != 0) ChildFail("setgroups");
            if (::setgid(65534) != 0) ChildFail("setgid");
            if (::setuid(65534) != 0) ChildFail("setuid");
            if (::geteuid() == 0 || ::setuid(0) == 0) ChildFail("privileges kept");
        }
        // A shell starts its programs with SIGPIPE at its default; this process ignores it.
        struct sigaction pipe_default {};
        pipe_default.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &pipe_default, nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ChildFail("execve");
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Inputs here are small enough for the pipe; a program that ignores its input still ends.
    ::signal(SIGPIPE, SIG_IGN);
    if (!run.input.empty() && ::write(in[1], run.input.data(), run.input.size()) !=
                                  static_cast<ssize_t>(run.input.size())) {
        o.err = "(writing the child's input failed)";
    }
    if (!run.keep_input_open) ::close(in[1]);
    std::atomic<bool> ended{false};
    std::thread alongside;
    if (run.while_running) alongside = std::thread([&] { run.while_running(pid, ended); });

    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&o.out, &o.err};
    int open_fds = 2;
    const long long deadline = NowMs() + run.timeout_seconds * 1000LL;
    while (open_fds > 0) {
        const long long left = deadline - NowMs();
        if (left <= 0) {
            o.timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    ended = true;
    if (alongside.joinable()) alongside.join();
    if (run.keep_input_open) ::close(in[1]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 126);
    return o;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *out = buffer.str();
    return static_cast<bool>(in) || in.eof();
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out.flush());
}

}  // namespace test_support
