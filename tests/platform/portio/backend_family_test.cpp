// What every port backend must do the same way, run over each one a test can drive: the simulated
// board, the x86 instructions over a fake kernel and the parallel-port driver over a fake driver
// (fake_syscalls.h). Each is chosen by name through PORTIO, as a program chooses it, so the table
// that names them is in the way too. Where a backend legitimately differs (the driver has no word
// cycle and turns the data lines around in two steps; the simulated board answers every port) the
// instance says so. What belongs to one backend alone stays in its own test file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/portio/backend_registry.h"
#include "platform/portio/backends.h"
#include "platform/portio/port_claim.h"
#include "platform/portio/portio.h"
#include "tests/platform/portio/fake_syscalls.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Lines LinesOf(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// One backend of the family, and what is its own in the cases below.
struct Member {
    std::string name;
    std::string portio;
    bool has_operator;
    // Makes the next open fail, and the message it fails with (or its start).
    std::function<void()> refuse_open;
    std::function<std::string()> open_refusal;
    // The cycles the port saw (null when the backend is its own port).
    std::function<Lines()> wire;
    // The faults of in8, in16, out8 and out16 at port 0x0080, which the board does not decode
    // (empty: the cycles are run, and the lines float).
    Lines foreign_faults;
    // The fault of a word cycle at the data port ("": the backend carries word cycles).
    std::string word_fault;
    // The trace of the panel's start-up and a register write cycle (see PanelSequence).
    Lines panel_trace;
    // The trace of a turn of the data lines to inputs and back (see DirectionChanges).
    Lines direction_trace;
    // The port a claim names, and its lock file in the test's folder.
    std::function<std::string()> claimed_port;
    std::string lock_file;
};

// A failing case names its backend, not the bytes of its instance.
void PrintTo(const Member& m, std::ostream* os) { *os << m.name; }

// The trace of a backend the service traces: one line per call.
const Lines kPanelTraceByCall = {
    "out8 0x077a 0x20", "out8 0x037a 0x20", "out8 0x037a 0x27", "out8 0x037a 0x08",
    "out8 0x037a 0x09", "out8 0x037a 0x28", "out8 0x037a 0x22", "out8 0x037a 0x1b",
    "out8 0x0378 0x26", "in8 0x0378 0x26",  "in8 0x0379 0x7f",  "in8 0x037a 0x1b",
    "out8 0x0379 0x12",
};
const Lines kDirectionTraceByCall = {
    "out8 0x037a 0x24", "in8 0x0378 0xff", "in8 0x037a 0x24",
    "out8 0x037a 0x04", "in8 0x0378 0x26", "in8 0x037a 0x04",
};

const Member kSim{
    .name = "sim",
    .portio = "sim",
    .has_operator = true,
    .refuse_open = [] { std::ofstream(Env("LENSBAY_SIM_STATE")) << "not a board\n"; },
    .open_refusal =
        [] {
            return "the simulated board's state '" + Env("LENSBAY_SIM_STATE") + "' is damaged (";
        },
    .wire = nullptr,
    .foreign_faults = {},
    .word_fault = "",
    .panel_trace = kPanelTraceByCall,
    .direction_trace = kDirectionTraceByCall,
    .claimed_port =
        [] { return "0x378 (the simulated board kept in " + Env("LENSBAY_SIM_STATE") + ")"; },
    .lock_file = "sim-board.port",
};

const std::string kGranted = ": only ports 0x0378-0x037a and 0x077a were granted";
const Member kDirect{
    .name = "direct",
    .portio = "direct",
    .has_operator = false,
    .refuse_open = [] { portio_test::kernel.ioperm_errno = EPERM; },
    .open_refusal = [] { return std::string("PORTIO=direct: ioperm(0x378, 3) was refused"); },
    .wire = [] { return portio_test::kernel.port.wire; },
    .foreign_faults = {"PORTIO=direct: refusing in8 at port 0x0080" + kGranted,
                       "PORTIO=direct: refusing in16 at port 0x0080-0x0081" + kGranted,
                       "PORTIO=direct: refusing out8 at port 0x0080" + kGranted,
                       "PORTIO=direct: refusing out16 at port 0x0080-0x0081" + kGranted},
    .word_fault = "",
    .panel_trace = kPanelTraceByCall,
    .direction_trace = kDirectionTraceByCall,
    .claimed_port = [] { return std::string("0x378"); },
    .lock_file = "lensbay-port-0x378",
};

