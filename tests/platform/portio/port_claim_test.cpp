// One user of a port at a time, where a backend's claim is its own: a fresh simulated board and a
// lock folder that cannot hold the lock. The refusal of a second claim of each backend's port, in
// this process and another, is in backend_family_test.cpp.
#include "platform/portio/port_claim.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

class PortClaimTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"PORTIO", "LENSBAY_SIM_STATE", "XDG_RUNTIME_DIR"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v != nullptr ? std::optional<std::string>(v) : std::nullopt});
        }
        ::setenv("LENSBAY_LOCK_DIR", dir_.path().c_str(), 1);
    }
    // The other tests of the program keep their own simulated board.
    void TearDown() override {
        ::unsetenv("LENSBAY_LOCK_DIR");
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    test_support::TempDir dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A board no file keeps is this program's alone: a second claim here is refused without a lock
// file, and the board is free again when the first ends.
TEST_F(PortClaimTest, AFreshSimulatedBoardIsClaimedInThisProcess) {
    ::setenv("PORTIO", "sim", 1);
    ::unsetenv("LENSBAY_SIM_STATE");
    ::unsetenv("XDG_RUNTIME_DIR");
    {
        const auto fresh = portio::ClaimPort();
        ASSERT_TRUE(fresh.ok()) << fresh.message();
        const auto again = portio::ClaimPort();
        ASSERT_FALSE(again.ok());
        EXPECT_EQ(again.message(),
                  "the port 0x378 (a fresh simulated board) is in use by this program, process " +
                      std::to_string(::getpid()));
    }
    EXPECT_TRUE(portio::ClaimPort().ok());
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
