// One program's hold on the board: the port service opened, COM initialised, the class registry
// checked and the two port objects created through it and loaded from the main window's stored
// layout. The window, the console, the task commands and the GStreamer element all start here.
#pragma once

#include <memory>
#include <string>

#include "panel/board_record.h"
#include "panel/exit_status.h"
#include "panel/startup.h"
#include "platform/base/result.h"
#include "platform/portio/port_claim.h"
#include "platform/portio/portio.h"

namespace panel {

// Whether the session takes SIGINT, SIGTERM, SIGHUP and SIGPIPE over so that they leave the port
// idle (platform/portio/ending.h): a program of ours does; a library in another program's process
// (the GStreamer element) leaves the host's signals alone.
enum class SignalEndings { kTakeOver, kLeaveToHost };

class Session {
public:
    // Makes an ending a signal left pending (which ends the process), then releases the port
    // objects, then COM.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    IDispatch* Pinbus1() const { return objects_.pinbus1.Get(); }  // every write
    IDispatch* Pinbus2() const { return objects_.pinbus2.Get(); }  // every read
    // The board's operator side (switches, following the prompts, its window) where the backend
    // has one, else null.
    portio::BoardOperator* Board() const { return board_; }
    // What Lensbay's programs wrote to the board's chip (board_record.h), read when the port was
    // claimed and written back after each change while the session holds the port. Its writer's
    // name is the program's ("lensbay") until the front end names itself.
    KeptBoardRecord& BoardRecord() const { return *record_; }

private:
    friend base::Result<std::unique_ptr<Session>> OpenSession(const std::string&,
                                                              portio::FaultHandler, SignalEndings);
    Session() = default;
    // Declared first, so released last: the port stays this session's until everything that
    // uses it is gone.
    std::unique_ptr<portio::PortClaim> claim_;
    PortObjects objects_;
    portio::BoardOperator* board_ = nullptr;
    std::unique_ptr<KeptBoardRecord> record_;
    bool com_initialized_ = false;
};

// The programs' fault handler: a port cycle that cannot be done ends the program with
// kExitPortRefused (exit_status.h) after saying why on standard error; the panel must not go on
// with a board it cannot reach.
[[noreturn]] void ExitOnPortFault(const base::Error& fault);

// The session holds the port PORTIO names until it is destroyed: a second session on the same
// port, in this process or another, is refused at once with an error of the kind
// base::ErrorKind::kPortRefused naming the port and its holder ("the port 0x378 is in use by
// lensbay, process 1234"); a backend that will not open is of that kind too, and COM, the class
// registry or Pinbus failing of the kinds kNotRegistered and kRegistry (exit_status.h gives each
// kind's exit status).
// `on_fault` becomes the port service's fault handler before the backend opens: a port cycle the
// backend refuses goes there. `pinbus_hint` is the PINBUS.OCX path the "register it with" advice
// names. No port cycle is run: the port's first writes are the front end's load. With
// SignalEndings::kTakeOver the signals are taken over before anything else.
base::Result<std::unique_ptr<Session>> OpenSession(
    const std::string& pinbus_hint, portio::FaultHandler on_fault,
    SignalEndings signals = SignalEndings::kTakeOver);

}  // namespace panel