const std::string kPpdev = "PORTIO=ppdev:/dev/parport0: ";
const std::string kPresents =
    ": the port presents only 0x0378 (data), 0x0379 (status), 0x037a (control) and 0x077a (ECR)";
const std::string kNoWords = ": the parallel-port driver has no 16-bit cycle";
const Member kPpdevMember{
    .name = "ppdev",
    .portio = "ppdev:/dev/parport0",
    .has_operator = false,
    .refuse_open = [] { portio_test::driver.open_errno = EACCES; },
    .open_refusal = [] { return kPpdev + "cannot open /dev/parport0: Permission denied"; },
    .wire = [] { return portio_test::driver.port.wire; },
    .foreign_faults = {kPpdev + "refusing in8 at port 0x0080" + kPresents,
                       kPpdev + "refusing in16 at port 0x0080" + kNoWords,
                       kPpdev + "refusing out8 at port 0x0080" + kPresents,
                       kPpdev + "refusing out16 at port 0x0080" + kNoWords},
    .word_fault = kPpdev + "refusing out16 at port 0x0378" + kNoWords,
    // The driver's calls as the port sees them: a write that turns the data lines around is two
    // cycles, released first and driven last; its first one starts from the lines the claimed
    // port had (0x0b); bit 4 is not the program's to send; the ECR, a control read and a status
    // write are answered without a cycle.
    .panel_trace =
        {
            "out8 0x037a 0x2b", "out8 0x037a 0x20",                    // 0x20
            "out8 0x037a 0x27",                                        //
            "out8 0x037a 0x28", "out8 0x037a 0x08",                    // 0x08
            "out8 0x037a 0x09",                                        //
            "out8 0x037a 0x29", "out8 0x037a 0x28",                    // 0x28
            "out8 0x037a 0x22",                                        //
            "out8 0x037a 0x2b", "out8 0x037a 0x0b",                    // 0x1b
            "out8 0x0378 0x26", "in8 0x0378 0x26", "in8 0x0379 0x7f",  //
        },
    .direction_trace =
        {
            "out8 0x037a 0x24", "out8 0x037a 0x24", "in8 0x0378 0xff",  // 0x24: released first
            "out8 0x037a 0x24", "out8 0x037a 0x04", "in8 0x0378 0x26",  // 0x04: driven last
        },
    .claimed_port = [] { return std::string("0x378 (/dev/parport0)"); },
    .lock_file = "lensbay-port-0x378",
};

std::vector<std::string> g_faults;
void RecordFault(const base::Error& fault) { g_faults.push_back(fault.message); }

