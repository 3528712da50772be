#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/portio/backends.h"
#include "platform/portio/portio.h"
#include "tests/platform/portio/support.h"

namespace {

constexpr int kFd = 42;

// A fake of the parallel-port driver: it records every call and can refuse any of them.
struct FakeDriver {
    std::vector<std::string> calls;
    int open_errno = 0;
    std::map<unsigned long, int> ioctl_errno;  // request -> errno to fail with
    unsigned int modes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE;
    unsigned char data_in = 0x5A;
    unsigned char status_in = 0x78;
    unsigned char control_in = 0x0B;
    int open_flags = -1;
};
FakeDriver fake;

std::string Hex(unsigned v) {
    char t[16];
    std::snprintf(t, sizeof t, "%#04x", v);
    return t;
}

int FakeOpen(const char* path, int flags) {
    fake.calls.push_back(std::string("open ") + path);
    fake.open_flags = flags;
    if (fake.open_errno != 0) {
        errno = fake.open_errno;
        return -1;
    }
    return kFd;
}

int FakeIoctl(int fd, unsigned long request, void* arg) {
    EXPECT_EQ(fd, kFd);
    std::string call;
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
            *static_cast<unsigned int*>(arg) = fake.modes;
            break;
        case PPWDATA:
            call = "PPWDATA " + Hex(*static_cast<unsigned char*>(arg));
            break;
        case PPRDATA:
            call = "PPRDATA";
            *static_cast<unsigned char*>(arg) = fake.data_in;
            break;
        case PPRSTATUS:
            call = "PPRSTATUS";
            *static_cast<unsigned char*>(arg) = fake.status_in;
            break;
        case PPWCONTROL:
            call = "PPWCONTROL " + Hex(*static_cast<unsigned char*>(arg));
            break;
        case PPRCONTROL:
            call = "PPRCONTROL";
            *static_cast<unsigned char*>(arg) = fake.control_in;
            break;
        case PPDATADIR:
            call = "PPDATADIR " + std::to_string(*static_cast<int*>(arg));
            break;
        default:
            call = "ioctl " + Hex(static_cast<unsigned>(request));
            break;
    }
    fake.calls.push_back(call);
    auto failure = fake.ioctl_errno.find(request);
    if (failure != fake.ioctl_errno.end()) {
        errno = failure->second;
        return -1;
    }
    return 0;
}

int FakeClose(int fd) {
    EXPECT_EQ(fd, kFd);
    fake.calls.push_back("close");
    return 0;
}

constexpr portio::PpdevSyscalls kFake = {FakeOpen, FakeIoctl, FakeClose};
using Calls = std::vector<std::string>;

class PpdevBackend : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeDriver{};
        portio::SetFaultHandler(portio_test::ExitOnFault);
    }
    void TearDown() override { portio::SetFaultHandler(nullptr); }
    std::unique_ptr<portio::Backend> Open(bool exclusive = false) {
        std::string error;
        auto backend = portio::OpenPpdev("/dev/parport0", exclusive, kFake, &error);
        EXPECT_TRUE(backend) << error;
        fake.calls.clear();
        return backend;
    }
    std::string OpenError(bool exclusive = false) {
        std::string error;
        EXPECT_FALSE(portio::OpenPpdev("/dev/parport0", exclusive, kFake, &error));
        EXPECT_EQ(error.rfind("PORTIO=ppdev:/dev/parport0: ", 0), 0u) << error;
        return error;
    }
};

