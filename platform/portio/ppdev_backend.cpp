#include <fcntl.h>
#include <limits.h>
#include <linux/major.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/chip/sx540.h"
#include "platform/portio/backend_registry.h"
#include "platform/portio/backends.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/port_claim.h"

namespace portio {

namespace {

constexpr std::uint8_t kControlLines = 0x0F;  // strobe, autofeed, init, select-in
constexpr std::uint8_t kIrqEnable = 0x10;
constexpr std::uint8_t kDirection = chip::kDataInputBit;  // 1 = data lines are inputs
using chip::kEcrByteMode;                                 // mode field 001

std::string Hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

class PpdevBackend final : public Backend {
public:
    PpdevBackend(std::string device, int fd, const PpdevSyscalls& sys)
        : device_(std::move(device)), fd_(fd), sys_(sys) {}

    // Hands the port back to the driver; nothing useful can be done about a failure here.
    ~PpdevBackend() override {
        sys_.ioctl(fd_, PPRELEASE, nullptr);
        sys_.close(fd_);
    }

    bool TracesOwnCycles() const override { return true; }

    std::uint8_t In8(std::uint16_t port) override {
        unsigned char value = 0;
        switch (port) {
            case kDataPort:
                if (!Ioctl(PPRDATA, &value, "PPRDATA")) return 0xFF;
                TraceDeviceCycle("in8", kDataPort, value);
                return value;
            case kStatusPort:
                if (!Ioctl(PPRSTATUS, &value, "PPRSTATUS")) return 0xFF;
                TraceDeviceCycle("in8", kStatusPort, value);
                return value;
            case kControlPort:
                // The driver returns only the four control lines; the direction and interrupt
                // bits read back as last written and the unused top bits as 1.
                if (!Ioctl(PPRCONTROL, &value, "PPRCONTROL")) return 0xFF;
                return static_cast<std::uint8_t>((value & kControlLines) |
                                                 (control_ & (kIrqEnable | kDirection)) | 0xC0);
            case kEcrPort:
                return ecr_;
            default:
                Refuse("in8", port);
                return 0xFF;
        }
    }

    void Out8(std::uint16_t port, std::uint8_t value) override {
        switch (port) {
            case kDataPort: {
                unsigned char byte = value;
                if (Ioctl(PPWDATA, &byte, "PPWDATA")) TraceDeviceCycle("out8", kDataPort, value);
                return;
            }
            case kStatusPort:
                return;  // the status register ignores writes
            case kControlPort:
                WriteControl(value);
                return;
            case kEcrPort:
                if ((value & 0xE0) != kEcrByteMode) {
                    return ReportFault(
                        Prefix() + "refusing to write " + Hex(value, 2) +
                        " to the ECR (0x077a): mode " + ModeBits(value) +
                        " would change the port's mode under the driver; only byte mode "
                        "(bits 7..5 = 001, e.g. 0x20) is allowed");
                }
                ecr_ = value;
                return;
            default:
                Refuse("out8", port);
                return;
        }
    }

    std::uint16_t In16(std::uint16_t port) override {
        RefuseWord("in16", port);
        return 0xFFFF;
    }
    void Out16(std::uint16_t port, std::uint16_t) override { RefuseWord("out16", port); }

private:
    // Each PPWCONTROL and each PPDATADIR is one write of the whole control register: the four
    // lines and the direction as the driver holds them (bit 4 is not ours to set).
    void WriteControl(std::uint8_t value) {
        const std::uint8_t lines = value & kControlLines;
        const bool reverse = (value & kDirection) != 0;
        if (direction_known_ && reverse == reverse_) {
            if (!SetLines(lines)) return;
        } else if (reverse) {
            // Data lines are released first and driven last: the step between the two cycles never
            // drives them, so no strobe there can latch a byte in a state the program never set.
            if (!direction_known_ && !ReadLines()) return;
            if (!SetDirection(true) || !SetLines(lines)) return;
        } else {
            if (!SetLines(lines) || !SetDirection(false)) return;
        }
        control_ = value;
    }

