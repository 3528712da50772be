// What the simulated board keeps between programs: the state it hands over and takes back, power
// cycling, and the state file's text, damage and replacement.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/portio/sim/board.h"
#include "platform/portio/sim/board_state_file.h"
#include "tests/platform/portio/sim/panel_sequences.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

std::string PathOr(const base::Result<std::string>& r, const std::string& otherwise) {
    return r ? *r : otherwise;
}

using sim::Board;
using sim::BoardState;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(BoardState, KeptStateRestoresTheChipAndPowerCycleResetsItButNotTheSwitches) {
    Board first;
    int saves = 0;
    first.SetStateListener([&] { ++saves; });
    simtest::StartUp(first);
    simtest::SetRegister(first, sim::HWCTL, 0x4C);
    simtest::SetRegister(first, sim::EXCTL, 0x20);
    EXPECT_GT(saves, 0);
    EXPECT_EQ(simtest::ReadFrame(first, 4).size(), 4u);
    first.SetSwitches(0x3);
    first.SetFollowsPrompts(false);

    Board second;
    second.Restore(first.State());
    EXPECT_EQ(second.State(), first.State());
    EXPECT_FALSE(second.Agc());
    EXPECT_EQ(second.RegisterValue(sim::HWCTL), 0x4C);
    // The scene clock goes on where it stopped: the next frame is the one the first board
    // would have read next.
    second.SetSwitches(sim::VPORT);
    first.SetSwitches(sim::VPORT);
    EXPECT_EQ(simtest::ReadFrame(second, 2000), simtest::ReadFrame(first, 2000));

    second.SetSwitches(0x3);
    second.PowerCycle();
    BoardState fresh;
    fresh.switches = 0x3;
    fresh.follows_prompts = false;
    EXPECT_EQ(second.State(), fresh);
    EXPECT_EQ(second.RegisterValue(sim::HWCTL), 0x00);
    EXPECT_TRUE(second.Agc());
}

TEST(BoardStateFile, TextRoundTripsAndDamageIsNamedByLine) {
    BoardState s;
    s.switches = 0x2;
    s.follows_prompts = false;
    s.agc = false;
    s.reset_requested = true;
    s.latched[sim::EXCTL] = 0x20;
    s.latched[sim::VWCTL] = 0xFF;
    s.frames = 18446744073709551615u;
    s.scene_time = 7;
    s.next_time = 9;
    const std::string text = sim::FormatBoardState(s);
    EXPECT_EQ(text,
              "lensbay-sim-board 1\nswitches 0010\nfollows-prompts off\nagc off\n"
              "reset-request 1\nframes 18446744073709551615\nscene-time 7\nnext-time 9\n"
              "register EXCTL 20\nregister VWCTL ff\n");
    const base::Result<BoardState> back = sim::ParseBoardState(text);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(*back, s);
    EXPECT_EQ(*sim::ParseBoardState(sim::FormatBoardState(BoardState{})), BoardState{});

    const std::string head = "lensbay-sim-board 1\n";
    const std::string body =
        "switches 1000\nfollows-prompts on\nagc on\nreset-request 0\nframes 0\nscene-time 0\n"
        "next-time 0\n";
    struct Case {
        std::string text, says;
    } cases[] = {
        {"", "line 1"},
        {"lensbay-sim-board 2\n" + body, "line 1"},
        {head + body.substr(0, body.size() - 1), "line 8: the last line is cut"},
        {head + "switches 1020\n", "line 2: bad value for switches"},
        {head + "switches 10000\n", "line 2: bad value for switches"},
        {head + body + "register VPORT 00\n", "line 9: unknown register"},
        {head + body + "register HWCTL 4\n", "line 9: bad value for register"},
        {head + body + "register HWCTL 4cc\n", "line 9: bad value for register"},
        {head + body + "register HWCTL 4c\nregister HWCTL 4c\n", "line 10: register given twice"},
        {head + body + "frames 1\n", "line 9: frames given twice"},
        {head + body + "colour blue\n", "line 9: unknown key 'colour'"},
        {head + "frames -1\n", "line 2: bad value for frames"},
        {head + "frames 18446744073709551616\n", "line 2: bad value for frames"},
        {head + "agc yes\n", "line 2: bad value for agc"},
        {head + "agc\n", "line 2: a key and a value expected"},
        {head + "agc on\n", "the key switches is missing"},
    };
    for (const Case& c : cases) {
        const base::Result<BoardState> r = sim::ParseBoardState(c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_NE(r.message().find(c.says), std::string::npos) << c.text << " -> " << r.message();
    }
}

TEST(BoardStateFile, SavedWholeAndReadBackAMissingFileIsABoardJustPoweredOn) {
    test_support::TempDir dir;
    const std::string path = dir.File("board");
    base::Result<BoardState> loaded = sim::LoadBoardState(path);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    EXPECT_EQ(*loaded, BoardState{});

    BoardState s;
    s.latched[sim::HWCTL] = 0x4C;
    ASSERT_TRUE(sim::SaveBoardState(path, s).ok());
    EXPECT_EQ(ReadAll(path), sim::FormatBoardState(s));
    // Nothing but the state and its lock file is left beside it.
    EXPECT_NE(::access((path + ".lock").c_str(), F_OK), -1);
    EXPECT_EQ(::access((path + ".new").c_str(), F_OK), -1);
    loaded = sim::LoadBoardState(path);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    EXPECT_EQ(*loaded, s);

    // A folder in its place, a missing folder, a damaged file: each refused, with its path.
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0700), 0);
    loaded = sim::LoadBoardState(dir.File("folder"));
    ASSERT_FALSE(loaded.ok());
    EXPECT_NE(loaded.message().find("not a regular file"), std::string::npos) << loaded.message();
    const base::Result<> saved = sim::SaveBoardState(dir.File("missing/board"), s);
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.message().find(dir.File("missing/board")), std::string::npos);
    std::ofstream(path, std::ios::trunc) << "lensbay-sim-board 1\nswitches 1000\n";
    loaded = sim::LoadBoardState(path);
    ASSERT_FALSE(loaded.ok());
    EXPECT_NE(loaded.message().find("is damaged (the key follows-prompts is missing)"),
              std::string::npos)
        << loaded.message();
}

