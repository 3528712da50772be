#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/portio/backends.h"
#include "tests/platform/portio/fake_syscalls.h"
#include "tests/platform/portio/support.h"

namespace {

// What only the x86 instructions do: the grants they ask for and the refusals they tell apart.
// What every backend does (cycles, direction, trace, refusals at a port the board is not at, the
// port claim) is in backend_family_test.cpp.
using portio_test::kernel;
using Calls = std::vector<std::string>;
constexpr const portio::DirectSyscalls& kFake = portio_test::kFakeKernel;

class DirectBackend : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = portio_test::FakeKernel{};
        portio::SetFaultHandler(portio_test::ExitOnFault);
    }
    void TearDown() override { portio::SetFaultHandler(nullptr); }
};

TEST_F(DirectBackend, RequestsExactlyTheBoardsPortsAndRunsTheInstructionsThere) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(kernel.calls, (Calls{"ioperm 0x378 3 1", "ioperm 0x77a 1 1"}));
    kernel.calls.clear();
    backend->Out8(0x77A, 0x35);
    backend->Out8(0x37A, 0x27);
    backend->Out8(0x378, 0x26);
    EXPECT_EQ(backend->In8(0x378), 0xFF);  // the lines are inputs (0x27) and float
    EXPECT_EQ(backend->In8(0x379), 0x7F);
    EXPECT_EQ(backend->In8(0x37A), 0x27);
    EXPECT_EQ(backend->In8(0x77A), 0x35);
    // A word cycle at 0x378 or 0x379 stays inside the granted ports.
    EXPECT_EQ(backend->In16(0x379), 0x277F);
    backend->Out16(0x379, 0x1234);
    EXPECT_EQ(kernel.calls,
              (Calls{"outb 0x35 0x77a", "outb 0x27 0x37a", "outb 0x26 0x378", "inb 0x378",
                     "inb 0x379", "inb 0x37a", "inb 0x77a", "inw 0x379", "outw 0x1234 0x379"}));
}

TEST_F(DirectBackend, RefusalsAreToldApart) {
    struct Case {
        int err;
        std::vector<std::string> wanted;
    };
    const Case cases[] = {
        {EPERM, {"ioperm(0x378, 3)", "needs root or CAP_SYS_RAWIO", "locked down"}},
        {ENOSYS,
         {"ioperm(0x378, 3)", "the kernel has no port permissions at all",
          "use PORTIO=ppdev:/dev/parport0"}},
        {EINVAL, {"ioperm(0x378, 3) failed", "Invalid argument"}},
    };
    for (const Case& c : cases) {
        kernel = portio_test::FakeKernel{};
        kernel.ioperm_errno = c.err;
        std::string error;
        EXPECT_FALSE(portio::OpenDirect(kFake, &error));
        EXPECT_EQ(error.rfind("PORTIO=direct: ", 0), 0u) << error;
        for (const std::string& w : c.wanted) EXPECT_NE(error.find(w), std::string::npos) << error;
        EXPECT_EQ(kernel.calls, Calls{"ioperm 0x378 3 1"});
    }
}

TEST_F(DirectBackend, ARefusedEcrGrantGivesBackTheFirst) {
    kernel.ioperm_errno = EPERM;
    kernel.fail_from = 0x77A;
    std::string error;
    EXPECT_FALSE(portio::OpenDirect(kFake, &error));
    EXPECT_NE(error.find("ioperm(0x77a, 1)"), std::string::npos) << error;
    EXPECT_EQ(kernel.calls, (Calls{"ioperm 0x378 3 1", "ioperm 0x77a 1 1", "ioperm 0x378 3 0"}));
}

using DirectBackendDeathTest = DirectBackend;

TEST_F(DirectBackendDeathTest, AccessesOutsideTheGrantedPortsRunNoInstruction) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    kernel.instruction_kills = true;
    const auto refused = ::testing::ExitedWithCode(3);
    EXPECT_EXIT(backend->In8(0x37B), refused, "refusing in8 at port 0x037b: only ports");
    EXPECT_EXIT(backend->Out8(0x377, 1), refused, "refusing out8 at port 0x0377");
    EXPECT_EXIT(backend->Out8(0x77B, 1), refused, "refusing out8 at port 0x077b");
    EXPECT_EXIT(backend->Out8(0x80, 1), refused, "refusing out8 at port 0x0080");
    // A word cycle touches two ports; the second one must be granted as well.
    EXPECT_EXIT(backend->Out16(0x37A, 1), refused, "refusing out16 at port 0x037a-0x037b");
    EXPECT_EXIT(backend->In16(0x77A), refused, "refusing in16 at port 0x077a-0x077b");
    EXPECT_EXIT(backend->In16(0xFFFF), refused, "refusing in16 at port 0xffff-0x0000");
    // And inside them the instruction does run (the fake ends the child with 99).
    EXPECT_EXIT(backend->Out8(0x378, 1), ::testing::ExitedWithCode(99), "");
}

// A word cycle whose second byte is not granted is refused whole, plain (with a handler that
// returns: the read floats) or checked (the refusal comes back without a report), and runs no
// instruction.
std::vector<std::string> g_faults;
void RecordFault(const base::Error& fault) { g_faults.push_back(fault.message); }

TEST_F(DirectBackend, AWordCycleHalfOutsideTheGrantsIsRefusedWhole) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    kernel.calls.clear();
    g_faults.clear();
    portio::SetFaultHandler(RecordFault);
    kernel.instruction_kills = true;  // an instruction would end the test
    EXPECT_EQ(backend->In8(0x37B), 0xFF);
    EXPECT_EQ(backend->In16(0x77A), 0xFFFF);
    backend->Out16(0x37A, 1);
    ASSERT_EQ(g_faults.size(), 3u);
    EXPECT_EQ(g_faults[0],
              "PORTIO=direct: refusing in8 at port 0x037b: only ports 0x0378-0x037a and 0x077a "
              "were granted");
    EXPECT_NE(g_faults[1].find("refusing in16 at port 0x077a-0x077b"), std::string::npos);
    EXPECT_NE(g_faults[2].find("refusing out16 at port 0x037a-0x037b"), std::string::npos);
    g_faults.clear();
    EXPECT_EQ(backend->CheckedIn16(0x37A), -1);
    EXPECT_NE(portio::TakeCycleFault().find("refusing in16 at port 0x037a-0x037b"),
              std::string::npos);
    EXPECT_FALSE(backend->CheckedOut16(0xFFFF, 1));
    EXPECT_NE(portio::TakeCycleFault().find("refusing out16 at port 0xffff-0x0000"),
              std::string::npos);
    EXPECT_TRUE(g_faults.empty());
    EXPECT_TRUE(kernel.calls.empty());
}

TEST(DirectSyscalls, PresentExactlyOnX86) {
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_NE(portio::RealDirectSyscalls(), nullptr);
#else
    EXPECT_EQ(portio::RealDirectSyscalls(), nullptr);
#endif
}

}  // namespace
