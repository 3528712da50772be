// One user of a port at a time, where a backend's claim is its own: a fresh simulated board, links
// planted where a lock file goes, and a lock folder that cannot hold the lock. The refusal of a
// second claim of each backend's port, in this process and another, is in backend_family_test.cpp.
#include "platform/portio/port_claim.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

class PortClaimTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"PORTIO", "LENSBAY_SIM_STATE", "XDG_RUNTIME_DIR", "LENSBAY_LOCK_DIR"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v != nullptr ? std::optional<std::string>(v) : std::nullopt});
        }
        ::setenv("LENSBAY_LOCK_DIR", dir_.path().c_str(), 1);
    }
    // The other tests of the program keep their own simulated board.
    void TearDown() override {
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

// A lock file is never followed as a link and never one with other names: a claim writes into
// no file planted in its place, whatever its mode.
TEST_F(PortClaimTest, APlantedLinkOrHardLinkIsRefusedAndItsFileUntouched) {
    ::setenv("PORTIO", "sim", 1);
    const std::string board = dir_.File("board"), victim = dir_.File("victim");
    ::setenv("LENSBAY_SIM_STATE", board.c_str(), 1);
    { std::ofstream(victim) << "secret\n"; }
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const std::string port = "the port 0x378 (the simulated board kept in " + board +
                             ") cannot be claimed: its lock file '" + board + ".port'";

    ASSERT_EQ(::symlink(victim.c_str(), (board + ".port").c_str()), 0);
    auto claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(claim.message(), port + " is a symbolic link; a lock file is never followed");
    ASSERT_EQ(::unlink((board + ".port").c_str()), 0);

    ASSERT_EQ(::link(victim.c_str(), (board + ".port").c_str()), 0);
    claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(claim.message(),
              port + " has other names (hard links); a lock file must be a file of its own");
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "secret\n");
}

// A lock folder the user may not write says so, not that a file is missing.
TEST_F(PortClaimTest, ALockFolderTheUserMayNotWriteIsSaidAsSuch) {
    ::setenv("PORTIO", "direct", 1);
    const std::string folder = dir_.File("locks");
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    ::setenv("LENSBAY_LOCK_DIR", folder.c_str(), 1);
    const std::string said = "the port 0x378 cannot be claimed: its lock file '" + folder +
                             "/lensbay-port-0x378' cannot be created: Permission denied: the "
                             "folder '" +
                             folder +
                             "' cannot be written (LENSBAY_LOCK_DIR=FOLDER chooses "
                             "another folder)";
    EXPECT_EXIT(
        {
            // Root may write any folder: the claim is made as an ordinary user.
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                 ::setresuid(65534, 65534, 65534) != 0))
                std::_Exit(2);
            const auto claim = portio::ClaimPort();
            std::fprintf(stderr, "%s\n", claim ? "claimed" : claim.message().c_str());
            std::_Exit(!claim && claim.message() == said ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
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