    bool SetLines(std::uint8_t lines) {
        unsigned char arg = lines;
        if (!Ioctl(PPWCONTROL, &arg, "PPWCONTROL")) return false;
        lines_ = lines;
        TraceDeviceCycle("out8", kControlPort, static_cast<std::uint8_t>(lines_ | Direction()));
        return true;
    }

    bool SetDirection(bool reverse) {
        int arg = reverse ? 1 : 0;
        if (!Ioctl(PPDATADIR, &arg, "PPDATADIR")) return false;
        reverse_ = reverse;
        direction_known_ = true;
        TraceDeviceCycle("out8", kControlPort, static_cast<std::uint8_t>(lines_ | Direction()));
        return true;
    }

    // The lines as the driver left them when it was claimed (a read makes no cycle).
    bool ReadLines() {
        unsigned char value = 0;
        if (!Ioctl(PPRCONTROL, &value, "PPRCONTROL")) return false;
        lines_ = value & kControlLines;
        return true;
    }

    std::uint8_t Direction() const { return reverse_ ? kDirection : 0; }

    // False, with the fault reported, when the driver refuses the call.
    bool Ioctl(unsigned long request, void* arg, const char* name) {
        if (sys_.ioctl(fd_, request, arg) == 0) return true;
        ReportFault(Prefix() + name + " failed: " + std::strerror(errno));
        return false;
    }

    std::string Prefix() const { return "PORTIO=ppdev:" + device_ + ": "; }

    static std::string ModeBits(std::uint8_t value) {
        std::string bits;
        for (int b = 7; b >= 5; --b) bits += (value >> b & 1) ? '1' : '0';
        return bits;
    }

    [[gnu::cold]] void Refuse(const char* op, std::uint16_t port) const {
        ReportFault(Prefix() + "refusing " + op + " at port " + Hex(port, 4) +
                    ": the port presents only " + Hex(kDataPort, 4) + " (data), " +
                    Hex(kStatusPort, 4) + " (status), " + Hex(kControlPort, 4) + " (control) and " +
                    Hex(kEcrPort, 4) + " (ECR)");
    }
    [[gnu::cold]] void RefuseWord(const char* op, std::uint16_t port) const {
        ReportFault(Prefix() + "refusing " + op + " at port " + Hex(port, 4) +
                    ": the parallel-port driver has no 16-bit cycle");
    }

