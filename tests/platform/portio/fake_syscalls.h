// Fakes of what the hardware backends call, over one model of a PC parallel port with the board's
// lines on it, so that a test sees what each call did in the backend's own terms (`calls`: the
// instructions or the driver's ioctls) and what the port saw (`port.wire`: one line per cycle, in
// the trace's format). No real port is ever touched.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/portio/backends.h"

namespace portio_test {

// The port's registers as the PC sees them at 0x378 (data), 0x379 (status), 0x37a (control) and
// 0x77a (ECR). With control bit 5 set the data lines are inputs and read what the board drives.
struct FakePort {
    std::vector<std::string> wire;
    std::uint8_t data = 0;  // the data latch, kept while the lines are inputs
    std::uint8_t control = 0x0B;
    std::uint8_t status = 0x7F;
    std::uint8_t ecr = 0x20;
    std::uint8_t driven = 0xFF;  // what the board drives onto the data lines (nothing: they float)

    static std::string Line(const char* op, unsigned port, unsigned value, int digits) {
        char text[32];
        std::snprintf(text, sizeof text, "%s 0x%04x 0x%0*x", op, port, digits, value);
        return text;
    }
    std::uint8_t Register(std::uint16_t port) const {
        switch (port) {
            case 0x378:
                return (control & 0x20) != 0 ? driven : data;
            case 0x379:
                return status;
            case 0x37A:
                return control;
            case 0x77A:
                return ecr;
            default:
                return 0xFF;
        }
    }
    void SetRegister(std::uint16_t port, std::uint8_t value) {
        if (port == 0x378) data = value;
        if (port == 0x37A) control = value;
        if (port == 0x77A) ecr = value;
    }
    std::uint8_t In8(std::uint16_t port) {
        const std::uint8_t value = Register(port);
        wire.push_back(Line("in8", port, value, 2));
        return value;
    }
    void Out8(std::uint16_t port, std::uint8_t value) {
        SetRegister(port, value);
        wire.push_back(Line("out8", port, value, 2));
    }
    // A word cycle reaches the port and the one after it, as the bus splits it.
    std::uint16_t In16(std::uint16_t port) {
        const std::uint16_t value = static_cast<std::uint16_t>(
            Register(port) | Register(static_cast<std::uint16_t>(port + 1)) << 8);
        wire.push_back(Line("in16", port, value, 4));
        return value;
    }
    void Out16(std::uint16_t port, std::uint16_t value) {
        SetRegister(port, static_cast<std::uint8_t>(value));
        SetRegister(static_cast<std::uint16_t>(port + 1), static_cast<std::uint8_t>(value >> 8));
        wire.push_back(Line("out16", port, value, 4));
    }
};

inline std::string HexText(unsigned v) {
    char t[16];
    std::snprintf(t, sizeof t, "%#x", v);
    return t;
}

// The kernel's port permission call and the port instructions. An instruction run in a death
// test ends the child with status 99, so "exit 3" proves none was run.
struct FakeKernel {
    std::vector<std::string> calls;
    int ioperm_errno = 0;            // the errno every ioperm call fails with (0: success)
    unsigned long fail_from = ~0ul;  // or only the call for this port fails
    bool instruction_kills = false;
    FakePort port;
};
inline FakeKernel kernel;

inline int FakeIoperm(unsigned long from, unsigned long num, int on) {
    kernel.calls.push_back("ioperm " + HexText(static_cast<unsigned>(from)) + " " +
                           std::to_string(num) + " " + std::to_string(on));
    if (on && kernel.ioperm_errno != 0 && (kernel.fail_from == ~0ul || kernel.fail_from == from)) {
        errno = kernel.ioperm_errno;
        return -1;
    }
    return 0;
}
inline void Instruction(const std::string& text) {
    if (kernel.instruction_kills) _exit(99);
    kernel.calls.push_back(text);
}
inline std::uint8_t FakeInb(std::uint16_t port) {
    Instruction("inb " + HexText(port));
    return kernel.port.In8(port);
}
inline std::uint16_t FakeInw(std::uint16_t port) {
    Instruction("inw " + HexText(port));
    return kernel.port.In16(port);
}
inline void FakeOutb(std::uint8_t value, std::uint16_t port) {
    Instruction("outb " + HexText(value) + " " + HexText(port));
    kernel.port.Out8(port, value);
}
inline void FakeOutw(std::uint16_t value, std::uint16_t port) {
    Instruction("outw " + HexText(value) + " " + HexText(port));
    kernel.port.Out16(port, value);
}
inline constexpr portio::DirectSyscalls kFakeKernel = {FakeIoperm, FakeInb, FakeInw, FakeOutb,
                                                       FakeOutw};

// The parallel-port driver: it records every call, can refuse any of them, and moves the port's
// lines as the driver would (PPWCONTROL sets the four control lines, PPDATADIR bit 5; each is
// one write of the control register; PPRCONTROL reads the four lines without a cycle). Its
// devices and the driver's description of their ports are a small file system of their own:
// /dev/parport0 (port 0 at 0x378) and /dev/parport1 (port 1 at 0x278), a link /dev/lp-board to
// /dev/parport0, and a regular file /dev/not-a-port.
inline constexpr int kFakeFd = 42;
struct FakeDriver {
    std::vector<std::string> calls;
    int open_errno = 0;
    std::map<unsigned long, int> ioctl_errno;  // request -> errno to fail with
    unsigned int modes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE;
    int open_flags = -1;
    FakePort port;
    std::map<std::string, std::string> links = {{"/dev/lp-board", "/dev/parport0"}};
    std::map<std::string, dev_t> devices = {{"/dev/parport0", makedev(99, 0)},
                                            {"/dev/parport1", makedev(99, 1)},
                                            {"/dev/not-a-port", 0}};
    std::map<std::string, std::string> texts = {
        {"/proc/sys/dev/parport/parport0/base-addr", "888\t1912\n"},
        {"/proc/sys/dev/parport/parport1/base-addr", "632\t1656\n"}};
};
inline FakeDriver driver;

inline std::string Hex2(unsigned v) {
    char t[16];
    std::snprintf(t, sizeof t, "%#04x", v);
    return t;
}

inline int FakeOpen(const char* path, int flags) {
    driver.calls.push_back(std::string("open ") + path);
    driver.open_flags = flags;
    if (driver.open_errno != 0) {
        errno = driver.open_errno;
        return -1;
    }
    return kFakeFd;
}

inline int FakeIoctl(int fd, unsigned long request, void* arg) {
    EXPECT_EQ(fd, kFakeFd);
    auto byte = [arg] { return static_cast<unsigned char*>(arg); };
    std::string call;
    const auto failure = driver.ioctl_errno.find(request);
    const bool fails = failure != driver.ioctl_errno.end();
    FakePort& port = driver.port;
    switch (request) {
        case PPEXCL:
            call = "PPEXCL";
            break;
        case PPCLAIM:
            call = "PPCLAIM";
            break;
        case PPRELEASE:
            call = "PPRELEASE";
            break;
        case PPGETMODES:
            call = "PPGETMODES";
            *static_cast<unsigned int*>(arg) = driver.modes;
            break;
        case PPWDATA:
            call = "PPWDATA " + Hex2(*byte());
            if (!fails) port.Out8(0x378, *byte());
            break;
        case PPRDATA:
            call = "PPRDATA";
            if (!fails) *byte() = port.In8(0x378);
            break;
        case PPRSTATUS:
            call = "PPRSTATUS";
            if (!fails) *byte() = port.In8(0x379);
            break;
        case PPWCONTROL:
            call = "PPWCONTROL " + Hex2(*byte());
            if (!fails)
                port.Out8(0x37A,
                          static_cast<std::uint8_t>((port.control & 0xF0) | (*byte() & 0x0F)));
            break;
        case PPRCONTROL:
            call = "PPRCONTROL";
            *byte() = port.control & 0x0F;
            break;
        case PPDATADIR:
            call = "PPDATADIR " + std::to_string(*static_cast<int*>(arg));
            if (!fails) {
                port.Out8(0x37A, static_cast<std::uint8_t>((port.control & ~0x20) |
                                                           (*static_cast<int*>(arg) ? 0x20 : 0)));
            }
            break;
        default:
            call = "ioctl " + Hex2(static_cast<unsigned>(request));
            break;
    }
    driver.calls.push_back(call);
    if (fails) {
        errno = failure->second;
        return -1;
    }
    return 0;
}

inline int FakeClose(int fd) {
    EXPECT_EQ(fd, kFakeFd);
    driver.calls.push_back("close");
    return 0;
}

// Doubled slashes and the fake's links resolved; ENOENT for a path it does not have.
inline char* FakeRealpath(const char* path, char* resolved) {
    std::string p;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c != '/' || p.empty() || p.back() != '/') p += *c;
    if (const auto link = driver.links.find(p); link != driver.links.end()) p = link->second;
    if (driver.devices.count(p) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    std::snprintf(resolved, PATH_MAX, "%s", p.c_str());
    return resolved;
}

inline int FakeStat(const char* path, struct stat* st) {
    const auto device = driver.devices.find(path);
    if (device == driver.devices.end()) {
        errno = ENOENT;
        return -1;
    }
    *st = {};
    st->st_mode = device->second != 0 ? S_IFCHR | 0660 : S_IFREG | 0644;
    st->st_rdev = device->second;
    return 0;
}

inline ssize_t FakeReadText(const char* path, char* buffer, std::size_t size) {
    const auto text = driver.texts.find(path);
    if (text == driver.texts.end()) {
        errno = ENOENT;
        return -1;
    }
    const std::size_t n = std::min(size, text->second.size());
    std::memcpy(buffer, text->second.data(), n);
    return static_cast<ssize_t>(n);
}

inline constexpr portio::PpdevSyscalls kFakeDriver = {FakeOpen,     FakeIoctl, FakeClose,
                                                      FakeRealpath, FakeStat,  FakeReadText};

}  // namespace portio_test