class BackendFamily : public ::testing::TestWithParam<Member> {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        for (const char* name : {"PORTIO", "PORTIO_TRACE", "PORTIO_EXCLUSIVE", "LENSBAY_SIM_STATE",
                                 "LENSBAY_LOCK_DIR"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v != nullptr ? std::optional<std::string>(v) : std::nullopt});
        }
        // The fakes stand in for both hardware backends whichever is chosen: no test reaches a
        // real port or device.
        portio::UseDirectSyscallsForTesting(&portio_test::kFakeKernel);
        portio::UsePpdevSyscallsForTesting(&portio_test::kFakeDriver);
        portio_test::kernel = portio_test::FakeKernel{};
        portio_test::driver = portio_test::FakeDriver{};
        ::setenv("PORTIO", GetParam().portio.c_str(), 1);
        ::setenv("PORTIO_TRACE", dir_.File("trace").c_str(), 1);
        ::unsetenv("PORTIO_EXCLUSIVE");
        ::setenv("LENSBAY_SIM_STATE", dir_.File("sim-board").c_str(), 1);
        ::setenv("LENSBAY_LOCK_DIR", dir_.path().c_str(), 1);
        portio::ResetForTesting();
        g_faults.clear();
        portio::SetFaultHandler(RecordFault);
    }
    void TearDown() override {
        portio::ResetForTesting();
        portio::SetFaultHandler(nullptr);
        portio::UseDirectSyscallsForTesting(nullptr);
        portio::UsePpdevSyscallsForTesting(nullptr);
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    const Member& member() const { return GetParam(); }
    Lines Trace() const { return LinesOf(ReadAll(dir_.File("trace"))); }
    Lines Wire() const { return member().wire ? member().wire() : Lines{}; }
    // Opens the backend and drives the data lines (control 0x04, no strobe, no frame start), then
    // forgets what that did: the cases start from a port in a known state.
    void OpenSettled() {
        ASSERT_TRUE(portio::Initialize().ok());
        portio::Out8(0x37A, 0x04);
        settled_trace_ = Trace().size();
        portio_test::kernel.port.wire.clear();
        portio_test::driver.port.wire.clear();
    }
    Lines TraceSinceSettled() const {
        const Lines all = Trace();
        return Lines(all.begin() + static_cast<long>(std::min(settled_trace_, all.size())),
                     all.end());
    }

    test_support::TempDir dir_{"backend-family"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    std::size_t settled_trace_ = 0;
};

TEST_P(BackendFamily, OpensByItsNameAndARefusedOpenRunsNoCycle) {
    const base::Result<> opened = portio::Initialize();
    ASSERT_TRUE(opened.ok()) << opened.message();
    EXPECT_EQ(portio::ChosenBackend(), member().portio);
    EXPECT_EQ(portio::Operator() != nullptr, member().has_operator);
    portio::ResetForTesting();

    portio_test::kernel = portio_test::FakeKernel{};
    portio_test::driver = portio_test::FakeDriver{};
    member().refuse_open();
    const base::Result<> refused = portio::Initialize();
    ASSERT_FALSE(refused.ok());
    const std::string why = refused.message();
    EXPECT_EQ(why.rfind(member().open_refusal(), 0), 0u) << why;
    // Every cycle after it is refused with the same reason, and none reaches the port.
    portio::Out8(0x378, 0x26);
    EXPECT_EQ(g_faults, Lines{why});
    EXPECT_EQ(portio::CheckedIn8(0x379), -1);
    EXPECT_EQ(portio::TakeCycleFault(), why);
    EXPECT_FALSE(portio::CheckedOut8(0x37A, 0x27));
    EXPECT_EQ(portio::TakeCycleFault(), why);
    EXPECT_EQ(Wire(), Lines{});
    EXPECT_EQ(Trace(), Lines{});
    EXPECT_EQ(portio::Operator(), nullptr);
}

TEST_P(BackendFamily, ByteCyclesReachThePortInOrder) {
    OpenSettled();
    portio::Out8(0x378, 0x26);
    EXPECT_EQ(portio::In8(0x378), 0x26);  // driven lines read back the program's own byte
    EXPECT_EQ(portio::In8(0x379), 0x7F);
    portio::Out8(0x378, 0xC3);
    EXPECT_EQ(portio::CheckedIn8(0x378), 0xC3);
    EXPECT_TRUE(portio::CheckedOut8(0x378, 0x5A));
    EXPECT_EQ(portio::In8(0x378), 0x5A);
    const Lines cycles = {"out8 0x0378 0x26", "in8 0x0378 0x26", "in8 0x0379 0x7f",
                          "out8 0x0378 0xc3", "in8 0x0378 0xc3", "out8 0x0378 0x5a",
                          "in8 0x0378 0x5a"};
    EXPECT_EQ(TraceSinceSettled(), cycles);
    if (member().wire) {
        EXPECT_EQ(Wire(), cycles);
    }
    EXPECT_EQ(g_faults, Lines{});
}

TEST_P(BackendFamily, AWordCycleIsCarriedWholeOrRefusedWhole) {
    OpenSettled();
    portio::Out16(0x378, 0x1234);  // 0x34 to the data latch, 0x12 to the status port
    const std::uint16_t read = portio::In16(0x378);
    const bool written = portio::CheckedOut16(0x378, 0x2143);
    const std::int32_t checked = portio::CheckedIn16(0x378);
    if (member().word_fault.empty()) {
        EXPECT_EQ(read, 0x7F34);
        EXPECT_TRUE(written);
        EXPECT_EQ(checked, 0x7F43);
        const Lines cycles = {"out16 0x0378 0x1234", "in16 0x0378 0x7f34", "out16 0x0378 0x2143",
                              "in16 0x0378 0x7f43"};
        EXPECT_EQ(TraceSinceSettled(), cycles);
        if (member().wire) {
            EXPECT_EQ(Wire(), cycles);
        }
        EXPECT_EQ(g_faults, Lines{});
    } else {
        // Not split into byte cycles behind the program's back: nothing reaches the port.
        EXPECT_EQ(read, 0xFFFF);
        EXPECT_FALSE(written);
        EXPECT_EQ(checked, -1);
        EXPECT_NE(portio::TakeCycleFault().find("refusing in16 at port 0x0378"), std::string::npos);
        ASSERT_EQ(g_faults.size(), 2u);
        EXPECT_EQ(g_faults[0], member().word_fault);
        EXPECT_NE(g_faults[1].find("refusing in16 at port 0x0378"), std::string::npos);
        EXPECT_EQ(Wire(), Lines{});
        EXPECT_EQ(TraceSinceSettled(), Lines{});
    }
}

// Control bit 5 turns the data lines into inputs (they float high with nothing driving them) and
// back; the byte last written is still latched when they are driven again, and the control
// register reads back the direction it was given.
TEST_P(BackendFamily, DirectionChangesTurnTheDataLinesAround) {
    OpenSettled();
    portio::Out8(0x378, 0x26);
    settled_trace_ = Trace().size();
    portio_test::kernel.port.wire.clear();
    portio_test::driver.port.wire.clear();
    portio::Out8(0x37A, 0x24);
    EXPECT_EQ(portio::In8(0x378), 0xFF);
    EXPECT_EQ(portio::In8(0x37A) & 0x2F, 0x24);
    portio::Out8(0x37A, 0x04);
    EXPECT_EQ(portio::In8(0x378), 0x26);
    EXPECT_EQ(portio::In8(0x37A) & 0x2F, 0x04);
    EXPECT_EQ(TraceSinceSettled(), member().direction_trace);
    if (member().wire) {
        EXPECT_EQ(Wire(), member().direction_trace);
    }
    EXPECT_EQ(g_faults, Lines{});
}

// The panel's start-up and one register write cycle, then reads of each register: the trace has
// one line per cycle the port saw, in the trace's own format.
TEST_P(BackendFamily, TheTraceIsTheCyclesThePortSaw) {
    portio::Out8(0x77A, 0x20);
    for (std::uint8_t v : {0x20, 0x27, 0x08, 0x09, 0x28, 0x22, 0x1B}) portio::Out8(0x37A, v);
    portio::Out8(0x378, 0x26);
    EXPECT_EQ(portio::In8(0x378), 0x26);
    EXPECT_EQ(portio::In8(0x379), 0x7F);
    EXPECT_EQ(portio::In8(0x37A) & 0x2F, 0x0B);
    portio::Out8(0x379, 0x12);  // the status port ignores writes
    EXPECT_EQ(g_faults, Lines{});
    EXPECT_EQ(Trace(), member().panel_trace);
    if (member().wire) {
        EXPECT_EQ(Wire(), member().panel_trace);
    }
}

// A port the board is not at: a backend that can tell refuses the cycle before it reaches any
// port, through the program's handler for a plain cycle and back to the caller for a checked one,
// with the same words; the simulated board runs it and the lines float.
TEST_P(BackendFamily, CyclesAtAPortTheBoardIsNotAtAreRefusedOrFloat) {
    OpenSettled();
    EXPECT_EQ(portio::In8(0x80), 0xFF);
    EXPECT_EQ(portio::In16(0x80), 0xFFFF);
    portio::Out8(0x80, 1);
    portio::Out16(0x80, 2);
    EXPECT_EQ(g_faults, member().foreign_faults);
    g_faults.clear();

    const int in8 = portio::CheckedIn8(0x80);
    const std::string in8_fault = portio::TakeCycleFault();
    const std::int32_t in16 = portio::CheckedIn16(0x80);
    const std::string in16_fault = portio::TakeCycleFault();
    const bool out8 = portio::CheckedOut8(0x80, 1);
    const std::string out8_fault = portio::TakeCycleFault();
    const bool out16 = portio::CheckedOut16(0x80, 2);
    const std::string out16_fault = portio::TakeCycleFault();
    if (member().foreign_faults.empty()) {
        EXPECT_EQ(in8, 0xFF);
        EXPECT_EQ(in16, 0xFFFF);
        EXPECT_TRUE(out8);
        EXPECT_TRUE(out16);
        EXPECT_EQ((Lines{in8_fault, in16_fault, out8_fault, out16_fault}), Lines(4));
    } else {
        EXPECT_EQ(in8, -1);
        EXPECT_EQ(in16, -1);
        EXPECT_FALSE(out8);
        EXPECT_FALSE(out16);
        EXPECT_EQ((Lines{in8_fault, in16_fault, out8_fault, out16_fault}), member().foreign_faults);
    }
    EXPECT_EQ(g_faults, Lines{}) << "a checked cycle's refusal reached the handler";
    EXPECT_EQ(Wire(), Lines{});
}

// One user of a port at a time: a second claim, in this process or another, is refused at once
// with the port and the holder; the port is free again when the claim ends.
TEST_P(BackendFamily, ASecondSessionOnThePortIsRefusedAtOnce) {
    const std::string holder =
        std::string(program_invocation_short_name) + ", process " + std::to_string(::getpid());
    const std::string in_use = "the port " + member().claimed_port() + " is in use by " + holder;
    const std::string lock = dir_.File(member().lock_file);
    {
        const auto first = portio::ClaimPort();
        ASSERT_TRUE(first.ok()) << first.message();
        EXPECT_EQ(ReadAll(lock), std::string(program_invocation_short_name) + " " +
                                     std::to_string(::getpid()) + "\n");
        const auto second = portio::ClaimPort();
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.message(), in_use);
        EXPECT_EXIT(
            {
                const auto other = portio::ClaimPort();
                std::fprintf(stderr, "%s\n", other ? "claimed" : other.message().c_str());
                std::_Exit(!other && other.message() == in_use ? 7 : 1);
            },
            ::testing::ExitedWithCode(7), "is in use by");
    }
    EXPECT_EQ(ReadAll(lock), "");  // nobody is named after the holder is gone
    EXPECT_TRUE(portio::ClaimPort().ok());
}

