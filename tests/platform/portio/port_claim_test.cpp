// One user of a port at a time, where a backend's claim is its own: a fresh simulated board, links
// planted where a lock file goes, and a lock folder that cannot hold the lock. The refusal of a
// second claim of each backend's port, in this process and another, is in backend_family_test.cpp.
#include "platform/portio/port_claim.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing::HasSubstr;
using testing::MatchesRegex;

// One byte through a pipe: how the processes of a test wait for each other (never a sleep).
struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fd), 0); }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void Signal() { EXPECT_EQ(::write(fd[1], "x", 1), 1); }
    // True when a byte came, false at the pipe's end.
    bool Wait() {
        char c;
        return ::read(fd[0], &c, 1) == 1;
    }
    void CloseWrite() {
        ::close(fd[1]);
        fd[1] = -1;
    }
    int fd[2] = {-1, -1};
};

int WaitFor(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Becomes an ordinary user (not the owner of the files root made for the test).
bool BecomeUser(uid_t uid) {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(uid, uid, uid) == 0 &&
           ::setresuid(uid, uid, uid) == 0;
}

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
    ::setenv("LENSBAY_SIM_STATE", "", 1);  // set to nothing: a fresh board
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
    const std::string yours = "; the file is yours: remove it (rm -- '" + board +
                              ".port'), or choose another board with LENSBAY_SIM_STATE=FILE";
    EXPECT_EQ(claim.message(), port + " is a symbolic link; a lock file is never followed" + yours);
    ASSERT_EQ(::unlink((board + ".port").c_str()), 0);

    ASSERT_EQ(::link(victim.c_str(), (board + ".port").c_str()), 0);
    claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(
        claim.message(),
        port + " has other names (hard links); a lock file must be a file of its own" + yours);
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

// A host that forks (a daemon, Python's multiprocessing) keeps no claim in its child: once the
// parent lets go, another program and the parent itself take the port while the child, which
// never touched the port, lives on. A child that does use the port claims it for itself.
TEST_F(PortClaimTest, AForkedChildKeepsNoClaim) {
    ::setenv("PORTIO", "sim", 1);
    ::setenv("LENSBAY_SIM_STATE", dir_.File("board").c_str(), 1);
    auto claim = portio::ClaimPort();
    ASSERT_TRUE(claim.ok()) << claim.message();
    Pipe hold, ready;
    const pid_t sleeper = ::fork();
    ASSERT_GE(sleeper, 0);
    if (sleeper == 0) {
        ready.Signal();
        hold.CloseWrite();
        hold.Wait();  // lives, doing nothing with the port, until the test ends it
        std::_Exit(0);
    }
    ASSERT_TRUE(ready.Wait());
    claim.value().reset();  // the parent lets go

    // Another process takes the port while the child lives...
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        const auto mine = portio::ClaimPort();
        if (!mine) std::fprintf(stderr, "%s\n", mine.message().c_str());
        std::_Exit(mine ? 0 : 1);
    }
    EXPECT_EQ(WaitFor(other), 0);
    // ...and so does the parent again; a child made while it holds the port is refused, naming
    // the parent, and claims it once the parent lets go.
    claim = portio::ClaimPort();
    ASSERT_TRUE(claim.ok()) << claim.message();
    Pipe go, tried;
    const pid_t user = ::fork();
    ASSERT_GE(user, 0);
    if (user == 0) {
        const auto refused = portio::ClaimPort();
        const bool named =
            !refused &&
            refused.message().find("process " + std::to_string(::getppid())) != std::string::npos;
        tried.Signal();
        go.CloseWrite();
        go.Wait();
        const auto mine = portio::ClaimPort();
        if (!named || !mine)
            std::fprintf(stderr, "%s / %s\n", refused ? "claimed" : refused.message().c_str(),
                         mine ? "claimed" : mine.message().c_str());
        std::_Exit(named && mine ? 0 : 1);
    }
    ASSERT_TRUE(tried.Wait());
    claim.value().reset();
    go.CloseWrite();
    EXPECT_EQ(WaitFor(user), 0);
    hold.CloseWrite();
    EXPECT_EQ(WaitFor(sleeper), 0);
}

