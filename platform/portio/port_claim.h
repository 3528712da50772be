// One user of a port at a time, machine-wide. Every process that makes a port cycle holds the
// claim of its port first, whatever hosts Pinbus (Lensbay, the GStreamer element, ocxhost, a
// Windows program under Wine): the port service takes it before it opens its backend, so the
// first cycle of a process claims the port, and a process whose claim is refused never opens the
// backend nor touches the port. A second process is refused at once (it never waits) with a
// message naming the port and the holder: "the port 0x378 is in use by lensbay, process 1234".
//
// A process holds one claim however many users it has: sessions (ClaimPort, which claims at once
// so that a program says a port in use before anything else) and the port's objects (PortUser).
// When the last of them ends, the service closes its backend and the claim is given up, so that
// another program may take the port; a later cycle claims it again. A program that makes cycles
// without any user holds the claim until it ends.
//
// The claim is a non-blocking flock on a lock file per port, named after the port's base address
// for the backends that reach a physical port, so that every way to one port excludes the others
// (see backend_registry.h):
//   direct           $LENSBAY_LOCK_DIR/lensbay-port-0x378 (default folder /run/lock)
//   ppdev:/dev/X     $LENSBAY_LOCK_DIR/lensbay-port-0xBASE, the base address of the driver's port
//   sim              the state file's name with ".port" added (a fresh board: this process only)
// The file holds the holder's program name and process id, and is readable and writable by
// every user, so that a root program and a user's program exclude each other. It is never
// followed as a link, and a file with other names (hard links) is refused, so that nobody can make
// a claim write into another file.
#pragma once

#include <memory>
#include <string>

#include "platform/base/result.h"
#include "platform/portio/portio.h"

namespace portio {

// A session's claim: the port claimed now, for the process, until it is destroyed. A second
// session of the same process is refused as well while this one lives.
class PORTIO_EXPORT PortClaim {
public:
    ~PortClaim();
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

private:
    friend PORTIO_EXPORT base::Result<std::unique_ptr<PortClaim>> ClaimPort();
    PortClaim() = default;
};

// Claims the port PORTIO names for a session (see above). Its errors are of the kind
// base::ErrorKind::kPortRefused.
PORTIO_EXPORT base::Result<std::unique_ptr<PortClaim>> ClaimPort();

// A user of the port through the service (a port object): it claims nothing by itself (the first
// cycle does), but while one lives the claim stays; the last one to end gives it up.
class PORTIO_EXPORT PortUser {
public:
    PortUser();
    ~PortUser();
    PortUser(const PortUser&) = delete;
    PortUser& operator=(const PortUser&) = delete;
};

// The lock file of the port PORTIO names (see above); "" for a port only this process can reach
// (a fresh simulated board), a PORTIO that names no backend, or a port that cannot be told (a
// device without a base address). Files that belong with the port (the record of what was
// written to its board) are kept beside it.
PORTIO_EXPORT std::string PortLockPath();

// The folder of the machine-wide port locks: LENSBAY_LOCK_DIR, else /run/lock.
PORTIO_EXPORT std::string PortLockFolder();

// The lock file of the physical port at `base`: "/run/lock/lensbay-port-0x378".
PORTIO_EXPORT std::string PortLockPath(unsigned long base);

// For the port service.
namespace claim_internal {
// Holds the claim for the service before it opens its backend (taking it when the process does
// not hold it yet); the refusal says why.
base::Result<> HoldForService();
// The service closed its backend: its hold ends, and the claim with it when no user holds it.
void ReleaseForService();
// The number of sessions and port users alive in this process.
int Users();
}  // namespace claim_internal

}  // namespace portio
