// One user of a port at a time. A program that opens the port holds its claim until it closes
// it; a second claim of the same port, in the same process or another, is refused at once (it
// never waits) with a message naming the port and the holder: "the port 0x378 is in use by
// lensbay, process 1234". The claim is a non-blocking flock on a lock file per port, which each
// backend names in the backend table (backend_registry.h):
//   direct          $LENSBAY_LOCK_DIR/lensbay-port-0x378 (default folder /run/lock)
//   ppdev:/dev/X    $LENSBAY_LOCK_DIR/lensbay-port_dev_X
//   sim             the state file's name with ".port" added (a fresh board: this process only)
// The file holds the holder's program name and process id, and is readable and writable by
// every user, so that a root program and a user's program exclude each other.
#pragma once

#include <memory>
#include <string>

#include "platform/base/result.h"
#include "platform/portio/portio.h"

namespace portio {

class PORTIO_EXPORT PortClaim {
public:
    ~PortClaim();  // the port is free again
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

private:
    friend PORTIO_EXPORT base::Result<std::unique_ptr<PortClaim>> ClaimPort();
    PortClaim() = default;
    int fd_ = -1;
    bool fresh_ = false;
};

// Claims the port PORTIO names (see above).
PORTIO_EXPORT base::Result<std::unique_ptr<PortClaim>> ClaimPort();

// The lock file of the port PORTIO names (see above); "" for a port only this process can reach
// (a fresh simulated board) or a PORTIO that names no backend. Files that belong with the port
// (the record of what was written to its board) are kept beside it.
PORTIO_EXPORT std::string PortLockPath();

// The folder of the machine-wide port locks: LENSBAY_LOCK_DIR, else /run/lock.
PORTIO_EXPORT std::string PortLockFolder();

}  // namespace portio