// Another process holds the port (its lock taken by hand here, its name in the file): the first
// cycle of this one claims the port before the backend opens, so every cycle is refused with the
// holder's name, the port and the board are never reached, and the refusal is not kept: once the
// holder is gone the next cycle claims the port and is made.
TEST_P(BackendFamily, TheFirstCycleClaimsThePortAndAPortInUseIsNeverTouched) {
    const std::string lock = dir_.File(member().lock_file);
    const int holder = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::write(holder, "holder 4242\n", 12), 12);
    const std::string in_use =
        "the port " + member().claimed_port() + " is in use by holder, process 4242";

    EXPECT_FALSE(portio::CheckedOut8(0x37A, 0x08));
    EXPECT_EQ(portio::TakeCycleFault(), in_use);
    EXPECT_EQ(portio::CheckedIn8(0x379), -1);
    EXPECT_EQ(portio::TakeCycleFault(), in_use);
    portio::Out8(0x378, 0x26);
    EXPECT_EQ(g_faults, Lines{in_use});
    EXPECT_EQ(Trace(), Lines{});
    EXPECT_EQ(Wire(), Lines{});
    EXPECT_EQ(portio_test::driver.calls, Lines{}) << "the device was opened";
    EXPECT_EQ(portio_test::kernel.calls, Lines{}) << "port access was asked for";
    EXPECT_FALSE(std::filesystem::exists(dir_.File("sim-board"))) << "the board was touched";
    EXPECT_EQ(ReadAll(lock), "holder 4242\n");

    ::close(holder);
    EXPECT_TRUE(portio::CheckedOut8(0x37A, 0x08)) << portio::TakeCycleFault();
    EXPECT_EQ(ReadAll(lock),
              std::string(program_invocation_short_name) + " " + std::to_string(::getpid()) + "\n");
}

