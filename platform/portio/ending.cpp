#include "platform/portio/ending.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/base/files.h"

namespace portio {

namespace ending_internal {
std::atomic<bool> g_armed{false};
// The control register's last value (bit 8: a sequence chose it as its ending), -1 before any.
std::atomic<int> g_control{-1};
}  // namespace ending_internal

namespace {

using ending_internal::g_armed;
using ending_internal::g_control;

constexpr int kRestMark = 0x100;

// A closed pipe on standard output or error (`lensbay ... | head`) ends the program as the others
// do; the write that met it fails, and the next cycle or idle point makes the ending.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};

// The signal waiting for its ending (0: none), written by the handler.
std::atomic<int> g_signal{0};
// The ending was made for an exit: the port stays idle, no cycle is made any more.
std::atomic<bool> g_exit_done{false};
std::atomic<bool> g_exit_announced{false};
int g_wake[2] = {-1, -1};
int g_null_input = -1;

// One ending at a time; the first one made decides.
std::mutex& EndingMutex() {
    static std::mutex mutex;
    return mutex;
}

struct Cleanups {
    std::mutex mutex;
    std::vector<const std::function<void()>*> work;
};
Cleanups& TheCleanups() {
    static Cleanups* cleanups = new Cleanups;  // never destroyed: endings may come late
    return *cleanups;
}

// Only what is safe in a signal handler: atomics, write, dup2.
extern "C" void RecordEndingSignal(int sig) {
    const int saved = errno;
    int none = 0;
    if (g_signal.compare_exchange_strong(none, sig)) {
        g_armed.store(true);
        if (g_wake[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
        }
        // A front end waiting for a line of input (a box waiting for Enter, the console between
        // commands) sees the input end and goes on to its next cycle or its end. A read already
        // under way on this thread returns EINTR, as the handler does not restart it.
        if (g_null_input >= 0) ::dup2(g_null_input, STDIN_FILENO);
    }
    errno = saved;
}

void WriteSteps(int control) {
    for (const std::uint8_t step : StepsToIdle(control))
        ending_internal::EndingOut8(kEndingControlPort, step);
}

// Removes what the process would have removed on its way out, then ends it with the signal.
[[noreturn]] void DieWith(int sig) {
    {
        Cleanups& c = TheCleanups();
        std::lock_guard<std::mutex> lock(c.mutex);
        for (auto it = c.work.rbegin(); it != c.work.rend(); ++it) (**it)();
    }
    base::RemoveTemporaryFiles();
    // The backend stays as it is: the window's thread may still be looking at the simulated
    // board, and the driver hands the port back when the process's descriptors close. The
    // simulated board's registers are in its state file already (its scene clock is not saved).
    // Nothing is flushed: the trace and the console's lines are written whole as they come.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);  // not reached: the default action of these signals ends the process
}

// The ending proper, with the ending's lock held.
void MakeEnding(int sig) {
    if (g_exit_done.load()) {
        if (sig != 0) DieWith(sig);
        return;
    }
    WriteSteps(g_control.load(std::memory_order_relaxed));
    if (sig != 0) DieWith(sig);
    g_exit_done.store(true);
}

// A signal that came after the program's last idle point (while it was closing down) still ends
// it with the signal's status; the port was left by then.
extern "C" void DieWithPendingSignal() {
    if (const int sig = g_signal.load(); sig != 0) DieWith(sig);
}

}  // namespace

std::vector<std::uint8_t> StepsToIdle(int control, int rests_at) {
    std::vector<std::uint8_t> steps;
    if (control < 0 || (control & kRestMark) != 0 || control == rests_at) return steps;
    int v = control & 0xFF;
    if (v == kIdleControl || v == chip::kControlVideoPort) return steps;
    if ((v & chip::kDataInputBit) == 0) {
        // The data lines are driven: the strobe goes down first, then the lines are released,
        // each in a write of its own.
        if ((v & chip::kStrobeBit) != 0)
            steps.push_back(static_cast<std::uint8_t>(v &= ~chip::kStrobeBit));
        steps.push_back(static_cast<std::uint8_t>(v |= chip::kDataInputBit));
    } else if ((v & (chip::kSelectInBit | chip::kAutoFeedBit | chip::kStrobeBit)) ==
               (chip::kSelectInBit | chip::kAutoFeedBit)) {
        // Inside a frame's handshake pulse: the pulse is finished first, as the frame read does.
        steps.push_back(static_cast<std::uint8_t>(v |= chip::kStrobeBit));
    }
    if (v != kIdleControl) steps.push_back(kIdleControl);
    return steps;
}

void TakeOverEndingSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
        if (std::atexit(DieWithPendingSignal) != 0)
            std::fputs("lensbay: cannot register the ending at exit\n", stderr);
        g_null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        struct sigaction act {};
        act.sa_handler = RecordEndingSignal;
        act.sa_flags = 0;  // no SA_RESTART: a blocked read returns, so its front end moves on
        sigemptyset(&act.sa_mask);
        for (int sig : kEndingSignals) sigaddset(&act.sa_mask, sig);
        for (int sig : kEndingSignals) {
            struct sigaction old {};
            // A signal the program's caller ignores (nohup, a shell's background job) stays
            // ignored.
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
            ::sigaction(sig, &act, nullptr);
        }
    });
}

int WakeFd() { return g_wake[0]; }

bool EndingPending() { return g_signal.load() != 0; }

void EndIfPending() {
    const int sig = g_signal.load();
    if (sig == 0) return;
    std::lock_guard<std::mutex> lock(EndingMutex());
    MakeEnding(sig);
}

void AnnounceExitEnding() {
    g_exit_announced.store(true);
    g_armed.store(true);
}

void EndForExit() {
    std::lock_guard<std::mutex> lock(EndingMutex());
    MakeEnding(g_signal.load());
}

void ControlRestsHere() {
    const int control = g_control.load(std::memory_order_relaxed);
    if (control >= 0) g_control.store(control | kRestMark, std::memory_order_relaxed);
}

bool ending_internal::AtCycle() {
    const int sig = g_signal.load();
    if (sig == 0 && !g_exit_announced.load()) return true;
    std::lock_guard<std::mutex> lock(EndingMutex());
    MakeEnding(sig);
    return false;
}

EndingCleanup::EndingCleanup(std::function<void()> work) : work_(std::move(work)) {
    Cleanups& c = TheCleanups();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.work.push_back(&work_);
}

EndingCleanup::~EndingCleanup() {
    Cleanups& c = TheCleanups();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (auto it = c.work.begin(); it != c.work.end(); ++it) {
        if (*it == &work_) {
            c.work.erase(it);
            break;
        }
    }
}

}  // namespace portio
