// One user of a port at a time, whichever program hosts Pinbus: while Lensbay holds the simulated
// board, ocxhost's port cycles fail with the holder's name and never reach the board; while
// ocxhost holds it (after its first cycle), Lensbay is refused at once. The holder is seen in the
// port's lock file beside the board's state, never after a guessed delay.
#include <gmock/gmock.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/support/process.h"

namespace release_test {
using namespace test_support;
namespace {

using testing::HasSubstr;

const std::string kLensbay = LENSBAY_PATH;
const std::string kRegsvr = REGSVR_PATH;
const std::string kOcxhost = OCXHOST_PATH;
const std::string kPinbus = PINBUS_PATH;

std::string Read(const std::string& path) {
    std::string text;
    return ReadWholeFile(path, &text) ? text : "";
}

class PortClaimTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        const Outcome o = RunProcess({{kRegsvr, kPinbus}, {{"OLE_REGISTRY", registry_}}});
        ASSERT_EQ(o.status, 0) << o.out << o.err;
    }
    Command Program(std::vector<std::string> args, std::string input, const std::string& trace) {
        return Command(std::move(args),
                       {{"OLE_REGISTRY", registry_},
                        {"PORTIO", "sim"},
                        {"PORTIO_TRACE", trace},
                        {"LENSBAY_SIM_STATE", board_}},
                       std::move(input));
    }
    // Waits (up to 60 s, polling) until the board's lock names `program` with process `pid`.
    bool HeldBy(const std::string& program, pid_t pid, const std::atomic<bool>& ended) {
        const std::string holder = program + " " + std::to_string(pid) + "\n";
        for (int i = 0; i < 30000 && !ended; ++i) {
            if (Read(board_ + ".port") == holder) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    TempDir dir_{"port-claim"};
    std::string registry_ = dir_.File("registry.reg"), board_ = dir_.File("board");
    std::string in_use_ =
        "the port 0x378 (the simulated board kept in " + board_ + ") is in use by ";
};

TEST_F(PortClaimTest, OcxhostIsRefusedWhileLensbayHoldsTheBoard) {
    Command lensbay = Program({kLensbay, "--console"}, "", dir_.File("lensbay.trace"));
    lensbay.keep_input_open = true;
    Outcome host;
    std::string board_before, board_after;
    bool held = false;
    lensbay.while_running = [&](pid_t pid, const std::atomic<bool>& ended) {
        held = HeldBy("lensbay", pid, ended);
        if (!held) return;
        board_before = Read(board_);
        host = RunProcess(Program({kOcxhost},
                                  "create PINBUS.PinbusCtrl.1\ninitnew\nput Address 888\n"
                                  "put Value 2\nput Address 890\nput Value 9\nget Value\n",
                                  dir_.File("ocxhost.trace")));
        board_after = Read(board_);
        // The holder named in the refusals is this one.
        in_use_ += "lensbay, process " + std::to_string(pid);
        ::kill(pid, SIGTERM);
    };
    const Outcome o = RunProcess(lensbay);
    ASSERT_TRUE(held) << o.err;
    EXPECT_EQ(o.status, 128 + SIGTERM) << o.err;
    const std::string refused = "error 0x80020009: " + in_use_ + "\n";
    EXPECT_EQ(host.out, "S_OK\nS_OK\nS_OK\n" + refused + "S_OK\n" + refused + refused) << host.err;
    EXPECT_EQ(host.status, 0);
    EXPECT_EQ(board_after, board_before);
    EXPECT_EQ(Read(dir_.File("ocxhost.trace")), "");
}

TEST_F(PortClaimTest, LensbayIsRefusedWhileOcxhostHoldsTheBoard) {
    Command host =
        Program({kOcxhost}, "create PINBUS.PinbusCtrl.1\nput Address 890\nput Value 39\n",
                dir_.File("ocxhost.trace"));
    host.keep_input_open = true;
    Outcome lensbay;
    bool held = false;
    host.while_running = [&](pid_t pid, const std::atomic<bool>& ended) {
        held = HeldBy("ocxhost", pid, ended);
        if (!held) return;
        lensbay = RunProcess(
            Program({kLensbay, "set", "exposure=40", "--yes"}, "", dir_.File("lensbay.trace")));
        in_use_ += "ocxhost, process " + std::to_string(pid);
        ::kill(pid, SIGTERM);
    };
    const Outcome o = RunProcess(host);
    ASSERT_TRUE(held) << o.out << o.err;
    EXPECT_EQ(o.out, "S_OK\nS_OK\nS_OK\n");
    EXPECT_EQ(lensbay.status, 3);
    EXPECT_EQ(lensbay.err, "lensbay: " + in_use_ + "\n");
    EXPECT_EQ(Read(dir_.File("lensbay.trace")), "");
    EXPECT_EQ(Read(dir_.File("ocxhost.trace")), "out8 0x037a 0x27\n");
    // Once the host is gone the port is free.
    lensbay = RunProcess(
        Program({kLensbay, "set", "exposure=40", "--yes"}, "", dir_.File("lensbay.trace")));
    EXPECT_EQ(lensbay.status, 0) << lensbay.err;
    EXPECT_THAT(Read(dir_.File("lensbay.trace")), HasSubstr("out8 0x0378 "));
}

}  // namespace
}  // namespace release_test
