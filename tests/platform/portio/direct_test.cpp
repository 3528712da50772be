#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/portio/backends.h"
#include "tests/platform/portio/support.h"

namespace {

// A fake of the kernel's port permission call and the port instructions. An instruction run in
// a death test ends the child with status 99, so "exit 3" proves none was run.
struct FakeKernel {
    std::vector<std::string> calls;
    int ioperm_errno = 0;            // the errno every ioperm call fails with (0: success)
    unsigned long fail_from = ~0ul;  // or only the call for this port fails
    bool instruction_kills = false;
    std::uint8_t in_byte = 0xA5;
    std::uint16_t in_word = 0xBEEF;
};
FakeKernel fake;

std::string Hex(unsigned v) {
    char t[16];
    std::snprintf(t, sizeof t, "%#x", v);
    return t;
}

int FakeIoperm(unsigned long from, unsigned long num, int on) {
    fake.calls.push_back("ioperm " + Hex(from) + " " + std::to_string(num) + " " +
                         std::to_string(on));
    if (on && fake.ioperm_errno != 0 && (fake.fail_from == ~0ul || fake.fail_from == from)) {
        errno = fake.ioperm_errno;
        return -1;
    }
    return 0;
}
void Instruction(const std::string& text) {
    if (fake.instruction_kills) _exit(99);
    fake.calls.push_back(text);
}
std::uint8_t FakeInb(std::uint16_t port) {
    Instruction("inb " + Hex(port));
    return fake.in_byte;
}
std::uint16_t FakeInw(std::uint16_t port) {
    Instruction("inw " + Hex(port));
    return fake.in_word;
}
void FakeOutb(std::uint8_t value, std::uint16_t port) {
    Instruction("outb " + Hex(value) + " " + Hex(port));
}
void FakeOutw(std::uint16_t value, std::uint16_t port) {
    Instruction("outw " + Hex(value) + " " + Hex(port));
}
constexpr portio::DirectSyscalls kFake = {FakeIoperm, FakeInb, FakeInw, FakeOutb, FakeOutw};

class DirectBackend : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeKernel{};
        portio::SetFaultHandler(portio_test::ExitOnFault);
    }
    void TearDown() override { portio::SetFaultHandler(nullptr); }
};

TEST_F(DirectBackend, RequestsExactlyTheBoardsPortsAndRunsTheInstructions) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"ioperm 0x378 3 1", "ioperm 0x77a 1 1"}));
    fake.calls.clear();
    backend->Out8(0x77A, 0x20);
    backend->Out8(0x37A, 0x27);
    backend->Out8(0x378, 0x26);
    EXPECT_EQ(backend->In8(0x378), 0xA5);
    EXPECT_EQ(backend->In8(0x379), 0xA5);
    EXPECT_EQ(backend->In8(0x37A), 0xA5);
    EXPECT_EQ(backend->In8(0x77A), 0xA5);
    // A word cycle at 0x378 or 0x379 stays inside the granted ports.
    EXPECT_EQ(backend->In16(0x378), 0xBEEF);
    backend->Out16(0x379, 0x1234);
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"outb 0x20 0x77a", "outb 0x27 0x37a", "outb 0x26 0x378",
                                        "inb 0x378", "inb 0x379", "inb 0x37a", "inb 0x77a",
                                        "inw 0x378", "outw 0x1234 0x379"}));
    EXPECT_EQ(backend->Operator(), nullptr);
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
        fake = FakeKernel{};
        fake.ioperm_errno = c.err;
        std::string error;
        EXPECT_FALSE(portio::OpenDirect(kFake, &error));
        EXPECT_EQ(error.rfind("PORTIO=direct: ", 0), 0u) << error;
        for (const std::string& w : c.wanted) EXPECT_NE(error.find(w), std::string::npos) << error;
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"ioperm 0x378 3 1"}));
    }
}