    std::string device_;
    int fd_;
    PpdevSyscalls sys_;
    std::uint8_t control_ = 0;  // as last written by the program
    std::uint8_t lines_ = 0;    // the four lines and the direction as the driver holds them
    bool reverse_ = false;      // a freshly claimed port drives its data lines
    bool direction_known_ = false;
    std::uint8_t ecr_ = kEcrByteMode;
};

int RealOpen(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int RealIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
int RealClose(int fd) { return ::close(fd); }
char* RealRealpath(const char* path, char* resolved) { return ::realpath(path, resolved); }
int RealStat(const char* path, struct stat* st) { return ::stat(path, st); }
ssize_t RealReadText(const char* path, char* buffer, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    ssize_t n;
    while ((n = ::read(fd, buffer, size)) < 0 && errno == EINTR) {
    }
    const int err = errno;
    ::close(fd);
    errno = err;
    return n;
}
constexpr PpdevSyscalls kRealPpdev = {RealOpen,     RealIoctl, RealClose,
                                      RealRealpath, RealStat,  RealReadText};

// What PORTIO=ppdev:DEVICE opens with: the real calls unless a test put its fake in.
std::atomic<const PpdevSyscalls*> g_syscalls{nullptr};

const PpdevSyscalls& Chosen() {
    const PpdevSyscalls* sys = g_syscalls.load();
    return sys != nullptr ? *sys : kRealPpdev;
}

base::Result<std::unique_ptr<Backend>> OpenChosen(const std::string& device) {
    const char* exclusive = std::getenv("PORTIO_EXCLUSIVE");
    const bool exclusive_on = exclusive != nullptr && std::string(exclusive) == "1";
    return OpenPpdev(device, exclusive_on, Chosen());
}

// The lock of the port the device stands for, named after the port's base address as the driver
// tells it (a ppdev device's minor number is its port's number), so that PORTIO=direct on the same
// port and every spelling of the device take the same lock: /dev/parport0 of a port at 0x378 is
// lensbay-port-0x378.
base::Result<PortLock> Lock(const std::string& device) {
    const PpdevSyscalls& sys = Chosen();
    const std::string prefix = "PORTIO=ppdev:" + device + ": ";
    char canonical[PATH_MAX];
    struct stat st {};
    if (sys.realpath(device.c_str(), canonical) == nullptr || sys.stat(canonical, &st) != 0)
        return base::Fail(prefix + "cannot open " + device + ": " + std::strerror(errno));
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != PP_MAJOR) {
        return base::Fail(prefix + "'" + canonical +
                          "' is not a device of the parallel-port driver (ppdev, major " +
                          std::to_string(PP_MAJOR) + ")");
    }
    const std::string text_path =
        "/proc/sys/dev/parport/parport" + std::to_string(minor(st.st_rdev)) + "/base-addr";
    char text[64];
    const ssize_t n = sys.read_text(text_path.c_str(), text, sizeof text - 1);
    if (n < 0) {
        return base::Fail(prefix + "cannot read the port's base address from " + text_path + ": " +
                          std::strerror(errno));
    }
    text[n] = '\0';
    char* end = nullptr;
    errno = 0;
    const unsigned long base = std::strtoul(text, &end, 10);
    if (end == text || errno != 0 || base == 0 || (*end != '\t' && *end != '\n' && *end != ' ')) {
        return base::Fail(prefix + "cannot read the port's base address from " + text_path +
                          ": it holds no address");
    }
    return PortLock{PortName(base) + " (" + canonical + ")", PortLockPath(base)};
}

const BackendRegistrar kRegistrar({
    .name = "ppdev",
    .argument = "/dev/parportN",
    .help = "the Linux parallel-port driver (access to the device: group lp)",
    .open = OpenChosen,
    .lock = Lock,
});

}  // namespace

const PpdevSyscalls& RealPpdevSyscalls() { return kRealPpdev; }

void UsePpdevSyscallsForTesting(const PpdevSyscalls* sys) { g_syscalls.store(sys); }

base::Result<std::unique_ptr<Backend>> OpenPpdev(const std::string& device, bool exclusive,
                                                 const PpdevSyscalls& sys) {
    const std::string prefix = "PORTIO=ppdev:" + device + ": ";
    const int fd = sys.open(device.c_str(), O_RDWR);
    if (fd < 0) {
        return base::Fail(prefix + "cannot open " + device + ": " + std::strerror(errno));
    }
    auto fail = [&](const std::string& text, bool claimed) -> base::Error {
        if (claimed) sys.ioctl(fd, PPRELEASE, nullptr);
        sys.close(fd);
        return base::Fail(prefix + text);
    };
    if (exclusive && sys.ioctl(fd, PPEXCL, nullptr) != 0) {
        return fail(
            "cannot get exclusive access (PPEXCL) to " + device + ": " + std::strerror(errno),
            false);
    }
    if (sys.ioctl(fd, PPCLAIM, nullptr) != 0) {
        return fail("cannot claim " + device + " (PPCLAIM): " + std::strerror(errno), false);
    }
    unsigned int modes = 0;
    if (sys.ioctl(fd, PPGETMODES, &modes) != 0) {
        return fail("cannot read the modes of " + device + " (PPGETMODES): " + std::strerror(errno),
                    true);
    }
    if ((modes & PARPORT_MODE_TRISTATE) == 0) {
        return fail(device +
                        " cannot tri-state its data lines (no PARPORT_MODE_TRISTATE), so the "
                        "camera's pixel bytes cannot be read through it",
                    true);
    }
    return std::unique_ptr<Backend>(std::make_unique<PpdevBackend>(device, fd, sys));
}

}  // namespace portio
