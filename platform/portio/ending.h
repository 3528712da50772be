// How a program that holds the port ends when it is told to from outside: SIGINT, SIGTERM, SIGHUP,
// SIGPIPE (its output's reader went away), or the loss of its display. The handshake in progress is
// ended the way the program's own sequences end theirs, and the port is left idle (control 0x27)
// before the process goes.
//
// Port cycles must not be made inside a signal handler (the simulated board writes its state file
// under a lock, a trace line goes through stdio), so the handler only records the signal. The
// ending itself runs in normal context, by whichever comes first:
//   - the next port cycle of any thread: the cycle is not made; the ending is made instead;
//   - an idle point of the front end that holds the port (the window's event loop, through
//     WakeFd(); the end of a front end's run, through EndIfPending());
// and then the process ends with the signal (its default action: the status a shell shows as
// 128 + the signal's number), after removing its temporary files and folders.
//
// The ending writes the control register only, from the last value the port service wrote to it,
// never raising the strobe or releasing the data lines in a write that changes another bit:
//   0x00 -> 0x20 -> 0x27          0x08 -> 0x28 -> 0x27        0x09 -> 0x08 -> 0x28 -> 0x27
//   0x2A -> 0x2B -> 0x27          0x20, 0x28, 0x2B, 0x2F -> 0x27
// A port at rest is left as it is: 0x27, the 0x22 that Set Register and Default Setting end with,
// the value a sequence marked as its own ending (ControlRestsHere: a Capture ended by a file
// error leaves 0x2B), or a port this program never wrote.
//
// SIGKILL cannot be caught: it leaves the port as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/chip/sx540.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/portio.h"

namespace portio {

// The control register of the port (port_addresses.h).
inline constexpr std::uint16_t kEndingControlPort = kControlPort;
inline constexpr std::uint8_t kIdleControl = chip::kControlIdle;

// The control writes that take the port from `control` (the last value written, or -1 for none)
// to idle; empty when it is at rest. `rests_at` is a value a sequence marked as its ending (or -1).
PORTIO_EXPORT std::vector<std::uint8_t> StepsToIdle(int control, int rests_at = -1);

// Takes SIGINT, SIGTERM, SIGHUP and SIGPIPE over for the ending, once per process (later calls do
// nothing). This replaces the temporary-file cleanup the file layer installs by itself: the ending
// removes those files too. After a signal, reads of standard input see its end, so that a front end
// waiting for a line goes on to its next cycle or its end.
PORTIO_EXPORT void TakeOverEndingSignals();

// A descriptor that becomes readable when an ending is pending (for an event loop); -1 before
// TakeOverEndingSignals.
PORTIO_EXPORT int WakeFd();

// Whether a signal is waiting for its ending.
PORTIO_EXPORT bool EndingPending();

// Makes a pending ending now. The caller must hold the port: no other thread may be inside a
// port cycle (the window's handlers and live thread share it through their arbiter). Does not
// return when a signal is pending; returns at once when nothing is.
PORTIO_EXPORT void EndIfPending();

// For an exit the program did not choose (its display went away): the port is left idle as for a
// signal, and from then on no port cycle is made; the process then goes on ending with its own
// status. Another thread inside a frame ends it at its next cycle, so the caller waits for the
// port after AnnounceExitEnding and before EndForExit.
PORTIO_EXPORT void AnnounceExitEnding();
PORTIO_EXPORT void EndForExit();

// Marks the control register's present value as the ending the running sequence chose (a
// Capture ended by a file error keeps 0x2B); the next control write forgets it.
PORTIO_EXPORT void ControlRestsHere();

// Work that must be done when a signal ends the process (it ends without unwinding): removing a
// temporary folder. Registered for the scope's life; run in normal context, in reverse order.
class PORTIO_EXPORT EndingCleanup {
public:
    explicit EndingCleanup(std::function<void()> work);
    ~EndingCleanup();
    EndingCleanup(const EndingCleanup&) = delete;
    EndingCleanup& operator=(const EndingCleanup&) = delete;

private:
    std::function<void()> work_;
};

// For the port service: the last control value and the check at each cycle.
namespace ending_internal {
// Non-zero once an ending is pending or made: cycles take their slow way.
PORTIO_EXPORT extern std::atomic<bool> g_armed;
PORTIO_EXPORT extern std::atomic<int> g_control;
// At a cycle's start, when armed: makes the ending (not returning after a signal) and answers
// whether the cycle may still be made (false once the port is left idle for an exit).
PORTIO_EXPORT bool AtCycle();
// The service's own cycle for the ending's writes: made and traced as any other, without the
// check; a refusal is not reported (the write is not done).
PORTIO_EXPORT void EndingOut8(std::uint16_t port, std::uint8_t value);
}  // namespace ending_internal

}  // namespace portio