TEST_F(DirectBackend, ARefusedEcrGrantGivesBackTheFirst) {
    fake.ioperm_errno = EPERM;
    fake.fail_from = 0x77A;
    std::string error;
    EXPECT_FALSE(portio::OpenDirect(kFake, &error));
    EXPECT_NE(error.find("ioperm(0x77a, 1)"), std::string::npos) << error;
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"ioperm 0x378 3 1", "ioperm 0x77a 1 1",
                                                    "ioperm 0x378 3 0"}));
}

using DirectBackendDeathTest = DirectBackend;

TEST_F(DirectBackendDeathTest, AccessesOutsideTheGrantedPortsRunNoInstruction) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    fake.instruction_kills = true;
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

// A program whose fault handler returns keeps running: the refused cycle runs no instruction and
// a refused read sees floating lines.
std::vector<std::string> g_faults;
void RecordFault(const base::Error& fault) { g_faults.push_back(fault.message); }

TEST_F(DirectBackend, ARefusedCycleWithAReturningHandlerRunsNothingAndFloats) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    fake.calls.clear();
    g_faults.clear();
    portio::SetFaultHandler(RecordFault);
    fake.instruction_kills = true;  // an instruction would end the test
    EXPECT_EQ(backend->In8(0x37B), 0xFF);
    EXPECT_EQ(backend->In16(0x77A), 0xFFFF);
    backend->Out8(0x80, 1);
    backend->Out16(0x37A, 1);
    EXPECT_TRUE(fake.calls.empty());
    ASSERT_EQ(g_faults.size(), 4u);
    EXPECT_NE(g_faults[0].find("refusing in8 at port 0x037b"), std::string::npos) << g_faults[0];
    EXPECT_NE(g_faults[3].find("refusing out16 at port 0x037a-0x037b"), std::string::npos);
}

// The checked cycles tell a refusal themselves: no instruction, no report, the reason kept.
TEST_F(DirectBackend, CheckedCyclesRefuseWithoutAReportAndRunTheGrantedOnes) {
    std::string error;
    auto backend = portio::OpenDirect(kFake, &error);
    ASSERT_TRUE(backend) << error;
    fake.calls.clear();
    EXPECT_EQ(backend->CheckedIn8(0x378), 0xA5);
    EXPECT_EQ(backend->CheckedIn16(0x378), 0xBEEF);
    EXPECT_TRUE(backend->CheckedOut8(0x77A, 0x20));
    EXPECT_TRUE(backend->CheckedOut16(0x379, 0x1234));
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"inb 0x378", "inw 0x378", "outb 0x20 0x77a",
                                                    "outw 0x1234 0x379"}));
    fake.calls.clear();
    fake.instruction_kills = true;  // an instruction would end the test, a report exits with 3
    EXPECT_EQ(backend->CheckedIn8(0x37B), -1);
    EXPECT_EQ(portio::TakeCycleFault(),
              "PORTIO=direct: refusing in8 at port 0x037b: only ports 0x0378-0x037a and 0x077a "
              "were granted");
    EXPECT_EQ(backend->CheckedIn16(0x37A), -1);  // its second byte is not granted
    EXPECT_NE(portio::TakeCycleFault().find("refusing in16 at port 0x037a-0x037b"),
              std::string::npos);
    EXPECT_FALSE(backend->CheckedOut8(0x80, 1));
    EXPECT_NE(portio::TakeCycleFault().find("refusing out8 at port 0x0080"), std::string::npos);
    EXPECT_FALSE(backend->CheckedOut16(0xFFFF, 1));
    EXPECT_NE(portio::TakeCycleFault().find("refusing out16 at port 0xffff-0x0000"),
              std::string::npos);
}

TEST(DirectSyscalls, PresentExactlyOnX86) {
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_NE(portio::RealDirectSyscalls(), nullptr);
#else
    EXPECT_EQ(portio::RealDirectSyscalls(), nullptr);
#endif
}

}  // namespace