TEST_F(PpdevBackend, OpensClaimsChecksTristateAndReleasesAtTheEnd) {
    std::string error;
    auto backend = portio::OpenPpdev("/dev/parport0", false, kFake, &error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(fake.open_flags, O_RDWR);
    EXPECT_EQ(fake.calls, (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES"}));
    fake.calls.clear();
    backend.reset();
    EXPECT_EQ(fake.calls, (Calls{"PPRELEASE", "close"}));

    fake = FakeDriver{};
    backend = portio::OpenPpdev("/dev/parport0", true, kFake, &error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(fake.calls, (Calls{"open /dev/parport0", "PPEXCL", "PPCLAIM", "PPGETMODES"}));
}

TEST_F(PpdevBackend, OpenFailuresNameTheDeviceAndTheReason) {
    fake.open_errno = EACCES;
    std::string error = OpenError();
    EXPECT_NE(error.find("cannot open /dev/parport0: Permission denied"), std::string::npos)
        << error;
    EXPECT_EQ(fake.calls, (Calls{"open /dev/parport0"}));

    fake = FakeDriver{};
    fake.ioctl_errno[PPCLAIM] = EBUSY;
    error = OpenError();
    EXPECT_NE(error.find("cannot claim /dev/parport0"), std::string::npos) << error;
    EXPECT_NE(error.find("Device or resource busy"), std::string::npos) << error;
    EXPECT_EQ(fake.calls, (Calls{"open /dev/parport0", "PPCLAIM", "close"}));

    fake = FakeDriver{};
    fake.ioctl_errno[PPEXCL] = EBUSY;
    error = OpenError(true);
    EXPECT_NE(error.find("exclusive"), std::string::npos) << error;
    EXPECT_EQ(fake.calls, (Calls{"open /dev/parport0", "PPEXCL", "close"}));

    fake = FakeDriver{};
    fake.ioctl_errno[PPGETMODES] = ENOTTY;
    error = OpenError();
    EXPECT_NE(error.find("PPGETMODES"), std::string::npos) << error;
    EXPECT_EQ(fake.calls,
              (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES", "PPRELEASE", "close"}));
}

TEST_F(PpdevBackend, APortThatCannotTristateIsRefused) {
    fake.modes = PARPORT_MODE_PCSPP;
    const std::string error = OpenError();
    EXPECT_NE(error.find("cannot tri-state its data lines"), std::string::npos) << error;
    EXPECT_EQ(fake.calls,
              (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES", "PPRELEASE", "close"}));
}

TEST_F(PpdevBackend, DataAndStatusRegisters) {
    auto b = Open();
    b->Out8(0x378, 0x26);
    EXPECT_EQ(b->In8(0x378), 0x5A);
    EXPECT_EQ(b->In8(0x379), 0x78);
    b->Out8(0x379, 0x12);  // the status register ignores writes
    EXPECT_EQ(fake.calls, (Calls{"PPWDATA 0x26", "PPRDATA", "PPRSTATUS"}));
}

TEST_F(PpdevBackend, ControlLinesAndDataDirection) {
    auto b = Open();
    // The panel's start-up, a register write cycle and a frame handshake.
    for (std::uint8_t v : {0x20, 0x27, 0x08, 0x09, 0x08, 0x28, 0x22, 0x2F, 0x2B, 0x2A, 0x18}) {
        b->Out8(0x37A, v);
    }
    EXPECT_EQ(fake.calls,
              (Calls{
                  // first write, to inputs: the claimed port's lines learnt, then released first
                  "PPRCONTROL", "PPDATADIR 1", "PPWCONTROL 0000", "PPWCONTROL 0x07",
                  "PPWCONTROL 0x08", "PPDATADIR 0",  // lines, then outputs
                  "PPWCONTROL 0x09", "PPWCONTROL 0x08", "PPDATADIR 1",
                  "PPWCONTROL 0x08",  // 0x28: inputs first, then the lines
                  "PPWCONTROL 0x02", "PPWCONTROL 0x0f", "PPWCONTROL 0x0b", "PPWCONTROL 0x0a",
                  "PPWCONTROL 0x08", "PPDATADIR 0",  // 0x18: bit 4 is not sent
              }));
    // A read gives the driver's four lines, the remembered bits 4 and 5, and 1s above.
    fake.calls.clear();
    EXPECT_EQ(b->In8(0x37A), 0xC0 | 0x10 | 0x0B);
    b->Out8(0x37A, 0x27);
    EXPECT_EQ(b->In8(0x37A), 0xC0 | 0x20 | 0x0B);
    EXPECT_EQ(fake.calls, (Calls{"PPRCONTROL", "PPDATADIR 1", "PPWCONTROL 0x07", "PPRCONTROL"}));
}

TEST_F(PpdevBackend, FirstControlWriteWithOutputsStillTellsTheDirection) {
    auto b = Open();
    b->Out8(0x37A, 0x08);
    EXPECT_EQ(fake.calls, (Calls{"PPWCONTROL 0x08", "PPDATADIR 0"}));
}

TEST_F(PpdevBackend, EcrAcceptsByteModeOnly) {
    auto b = Open();
    EXPECT_EQ(b->In8(0x77A), 0x20);
    b->Out8(0x77A, 0x20);
    EXPECT_EQ(b->In8(0x77A), 0x20);
    b->Out8(0x77A, 0x35);  // mode 001 with other bits: accepted and read back
    EXPECT_EQ(b->In8(0x77A), 0x35);
    EXPECT_TRUE(fake.calls.empty());  // the ECR never reaches the driver
}

// The trace holds one line per driver call that makes a cycle, with the whole control register
// as the port gets it, so that it reads as what a board on the port saw.
TEST_F(PpdevBackend, TraceShowsEachCycleAsThePortSeesIt) {
    char dir[] = "/tmp/ppdev-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string trace = std::string(dir) + "/trace";
    fake.control_in = 0x0C;  // as the driver leaves the lines when the port is claimed
    portio::InstallBackendForTesting(Open(), trace);
    portio::Out8(0x77A, 0x20);  // answered by the backend: no cycle
    for (std::uint8_t v : {0x20, 0x27, 0x08, 0x09, 0x28, 0x22, 0x1B}) portio::Out8(0x37A, v);
    portio::Out8(0x378, 0x26);
    EXPECT_EQ(portio::In8(0x378), 0x5A);
    EXPECT_EQ(portio::In8(0x379), 0x78);
    portio::In8(0x37A);         // the driver's copy: no cycle
    portio::Out8(0x379, 0x12);  // ignored by the port: no cycle
    portio::ResetForTesting();
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "out8 0x037a 0x2c\nout8 0x037a 0x20\n"  // 0x20: released, then the lines
              "out8 0x037a 0x27\n"
              "out8 0x037a 0x28\nout8 0x037a 0x08\n"  // 0x08: the lines, then driven
              "out8 0x037a 0x09\n"
              "out8 0x037a 0x29\nout8 0x037a 0x28\n"  // 0x28
              "out8 0x037a 0x22\n"
              "out8 0x037a 0x2b\nout8 0x037a 0x0b\n"  // 0x1b: bit 4 is not sent
              "out8 0x0378 0x26\nin8 0x0378 0x5a\nin8 0x0379 0x78\n");
    std::remove(trace.c_str());
    rmdir(dir);
}

// With a handler that returns, a failing read floats, and a control write whose first call the
// driver refused does not go on to the second.
std::vector<std::string> g_faults;
void RecordFault(const base::Error& fault) { g_faults.push_back(fault.message); }

TEST_F(PpdevBackend, AFailingCycleWithAReturningHandlerFloats) {
    auto b = Open();
    g_faults.clear();
    portio::SetFaultHandler(RecordFault);
    fake.ioctl_errno[PPRDATA] = EIO;
    fake.ioctl_errno[PPWCONTROL] = EIO;
    EXPECT_EQ(b->In8(0x378), 0xFF);
    fake.calls.clear();
    b->Out8(0x37A, 0x08);  // to outputs: the lines go first
    EXPECT_EQ(fake.calls, Calls{"PPWCONTROL 0x08"});
    EXPECT_EQ(b->In16(0x378), 0xFFFF);
    ASSERT_EQ(g_faults.size(), 3u);
    EXPECT_EQ(g_faults[0], "PORTIO=ppdev:/dev/parport0: PPRDATA failed: Input/output error");
}

using PpdevBackendDeathTest = PpdevBackend;

TEST_F(PpdevBackendDeathTest, RefusedAccessesExitWithStatus3) {
    auto b = Open();
    const auto refused = ::testing::ExitedWithCode(3);
    for (std::uint8_t mode : {0x00, 0x40, 0x60, 0x80, 0xE0}) {
        EXPECT_EXIT(b->Out8(0x77A, mode), refused,
                    "/dev/parport0: refusing to write .* to the ECR .*change the port's mode");
    }
    EXPECT_EXIT(b->Out16(0x378, 0x1234), refused,
                "/dev/parport0: refusing out16 at port 0x0378: .*no 16-bit cycle");
    EXPECT_EXIT(b->In16(0x378), refused, "refusing in16 at port 0x0378");
    EXPECT_EXIT(b->Out8(0x37B, 0), refused, "refusing out8 at port 0x037b");
    EXPECT_EXIT(b->In8(0x278), refused, "refusing in8 at port 0x0278");
}

TEST_F(PpdevBackendDeathTest, AFailingCycleNamesDeviceAndReason) {
    auto b = Open();
    fake.ioctl_errno[PPWDATA] = EIO;
    EXPECT_EXIT(b->Out8(0x378, 1), ::testing::ExitedWithCode(3),
                "PORTIO=ppdev:/dev/parport0: PPWDATA failed: Input/output error");
    fake.ioctl_errno[PPRDATA] = ENODEV;
    EXPECT_EXIT(b->In8(0x378), ::testing::ExitedWithCode(3), "PPRDATA failed: No such device");
}

}  // namespace