// The board's files may sit in a folder other users can write: none of them is ever followed as
// a symbolic link, so no planted link turns a save into a write to another file (the temporary
// file of old, board.new, is no longer used at all).
TEST(BoardStateFile, ItsFilesAreNeverFollowedAsLinks) {
    test_support::TempDir dir;
    const std::string path = dir.File("board"), victim = dir.File("victim");
    std::ofstream(victim) << "secret\n";
    BoardState s;
    s.latched[sim::EXCTL] = 0x20;
    const std::string never = "it is a symbolic link, which is never followed";

    ASSERT_EQ(::symlink(victim.c_str(), (path + ".lock").c_str()), 0);
    base::Result<> saved = sim::SaveBoardState(path, s);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.message(),
              "the simulated board's lock file '" + path + ".lock' cannot be opened: " + never);
    EXPECT_FALSE(sim::LoadBoardState(path).ok());
    ASSERT_EQ(::unlink((path + ".lock").c_str()), 0);

    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    saved = sim::SaveBoardState(path, s);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.message(),
              "the simulated board's state '" + path + "' cannot be written: " + never);
    const base::Result<BoardState> loaded = sim::LoadBoardState(path);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.message(),
              "the simulated board's state '" + path + "' cannot be read: " + never);
    ASSERT_EQ(::unlink(path.c_str()), 0);

    ASSERT_EQ(::symlink(victim.c_str(), (path + ".new").c_str()), 0);
    ASSERT_TRUE(sim::SaveBoardState(path, s).ok());
    EXPECT_EQ(ReadAll(path), sim::FormatBoardState(s));
    EXPECT_EQ(ReadAll(victim), "secret\n");
}

