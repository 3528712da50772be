// What the simulated board keeps between programs: the state it hands over and takes back, power
// cycling, and the state file's text, damage and replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/portio/sim/board.h"
#include "platform/portio/sim/board_state_file.h"
#include "tests/platform/portio/sim/panel_sequences.h"
#include "tests/support/temp_dir.h"

namespace {

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

}  // namespace
