#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/portio/backend_registry.h"
#include "platform/portio/backends.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/port_claim.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define PORTIO_HAS_PORT_INSTRUCTIONS 1
#endif

namespace portio {

namespace {

// The ports the board is wired to: data, status and control at the base, and the ECR.
struct Grant {
    unsigned long from;
    unsigned long count;
};
constexpr Grant kGrants[] = {{kDataPort, 3}, {kEcrPort, 1}};

std::string Hex4(unsigned port) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", port & 0xFFFF);
    return text;
}

std::string RefusalText(const Grant& g, int err) {
    char call[40];
    std::snprintf(call, sizeof call, "ioperm(0x%lx, %lu)", g.from, g.count);
    const std::string prefix = std::string("PORTIO=direct: ") + call;
    switch (err) {
        case EPERM:
            return prefix +
                   " was refused: port access needs root or CAP_SYS_RAWIO, or the kernel is "
                   "locked down (" +
                   std::strerror(err) + ")";
        case ENOSYS:
            return prefix +
                   " is not available: the kernel has no port permissions at all; use "
                   "PORTIO=ppdev:/dev/parport0";
        default:
            return prefix + " failed: " + std::strerror(err);
    }
}

class DirectBackend final : public Backend {
public:
    explicit DirectBackend(const DirectSyscalls& sys) : sys_(sys) {}

    std::uint8_t In8(std::uint16_t port) override {
        if (!Granted(port, 1)) return Refuse("in8", port, 1), 0xFF;
        return sys_.inb(port);
    }
    std::uint16_t In16(std::uint16_t port) override {
        if (!Granted(port, 2)) return Refuse("in16", port, 2), 0xFFFF;
        return sys_.inw(port);
    }
    void Out8(std::uint16_t port, std::uint8_t value) override {
        if (!Granted(port, 1)) return Refuse("out8", port, 1);
        sys_.outb(value, port);
    }
    void Out16(std::uint16_t port, std::uint16_t value) override {
        if (!Granted(port, 2)) return Refuse("out16", port, 2);
        sys_.outw(value, port);
    }
    int CheckedIn8(std::uint16_t port) override {
        if (!Granted(port, 1)) return SetCycleFault(Refusal("in8", port, 1)), -1;
        return sys_.inb(port);
    }
    std::int32_t CheckedIn16(std::uint16_t port) override {
        if (!Granted(port, 2)) return SetCycleFault(Refusal("in16", port, 2)), -1;
        return sys_.inw(port);
    }
    bool CheckedOut8(std::uint16_t port, std::uint8_t value) override {
        if (!Granted(port, 1)) return SetCycleFault(Refusal("out8", port, 1)), false;
        sys_.outb(value, port);
        return true;
    }
    bool CheckedOut16(std::uint16_t port, std::uint16_t value) override {
        if (!Granted(port, 2)) return SetCycleFault(Refusal("out16", port, 2)), false;
        sys_.outw(value, port);
        return true;
    }

private:
    // A cycle is allowed only when every byte it touches was granted: the processor checks each
    // one, and a refused instruction kills the process with SIGSEGV.
    static bool Granted(std::uint16_t port, unsigned width) {
        for (const Grant& g : kGrants) {
            if (port >= g.from && port + width <= g.from + g.count) return true;
        }
        return false;
    }

    [[gnu::cold]] static std::string Refusal(const char* op, std::uint16_t port, unsigned width) {
        std::string where = "port " + Hex4(port);
        if (width > 1) where += "-" + Hex4(port + width - 1);
        return std::string("PORTIO=direct: refusing ") + op + " at " + where + ": only ports " +
               Hex4(kDataPort) + "-" + Hex4(kControlPort) + " and " + Hex4(kEcrPort) +
               " were granted";
    }
    [[gnu::cold]] static void Refuse(const char* op, std::uint16_t port, unsigned width) {
        ReportFault(Refusal(op, port, width));
    }

    DirectSyscalls sys_;
};

#ifdef PORTIO_HAS_PORT_INSTRUCTIONS
int RealIoperm(unsigned long from, unsigned long num, int turn_on) {
    return ::ioperm(from, num, turn_on);
}
std::uint8_t RealInb(std::uint16_t port) { return ::inb(port); }
std::uint16_t RealInw(std::uint16_t port) { return ::inw(port); }
void RealOutb(std::uint8_t value, std::uint16_t port) { ::outb(value, port); }
void RealOutw(std::uint16_t value, std::uint16_t port) { ::outw(value, port); }
constexpr DirectSyscalls kRealDirect = {RealIoperm, RealInb, RealInw, RealOutb, RealOutw};
#endif

// What PORTIO=direct opens with: the real calls unless a test put its fake in.
std::atomic<const DirectSyscalls*> g_syscalls{nullptr};

base::Result<std::unique_ptr<Backend>> OpenChosen(const std::string&) {
    const DirectSyscalls* sys = g_syscalls.load();
    if (sys == nullptr) sys = RealDirectSyscalls();
    if (sys == nullptr) {
        return base::Fail(
            "PORTIO=direct: this processor has no I/O port instructions (x86 only); use "
            "PORTIO=ppdev:/dev/parport0 or PORTIO=sim");
    }
    return OpenDirect(*sys);
}

// The port at its base address, named by it as every way to it names it.
base::Result<PortLock> Lock(const std::string&) {
    return PortLock{PortName(), PortLockPath(kPortBase)};
}

const BackendRegistrar kRegistrar({
    .name = "direct",
    .argument = nullptr,
    .help = "x86 port instructions after ioperm (root or CAP_SYS_RAWIO)",
    .open = OpenChosen,
    .lock = Lock,
});

}  // namespace

void UseDirectSyscallsForTesting(const DirectSyscalls* sys) { g_syscalls.store(sys); }

const DirectSyscalls* RealDirectSyscalls() {
#ifdef PORTIO_HAS_PORT_INSTRUCTIONS
    return &kRealDirect;
#else
    return nullptr;
#endif
}

base::Result<std::unique_ptr<Backend>> OpenDirect(const DirectSyscalls& sys) {
    for (std::size_t i = 0; i < sizeof kGrants / sizeof kGrants[0]; ++i) {
        const Grant& g = kGrants[i];
        errno = 0;
        if (sys.ioperm(g.from, g.count, 1) != 0) {
            const int err = errno;
            // Give back what was granted before; a failure there changes nothing for us.
            for (std::size_t j = 0; j < i; ++j) sys.ioperm(kGrants[j].from, kGrants[j].count, 0);
            return base::Fail(RefusalText(g, err));
        }
    }
    return std::unique_ptr<Backend>(std::make_unique<DirectBackend>(sys));
}

}  // namespace portio