// A process holds one claim for all its users (the port objects and sessions): it stays while
// any of them lives, and the last one to end closes the backend and gives the port up; a later
// cycle claims it again.
TEST_P(BackendFamily, ThePortIsHeldWhileItsUsersLiveAndGivenUpByTheLast) {
    const std::string lock = dir_.File(member().lock_file);
    const std::string me =
        std::string(program_invocation_short_name) + " " + std::to_string(::getpid()) + "\n";
    auto first = std::make_unique<portio::PortUser>();
    auto second = std::make_unique<portio::PortUser>();
    portio::Out8(0x37A, 0x04);
    EXPECT_EQ(ReadAll(lock), me);
    {
        const auto session = portio::ClaimPort();  // joins the claim the cycle took
        ASSERT_TRUE(session.ok()) << session.message();
    }
    first.reset();
    EXPECT_EQ(ReadAll(lock), me);
    EXPECT_EXIT(std::_Exit(portio::ClaimPort().ok() ? 1 : 7), ::testing::ExitedWithCode(7), "");
    second.reset();
    EXPECT_EQ(ReadAll(lock), "");
    EXPECT_EXIT(std::_Exit(portio::ClaimPort().ok() ? 7 : 1), ::testing::ExitedWithCode(7), "");
    if (member().name == "ppdev") {
        EXPECT_EQ(portio_test::driver.calls.back(), "close") << "the device was not handed back";
    }
    const portio::PortUser again;
    portio::Out8(0x37A, 0x04);
    EXPECT_EQ(ReadAll(lock), me);
    EXPECT_EQ(g_faults, Lines{});
}