// A rewrite keeps the state file's owner and mode, and the lock file beside it can be taken by
// another user of the board, so that a board root once used stays its user's.
TEST(BoardStateFile, ARewriteKeepsTheFilesOwnerAndMode) {
    test_support::TempDir dir;
    const std::string path = dir.File("board");
    BoardState s;
    const mode_t mask = ::umask(077);
    const base::Result<> first = sim::SaveBoardState(path, s);
    ::umask(mask);
    ASSERT_TRUE(first.ok()) << first.message();
    struct stat st {};
    ASSERT_EQ(::stat((path + ".lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0644, 0644u) << "the lock file is not readable by the board's user";
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    }
    s.latched[sim::GCTL] = 0x03;
    ASSERT_TRUE(sim::SaveBoardState(path, s).ok());
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
    EXPECT_EQ(ReadAll(path), sim::FormatBoardState(s));
}

// The folder kept under XDG_RUNTIME_DIR is made private, and used only while it is this user's
// folder that no one else may enter.
TEST(BoardStateFile, TheRuntimeFolderIsTheUsersAlone) {
    test_support::TempDir dir;
    // Put back however the test ends (a failed ASSERT returns early).
    const test_support::ScopedEnv state("LENSBAY_SIM_STATE", std::nullopt);
    const test_support::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    const std::string folder = dir.File("lensbay");
    const std::string way_out = "; remove it, or name the board's file with LENSBAY_SIM_STATE";

    const mode_t mask = ::umask(0);
    base::Result<std::string> where = sim::StateFilePath();
    ::umask(mask);
    ASSERT_TRUE(where.ok()) << where.message();
    EXPECT_EQ(*where, folder + "/sim-board");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_EQ(sim::StateFilePath().message(), "the simulated board's folder '" + folder +
                                                  "' is open to other users (mode 0777)" + way_out);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.c_str(), 4321, 4321), 0);
        EXPECT_EQ(sim::StateFilePath().message(), "the simulated board's folder '" + folder +
                                                      "' belongs to another user (uid 4321)" +
                                                      way_out);
    }
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("elsewhere", folder.c_str()), 0);
    EXPECT_EQ(sim::StateFilePath().message(), "the simulated board's folder '" + folder +
                                                  "' is not a folder (a link or another file)" +
                                                  way_out);
}

// Without XDG_RUNTIME_DIR every shell of a user shares one board, kept in /tmp/lensbay-UID (made
// private, said once when made, and checked as the runtime folder is); LENSBAY_SIM_STATE still
// wins, and set to nothing it asks for a fresh board. Run as a user of its own, so that the
// machine's own folders are not touched.
TEST(BoardStateFile, WithoutARuntimeFolderTheBoardIsKeptInTheUsersTmpFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "a user of the test's own needs root";
    const uid_t uid = 61000 + static_cast<uid_t>(::getpid() % 4000);
    const std::string folder = "/tmp/lensbay-" + std::to_string(uid);
    std::filesystem::remove_all(folder);
    EXPECT_EXIT(
        {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                ::setresuid(uid, uid, uid) != 0)
                std::_Exit(2);
            ::unsetenv("XDG_RUNTIME_DIR");
            ::unsetenv("LENSBAY_SIM_STATE");
            const base::Result<std::string> first = sim::StateFilePath();
            const base::Result<std::string> again = sim::StateFilePath();
            struct stat st {};
            const bool made = ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                              (st.st_mode & 07777) == 0700 && st.st_uid == uid;
            ::setenv("LENSBAY_SIM_STATE", "/elsewhere/board", 1);
            const bool named = PathOr(sim::StateFilePath(), "") == "/elsewhere/board";
            ::setenv("LENSBAY_SIM_STATE", "", 1);
            const bool fresh = PathOr(sim::StateFilePath(), "?").empty();
            std::_Exit(PathOr(first, "") == folder + "/sim-board" &&
                               PathOr(again, "") == PathOr(first, "?") && made && named && fresh
                           ? 7
                           : 1);
        },
        ::testing::ExitedWithCode(7),
        // Said once: when the folder is made.
        "^simulated board: XDG_RUNTIME_DIR is not set, so the board is kept in '" + folder +
            "/sim-board' while the machine runs \\(LENSBAY_SIM_STATE=FILE names another "
            "file\\)\n$");
    // A folder of that name that another user made is refused, as the runtime folder is.
    ASSERT_EQ(::chown(folder.c_str(), uid + 1, uid + 1), 0);
    EXPECT_EXIT(
        {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                ::setresuid(uid, uid, uid) != 0)
                std::_Exit(2);
            ::unsetenv("XDG_RUNTIME_DIR");
            ::unsetenv("LENSBAY_SIM_STATE");
            const base::Result<std::string> where = sim::StateFilePath();
            std::fprintf(stderr, "%s\n", where ? where->c_str() : where.message().c_str());
            std::_Exit(7);
        },
        ::testing::ExitedWithCode(7),
        "belongs to another user \\(uid " + std::to_string(uid + 1) + "\\); remove it");
    std::filesystem::remove_all(folder);
}

}  // namespace
