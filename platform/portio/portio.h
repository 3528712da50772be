// The process-wide port I/O service. Each call is exactly one port cycle, in program order,
// with no buffering, retry or delay. The backend is chosen once, from PORTIO, by its name in the
// backend table (backend_registry.h), which today holds:
//   unset, empty or "sim"   the simulated SX540 board at base 0x378
//   "direct"                x86 port instructions after ioperm
//   "ppdev:/dev/parportN"   the Linux parallel-port driver
// PORTIO_TRACE=FILE (or "-" for standard output) records every cycle, one line each, flushed as
// it is written: "out8 0x037a 0x08", "in8 0x0378 0x5a", "out16 0x0378 0x1234", "in16 0x0378
// 0xffff". PORTIO_EXCLUSIVE=1 asks the parallel-port driver for exclusive access (PPEXCL) before
// claiming.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/result.h"

#define PORTIO_EXPORT __attribute__((visibility("default")))

namespace portio {

class BoardOperator;

class PORTIO_EXPORT Backend {
public:
    virtual ~Backend() = default;
    // A refused cycle is reported with ReportFault; a refused read gives all ones.
    virtual std::uint8_t In8(std::uint16_t port) = 0;
    virtual std::uint16_t In16(std::uint16_t port) = 0;
    virtual void Out8(std::uint16_t port, std::uint8_t value) = 0;
    virtual void Out16(std::uint16_t port, std::uint16_t value) = 0;
    // The same cycles, for a caller that handles a fault itself: a refused cycle answers false
    // (a read: -1) after SetCycleFault, and nothing is reported. The defaults run the cycles
    // above and keep what they report, which costs a thread-local hand-over on every cycle; a
    // backend that can tell its refusals itself overrides them.
    virtual int CheckedIn8(std::uint16_t port);
    virtual std::int32_t CheckedIn16(std::uint16_t port);
    virtual bool CheckedOut8(std::uint16_t port, std::uint8_t value);
    virtual bool CheckedOut16(std::uint16_t port, std::uint16_t value);
    // The operator's side of the board behind this backend (switches, window), if it has one.
    virtual BoardOperator* Operator() { return nullptr; }
    // True when the backend writes the trace lines itself (TraceDeviceCycle), one for each cycle
    // it causes on the port, instead of the service tracing each call.
    virtual bool TracesOwnCycles() const { return false; }
};

// Chooses and opens the backend from the environment, once. Fails with a message that names the
// backend, the device and the reason when it cannot be opened; then no port cycle is ever
// executed. Later calls return the first outcome. Its errors are of the kind
// base::ErrorKind::kPortRefused.
PORTIO_EXPORT base::Result<> Initialize();

// The backend PORTIO names, as given ("sim" when unset or empty), for records that say which
// port a picture came from.
PORTIO_EXPORT std::string ChosenBackend();

// Turns the simulated board kept in its state file off and on again without opening it (the
// chip's reset state; its switches stay as set). Gives the state file's path, or "" when the
// environment names none (each program's board is fresh). Defined with the sim backend.
PORTIO_EXPORT base::Result<std::string> PowerCycleSimState();

// A port cycle that cannot be done: refused by the backend (a port it does not present, a mode
// it must not set), a failing driver call, or any cycle when the service cannot be opened. The
// cycle is not run (a read gives 0xFF, as floating lines do) and the fault goes to the handler
// the program chose, which may end the program; without one the first fault is written to
// standard error.
using FaultHandler = void (*)(const base::Error& fault);
PORTIO_EXPORT void SetFaultHandler(FaultHandler handler);
// Hands a fault to the handler (for the backends).
PORTIO_EXPORT void ReportFault(const std::string& message);

// The port cycles. They initialise the service on first use; when that fails, each cycle is a
// fault (see above) and no port instruction is run.
PORTIO_EXPORT std::uint8_t In8(std::uint16_t port);
PORTIO_EXPORT std::uint16_t In16(std::uint16_t port);
PORTIO_EXPORT void Out8(std::uint16_t port, std::uint8_t value);
PORTIO_EXPORT void Out16(std::uint16_t port, std::uint16_t value);

// The port cycles for a caller that reports their faults itself (an automation call that fails
// with them): a cycle that cannot be done answers false (a read: -1) and TakeCycleFault() then
// says why; the fault never reaches the handler. A cycle that is done costs what the ones above
// cost.
PORTIO_EXPORT int CheckedIn8(std::uint16_t port);
PORTIO_EXPORT std::int32_t CheckedIn16(std::uint16_t port);
PORTIO_EXPORT bool CheckedOut8(std::uint16_t port, std::uint8_t value);
PORTIO_EXPORT bool CheckedOut16(std::uint16_t port, std::uint16_t value);
// The reason of this thread's last refused checked cycle (empty when there was none), which it
// forgets.
PORTIO_EXPORT std::string TakeCycleFault();
// For backends' checked cycles: the reason of the refusal they are about to answer.
PORTIO_EXPORT void SetCycleFault(std::string message);

// The operator's side of the board when the backend has one (the simulated board), else null.
// Opens the service if it is not open yet (without exiting when that fails).
PORTIO_EXPORT BoardOperator* Operator();

// For tests and tools: replace the backend (and the trace target: "" none, "-" stdout, or a path).
PORTIO_EXPORT void InstallBackendForTesting(std::unique_ptr<Backend> backend,
                                            const std::string& trace = "");
// For tests: forget the backend and the trace, so that the next Initialize (or port cycle)
// reads PORTIO and PORTIO_TRACE again.
PORTIO_EXPORT void ResetForTesting();
// Writes a line to standard output in order with the trace lines (for front ends that print
// their own lines on standard output while tracing there).
PORTIO_EXPORT void WriteStdoutLine(const std::string& line);

}  // namespace portio
