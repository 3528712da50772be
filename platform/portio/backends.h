// The hardware backends of the port I/O service, and the system calls they use, replaceable for
// tests. The simulated board's backend is in sim/sim_backend.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/portio/portio.h"

namespace portio {

// x86 port instructions. Permission is requested at open for exactly the ports the board uses
// (0x378-0x37a and 0x77a); an access that is not wholly inside them runs no instruction: it is
// a fault (see ReportFault), and a read gives 0xFF.
struct DirectSyscalls {
    int (*ioperm)(unsigned long from, unsigned long num, int turn_on);
    std::uint8_t (*inb)(std::uint16_t port);
    std::uint16_t (*inw)(std::uint16_t port);
    void (*outb)(std::uint8_t value, std::uint16_t port);
    void (*outw)(std::uint16_t value, std::uint16_t port);
};
// The real calls; null on processors without port instructions.
PORTIO_EXPORT const DirectSyscalls* RealDirectSyscalls();
PORTIO_EXPORT base::Result<std::unique_ptr<Backend>> OpenDirect(const DirectSyscalls& sys);
// For tests: the calls PORTIO=direct opens with from now on (null: the real ones again).
PORTIO_EXPORT void UseDirectSyscallsForTesting(const DirectSyscalls* sys);

// The Linux parallel-port driver (ppdev), presenting the claimed port at base 0x378:
//   0x378 data       PPWDATA / PPRDATA
//   0x379 status     PPRSTATUS (writes are ignored, as the port ignores them)
//   0x37a control    bits 0..3 PPWCONTROL (raw register values), bit 5 PPDATADIR (1 = input,
//                    issued only when the bit changes); bits 4 and 5 read back as last written,
//                    bits 6 and 7 read as 1
//   0x77a ECR        a write with mode field (bits 7..5) 001, byte mode, is accepted and read
//                    back (the driver put the port in byte mode when it was claimed); 0x20 reads
//                    back before any write. Any other mode is refused.
// The trace shows the cycles the driver makes on the port, as the port sees them: a control write
// that turns the data lines around is two cycles (PPWCONTROL and PPDATADIR); a control read, an
// ECR access and a status write are answered here without a cycle and leave no line.
// Refused accesses (other ports, word cycles, other ECR modes) and failing ioctls are faults (see
// ReportFault); the cycle is not done and a read gives 0xFF.
struct PpdevSyscalls {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*close)(int fd);
    // For the port's lock, named after its base address: the device's canonical path (links,
    // "." and ".." and doubled slashes resolved; `resolved` holds PATH_MAX bytes), the device
    // number it stands for, and the parport driver's text for the port's base address
    // (/proc/sys/dev/parport/parportN/base-addr: "888\t1912\n"): up to `size` bytes, or -1.
    char* (*realpath)(const char* path, char* resolved);
    int (*stat)(const char* path, struct stat* st);
    ssize_t (*read_text)(const char* path, char* buffer, std::size_t size);
};
PORTIO_EXPORT const PpdevSyscalls& RealPpdevSyscalls();
PORTIO_EXPORT base::Result<std::unique_ptr<Backend>> OpenPpdev(const std::string& device,
                                                               bool exclusive,
                                                               const PpdevSyscalls& sys);
// For tests: the calls PORTIO=ppdev:DEVICE opens with from now on (null: the real ones again).
PORTIO_EXPORT void UsePpdevSyscallsForTesting(const PpdevSyscalls* sys);

// For backends that trace their own cycles: one trace line (when tracing), e.g. "out8" 0x37a 0x28.
void TraceDeviceCycle(const char* op, std::uint16_t port, std::uint8_t value);

}  // namespace portio