// Two processes contend for the port, each taking and giving it up 200 times: every refusal
// names the other, never "another program" (the holder names itself before it can be refused and
// is named by the kernel's list of locks where its name is not written yet).
TEST_F(PortClaimTest, EveryRefusalUnderContentionNamesTheHolder) {
    ::setenv("PORTIO", "direct", 1);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 01777), 0);
    Pipe start;
    auto contend = [](pid_t other) {
        int refusals = 0, unnamed = 0;
        for (int i = 0; i < 200; ++i) {
            const auto claim = portio::ClaimPort();
            if (claim) continue;
            ++refusals;
            if (claim.message().find(", process " + std::to_string(other)) == std::string::npos) {
                std::fprintf(stderr, "%s\n", claim.message().c_str());
                ++unnamed;
            }
        }
        return unnamed == 0 ? 0 : 1;
    };
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        start.CloseWrite();
        start.Wait();
        std::_Exit(contend(parent));
    }
    start.CloseWrite();
    const int mine = contend(child);
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_EQ(mine, 0);
}

// What another program wrote as its name reaches the user escaped: C0 and C1 controls, DEL and
// bytes that are not UTF-8.
TEST_F(PortClaimTest, AHoldersNameIsShownEscaped) {
    ::setenv("PORTIO", "direct", 1);
    const std::string lock = dir_.File("lensbay-port-0x378");
    Pipe held, done;
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0666);
        const std::string name =
            "evil\x1b]0;PWNED\x07\xc2\x9b"
            "2J\x7f\xff 4242\n";
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0 ||
            ::write(fd, name.data(), name.size()) != static_cast<ssize_t>(name.size()))
            std::_Exit(1);
        held.Signal();
        done.CloseWrite();
        done.Wait();
        std::_Exit(0);
    }
    ASSERT_TRUE(held.Wait());
    const auto claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(
        claim.message(),
        "the port 0x378 is in use by evil\\x1b]0;PWNED\\x07\\xc2\\x9b2J\\x7f\\xff, process 4242");
    done.CloseWrite();
    EXPECT_EQ(WaitFor(holder), 0);
}

// A lock file another user planted that nobody may open: the refusal names the file, its owner,
// that nobody holds it, and the way out; a holder that wrote no name is named from the kernel.
TEST_F(PortClaimTest, APlantedLockFileNamesItsOwnerAndTheWayOut) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    ::setenv("PORTIO", "direct", 1);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 01777), 0);
    const std::string lock = dir_.File("lensbay-port-0x378");
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL, 0000);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
    ::close(fd);
    const std::string said =
        "the port 0x378 cannot be claimed: its lock file '" + lock +
        "' cannot be opened: Permission denied; the file is nobody (uid 65534)'s, and no program "
        "holds it: remove it as root (sudo rm -- '" +
        lock + "'), or choose another folder with LENSBAY_LOCK_DIR=FOLDER";
    Pipe out;
    const pid_t user = ::fork();
    ASSERT_GE(user, 0);
    if (user == 0) {
        if (!BecomeUser(65533)) std::_Exit(2);
        const auto claim = portio::ClaimPort();
        const std::string text = claim ? "claimed" : claim.message();
        if (::write(out.fd[1], text.data(), text.size()) < 0) std::_Exit(3);
        std::_Exit(0);
    }
    ASSERT_EQ(WaitFor(user), 0);
    out.CloseWrite();
    std::string text;
    char buffer[1024];
    for (ssize_t n; (n = ::read(out.fd[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    EXPECT_EQ(text, said);

    // Held by a program that names nobody: the kernel's list of locks names it.
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    Pipe held, done;
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int f = ::open(lock.c_str(), O_RDWR | O_CREAT, 0666);
        if (f < 0 || ::flock(f, LOCK_EX) != 0) std::_Exit(1);
        held.Signal();
        done.CloseWrite();
        done.Wait();
        std::_Exit(0);
    }
    ASSERT_TRUE(held.Wait());
    const auto claim = portio::ClaimPort();
    ASSERT_FALSE(claim.ok());
    EXPECT_THAT(claim.message(),
                MatchesRegex("the port 0x378 is in use by .+, process " + std::to_string(holder)));
    done.CloseWrite();
    EXPECT_EQ(WaitFor(holder), 0);
}

}  // namespace
