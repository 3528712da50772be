#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/portio/backends.h"
#include "platform/portio/portio.h"
#include "tests/platform/portio/fake_syscalls.h"
#include "tests/platform/portio/support.h"

namespace {

// What only the parallel-port driver does: its open and claim sequence, the calls each register
// access becomes, its ECR rule and its failing calls. What every backend does (cycles, direction,
// trace, refusals at a port the board is not at, the port claim) is in backend_family_test.cpp.
using portio_test::driver;
constexpr const portio::PpdevSyscalls& kFake = portio_test::kFakeDriver;
using Calls = std::vector<std::string>;

class PpdevBackend : public ::testing::Test {
protected:
    void SetUp() override {
        driver = portio_test::FakeDriver{};
        portio::SetFaultHandler(portio_test::ExitOnFault);
    }
    void TearDown() override { portio::SetFaultHandler(nullptr); }
    std::unique_ptr<portio::Backend> Open(bool exclusive = false) {
        std::string error;
        auto backend = portio::OpenPpdev("/dev/parport0", exclusive, kFake, &error);
        EXPECT_TRUE(backend) << error;
        driver.calls.clear();
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
    EXPECT_EQ(driver.open_flags, O_RDWR);
    EXPECT_EQ(driver.calls, (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES"}));
    driver.calls.clear();
    backend.reset();
    EXPECT_EQ(driver.calls, (Calls{"PPRELEASE", "close"}));

    driver = portio_test::FakeDriver{};
    backend = portio::OpenPpdev("/dev/parport0", true, kFake, &error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(driver.calls, (Calls{"open /dev/parport0", "PPEXCL", "PPCLAIM", "PPGETMODES"}));
}

TEST_F(PpdevBackend, OpenFailuresNameTheDeviceAndTheReason) {
    driver.open_errno = EACCES;
    std::string error = OpenError();
    EXPECT_NE(error.find("cannot open /dev/parport0: Permission denied"), std::string::npos)
        << error;
    EXPECT_EQ(driver.calls, (Calls{"open /dev/parport0"}));

    driver = portio_test::FakeDriver{};
    driver.ioctl_errno[PPCLAIM] = EBUSY;
    error = OpenError();
    EXPECT_NE(error.find("cannot claim /dev/parport0"), std::string::npos) << error;
    EXPECT_NE(error.find("Device or resource busy"), std::string::npos) << error;
    EXPECT_EQ(driver.calls, (Calls{"open /dev/parport0", "PPCLAIM", "close"}));

    driver = portio_test::FakeDriver{};
    driver.ioctl_errno[PPEXCL] = EBUSY;
    error = OpenError(true);
    EXPECT_NE(error.find("exclusive"), std::string::npos) << error;
    EXPECT_EQ(driver.calls, (Calls{"open /dev/parport0", "PPEXCL", "close"}));

    driver = portio_test::FakeDriver{};
    driver.ioctl_errno[PPGETMODES] = ENOTTY;
    error = OpenError();
    EXPECT_NE(error.find("PPGETMODES"), std::string::npos) << error;
    EXPECT_EQ(driver.calls,
              (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES", "PPRELEASE", "close"}));
}

TEST_F(PpdevBackend, APortThatCannotTristateIsRefused) {
    driver.modes = PARPORT_MODE_PCSPP;
    const std::string error = OpenError();
    EXPECT_NE(error.find("cannot tri-state its data lines"), std::string::npos) << error;
    EXPECT_EQ(driver.calls,
              (Calls{"open /dev/parport0", "PPCLAIM", "PPGETMODES", "PPRELEASE", "close"}));
}

TEST_F(PpdevBackend, DataAndStatusRegisters) {
    auto b = Open();
    b->Out8(0x378, 0x26);
    EXPECT_EQ(b->In8(0x378), 0x26);
    EXPECT_EQ(b->In8(0x379), 0x7F);
    b->Out8(0x379, 0x12);  // the status register ignores writes
    EXPECT_EQ(driver.calls, (Calls{"PPWDATA 0x26", "PPRDATA", "PPRSTATUS"}));
}

TEST_F(PpdevBackend, ControlLinesAndDataDirection) {
    auto b = Open();
    // The panel's start-up, a register write cycle and a frame handshake.
    for (std::uint8_t v : {0x20, 0x27, 0x08, 0x09, 0x08, 0x28, 0x22, 0x2F, 0x2B, 0x2A, 0x18}) {
        b->Out8(0x37A, v);
    }
    EXPECT_EQ(driver.calls,
              (Calls{
                  // first write, to inputs: the claimed port's lines learnt, then released first
                  "PPRCONTROL", "PPDATADIR 1", "PPWCONTROL 0000", "PPWCONTROL 0x07",
                  "PPWCONTROL 0x08", "PPDATADIR 0",  // lines, then outputs
                  "PPWCONTROL 0x09", "PPWCONTROL 0x08", "PPDATADIR 1",
                  "PPWCONTROL 0x08",  // 0x28: inputs first, then the lines
                  "PPWCONTROL 0x02", "PPWCONTROL 0x0f", "PPWCONTROL 0x0b", "PPWCONTROL 0x0a",
                  "PPWCONTROL 0x08", "PPDATADIR 0",  // 0x18: bit 4 is not sent
              }));
    // A read gives the driver's four lines (here as something else left them), the remembered
    // bits 4 and 5, and 1s above.
    driver.port.control = 0x0B;
    driver.calls.clear();
    EXPECT_EQ(b->In8(0x37A), 0xC0 | 0x10 | 0x0B);
    b->Out8(0x37A, 0x27);
    EXPECT_EQ(b->In8(0x37A), 0xC0 | 0x20 | 0x07);
    EXPECT_EQ(driver.calls, (Calls{"PPRCONTROL", "PPDATADIR 1", "PPWCONTROL 0x07", "PPRCONTROL"}));
}

TEST_F(PpdevBackend, FirstControlWriteWithOutputsStillTellsTheDirection) {
    auto b = Open();
    b->Out8(0x37A, 0x08);
    EXPECT_EQ(driver.calls, (Calls{"PPWCONTROL 0x08", "PPDATADIR 0"}));
}

TEST_F(PpdevBackend, EcrAcceptsByteModeOnly) {
    auto b = Open();
    EXPECT_EQ(b->In8(0x77A), 0x20);
    b->Out8(0x77A, 0x20);
    EXPECT_EQ(b->In8(0x77A), 0x20);
    b->Out8(0x77A, 0x35);  // mode 001 with other bits: accepted and read back
    EXPECT_EQ(b->In8(0x77A), 0x35);
    EXPECT_TRUE(driver.calls.empty());  // the ECR never reaches the driver
}

// With a handler that returns, a failing read floats, and a control write whose first call the
// driver refused does not go on to the second.
std::vector<std::string> g_faults;
void RecordFault(const base::Error& fault) { g_faults.push_back(fault.message); }

TEST_F(PpdevBackend, AFailingCycleWithAReturningHandlerFloats) {
    auto b = Open();
    g_faults.clear();
    portio::SetFaultHandler(RecordFault);
    driver.ioctl_errno[PPRDATA] = EIO;
    driver.ioctl_errno[PPWCONTROL] = EIO;
    EXPECT_EQ(b->In8(0x378), 0xFF);
    driver.calls.clear();
    b->Out8(0x37A, 0x08);  // to outputs: the lines go first
    EXPECT_EQ(driver.calls, Calls{"PPWCONTROL 0x08"});
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
    EXPECT_EXIT(b->In8(0x278), refused, "refusing in8 at port 0x0278");
}

TEST_F(PpdevBackendDeathTest, AFailingCycleNamesDeviceAndReason) {
    auto b = Open();
    driver.ioctl_errno[PPWDATA] = EIO;
    EXPECT_EXIT(b->Out8(0x378, 1), ::testing::ExitedWithCode(3),
                "PORTIO=ppdev:/dev/parport0: PPWDATA failed: Input/output error");
    driver.ioctl_errno[PPRDATA] = ENODEV;
    EXPECT_EXIT(b->In8(0x378), ::testing::ExitedWithCode(3), "PPRDATA failed: No such device");
}

}  // namespace