INSTANTIATE_TEST_SUITE_P(EveryBackend, BackendFamily,
                         ::testing::Values(kSim, kDirect, kPpdevMember),
                         [](const ::testing::TestParamInfo<Member>& info) {
                             return info.param.name;
                         });

// The table the family is chosen from: every backend linked in and registered once.
TEST(BackendTable, HoldsEveryBackendOnceTheDefaultFirst) {
    Lines names;
    for (const portio::BackendEntry& e : portio::RegisteredBackends()) {
        names.push_back(e.name);
        EXPECT_NE(std::string(e.help), "") << e.name;
        EXPECT_NE(e.open, nullptr) << e.name;
        EXPECT_NE(e.lock, nullptr) << e.name;
    }
    EXPECT_EQ(names, (Lines{"sim", "direct", "ppdev"}));
    EXPECT_EQ(portio::AcceptedBackends(),
              "PORTIO=sim (the default when unset), PORTIO=direct or PORTIO=ppdev:/dev/parportN");
    EXPECT_EQ(portio::BackendHelp(2),
              "  sim                   the simulated SX540 evaluation board (the default)\n"
              "  direct                x86 port instructions after ioperm (root or CAP_SYS_RAWIO)\n"
              "  ppdev:/dev/parportN   the Linux parallel-port driver (access to the device: "
              "group lp)\n");
}

