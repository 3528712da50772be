// One user of a port at a time: the lock file each backend's port is claimed through, the
// holder's name in the refusal, a refusal at once in this process and in another, and the port
// free again when the claim ends.
#include "platform/portio/port_claim.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class PortClaimTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("LENSBAY_LOCK_DIR", dir_.path().c_str(), 1); }
    void TearDown() override {
        ::unsetenv("LENSBAY_LOCK_DIR");
        ::setenv("PORTIO", "sim", 1);
    }
    test_support::TempDir dir_;
    const std::string self_ =
        std::string(program_invocation_short_name) + ", process " + std::to_string(::getpid());
};

TEST_F(PortClaimTest, ASecondClaimIsRefusedAtOnceNamingPortAndHolderUntilTheFirstEnds) {
    struct Case {
        const char* portio;
        std::string lock_file, port;
    } cases[] = {
        {"direct", "lensbay-port-0x378", "0x378"},
        {"ppdev:/dev/parport1", "lensbay-port_dev_parport1", "/dev/parport1"},
    };
    for (const Case& c : cases) {
        ::setenv("PORTIO", c.portio, 1);
        const std::string lock = dir_.File(c.lock_file);
        {
            base::Result<std::unique_ptr<portio::PortClaim>> first = portio::ClaimPort();
            ASSERT_TRUE(first.ok()) << first.message();
            EXPECT_EQ(ReadAll(lock), std::string(program_invocation_short_name) + " " +
                                         std::to_string(::getpid()) + "\n");
            const base::Result<std::unique_ptr<portio::PortClaim>> second = portio::ClaimPort();
            ASSERT_FALSE(second.ok());
            EXPECT_EQ(second.message(), "the port " + c.port + " is in use by " + self_);
            // Another process is refused the same way, without waiting.
            EXPECT_EXIT(
                {
                    const auto other = portio::ClaimPort();
                    std::fprintf(stderr, "%s\n", other ? "claimed" : other.message().c_str());
                    std::_Exit(other ? 0 : 7);
                },
                ::testing::ExitedWithCode(7), "is in use by " + self_);
        }
        EXPECT_EQ(ReadAll(lock), "");  // nobody is named after the holder is gone
        EXPECT_TRUE(portio::ClaimPort().ok()) << c.portio;
    }
}

TEST_F(PortClaimTest, TheSimulatedBoardIsClaimedBesideItsStateOrInThisProcessWhenFresh) {
    ::setenv("PORTIO", "sim", 1);
    ::setenv("LENSBAY_SIM_STATE", dir_.File("board").c_str(), 1);
    {
        const auto first = portio::ClaimPort();
        ASSERT_TRUE(first.ok()) << first.message();
        EXPECT_NE(ReadAll(dir_.File("board.port")), "");
        const auto second = portio::ClaimPort();
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.message(), "the port 0x378 (the simulated board kept in " +
                                        dir_.File("board") + ") is in use by " + self_);
    }
    ::unsetenv("LENSBAY_SIM_STATE");
    ::unsetenv("XDG_RUNTIME_DIR");
    const auto fresh = portio::ClaimPort();
    ASSERT_TRUE(fresh.ok()) << fresh.message();
    const auto again = portio::ClaimPort();
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.message(),
              "the port 0x378 (a fresh simulated board) is in use by this "
              "program, process " +
                  std::to_string(::getpid()));
}

TEST_F(PortClaimTest, ALockFolderThatCannotHoldTheLockIsSaid) {
    ::setenv("PORTIO", "direct", 1);
    ::setenv("LENSBAY_LOCK_DIR", dir_.File("missing").c_str(), 1);
    const auto claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(claim.message(), "the port 0x378 cannot be claimed: its lock file '" +
                                   dir_.File("missing") +
                                   "/lensbay-port-0x378' cannot be opened: No such file or "
                                   "directory (LENSBAY_LOCK_DIR=FOLDER chooses another folder)");
    // A name no backend has claims nothing: opening the backend says what is wrong with it.
    ::setenv("PORTIO", "parallel", 1);
    EXPECT_TRUE(portio::ClaimPort().ok());
}

}  // namespace