TEST(BackendTable, FindsANameAloneOrANameWithItsArgument) {
    std::string argument = "left over";
    const portio::BackendEntry* e = portio::FindBackend("direct", &argument);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(e->name), "direct");
    EXPECT_EQ(argument, "");
    e = portio::FindBackend("ppdev:/dev/parport1", &argument);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(e->name), "ppdev");
    EXPECT_EQ(argument, "/dev/parport1");
    // No argument where one is needed, one where none is taken, or a name not quite right.
    for (const char* wrong : {"ppdev", "ppdev:", "direct:/dev/port", "sim:", "Sim", "direct ", ""})
        EXPECT_EQ(portio::FindBackend(wrong, &argument), nullptr) << wrong;
}

// One lock per physical port: named after the port's base address, so that the x86 instructions
// and the driver on the same port, and every spelling of the driver's device, exclude each other.
class PortLocks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        for (const char* name : {"PORTIO", "LENSBAY_LOCK_DIR"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v != nullptr ? std::optional<std::string>(v) : std::nullopt});
        }
        portio::UsePpdevSyscallsForTesting(&portio_test::kFakeDriver);
        portio_test::driver = portio_test::FakeDriver{};
        ::setenv("LENSBAY_LOCK_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        portio::UsePpdevSyscallsForTesting(nullptr);
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    std::string Claim(const std::string& portio) {
        ::setenv("PORTIO", portio.c_str(), 1);
        const auto claim = portio::ClaimPort();
        return claim ? "claimed" : claim.message();
    }
    test_support::TempDir dir_{"port-locks"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(PortLocks, EveryWayToOnePortTakesTheLockOfItsBaseAddress) {
    // Another process holds the port at 0x378.
    const int holder =
        ::open(dir_.File("lensbay-port-0x378").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::write(holder, "holder 4242\n", 12), 12);
    EXPECT_EQ(Claim("direct"), "the port 0x378 is in use by holder, process 4242");
    for (const char* device : {"/dev/parport0", "/dev//parport0", "/dev/lp-board"}) {
        EXPECT_EQ(Claim(std::string("ppdev:") + device),
                  "the port 0x378 (/dev/parport0) is in use by holder, process 4242")
            << device;
    }
    ::close(holder);
    // The next port has its own lock.
    EXPECT_EQ(Claim("ppdev:/dev/parport1"), "claimed");
    EXPECT_EQ(ReadAll(dir_.File("lensbay-port-0x278")), "");
    EXPECT_EQ(Claim("direct"), "claimed");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"lensbay-port-0x278", "lensbay-port-0x378"}));
}

TEST_F(PortLocks, ADeviceWhosePortCannotBeToldIsRefusedBeforeAnyLock) {
    EXPECT_EQ(Claim("ppdev:/dev/missing"),
              "PORTIO=ppdev:/dev/missing: cannot open /dev/missing: No such file or directory");
    EXPECT_EQ(Claim("ppdev:/dev/not-a-port"),
              "PORTIO=ppdev:/dev/not-a-port: '/dev/not-a-port' is not a device of the "
              "parallel-port driver (ppdev, major 99)");
    portio_test::driver.texts.clear();
    EXPECT_EQ(Claim("ppdev:/dev/parport0"),
              "PORTIO=ppdev:/dev/parport0: cannot read the port's base address from "
              "/proc/sys/dev/parport/parport0/base-addr: No such file or directory");
    portio_test::driver.texts["/proc/sys/dev/parport/parport0/base-addr"] = "none\n";
    EXPECT_EQ(Claim("ppdev:/dev/parport0"),
              "PORTIO=ppdev:/dev/parport0: cannot read the port's base address from "
              "/proc/sys/dev/parport/parport0/base-addr: it holds no address");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
    EXPECT_EQ(portio_test::driver.calls, Lines{});
}

}  // namespace
