// The console front end: its command language, events and the simulated board's switches.
#include <gmock/gmock.h>

#include <sstream>

#include "panel/console/console_front_end.h"
#include "platform/portio/sim/board.h"
#include "platform/portio/sim/sim_backend.h"
#include "platform/ui/message_box.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using panel::console::Command;
using panel::console::ParseCommand;
using testing::ElementsAre;
using testing::HasSubstr;

Command Parse(const std::string& line) {
    Command c;
    std::string error;
    EXPECT_TRUE(ParseCommand(line, &c, &error)) << line << ": " << error;
    return c;
}

std::string ParseError(const std::string& line) {
    Command c;
    std::string error;
    EXPECT_FALSE(ParseCommand(line, &c, &error)) << line;
    return error;
}

TEST(ConsoleParserTest, Commands) {
    Command c = Parse("click Text5");
    EXPECT_EQ(c.kind, Command::kClick);
    EXPECT_EQ(c.number, 5);
    c = Parse("text Text8 my picture.bmp");
    EXPECT_EQ(c.kind, Command::kText);
    EXPECT_EQ(c.number, 8);
    EXPECT_EQ(c.value, "my picture.bmp");
    c = Parse("enter Text1  12 ");  // the rest after one space, spaces kept
    EXPECT_EQ(c.kind, Command::kEnter);
    EXPECT_EQ(c.value, " 12 ");
    c = Parse("text Text2 ");
    EXPECT_EQ(c.kind, Command::kText);
    EXPECT_EQ(c.value, "");
    c = Parse("text Text3 7\r");  // a CRLF line
    EXPECT_EQ(c.value, "7");
    c = Parse("option Option4 0");
    EXPECT_EQ(c.kind, Command::kOption);
    EXPECT_EQ(c.number, 4);
    EXPECT_EQ(c.item, 0);
    for (const char* button : {"Command1", "Capture", "SaveAs", "Command2"}) {
        c = Parse(std::string("press ") + button);
        EXPECT_EQ(c.kind, Command::kPress);
        EXPECT_EQ(c.button, button);
    }
    EXPECT_EQ(Parse("show").kind, Command::kShow);
    EXPECT_EQ(Parse("quit").kind, Command::kQuit);
    c = Parse("switches 0110");
    EXPECT_EQ(c.kind, Command::kSwitches);
    EXPECT_EQ(c.item, 6);
    c = Parse("follow off");
    EXPECT_EQ(c.kind, Command::kFollow);
    EXPECT_EQ(c.item, 0);
    EXPECT_EQ(Parse("").kind, Command::kNone);
    EXPECT_EQ(Parse("   ").kind, Command::kNone);
    EXPECT_EQ(Parse("# a comment").kind, Command::kNone);
}

TEST(ConsoleParserTest, LinesNotUnderstood) {
    EXPECT_THAT(ParseError("jump"), HasSubstr("unknown command \"jump\""));
    EXPECT_THAT(ParseError("Show"), HasSubstr("unknown command"));
    EXPECT_THAT(ParseError("click Text9"), HasSubstr("bad field name \"Text9\""));
    EXPECT_THAT(ParseError("click Text0"), HasSubstr("bad field name"));
    EXPECT_THAT(ParseError("click Text10"), HasSubstr("bad field name"));
    EXPECT_THAT(ParseError("click text1"), HasSubstr("bad field name"));
    EXPECT_THAT(ParseError("click"), HasSubstr("missing field name"));
    EXPECT_THAT(ParseError("click Text1 now"), HasSubstr("unexpected text"));
    EXPECT_THAT(ParseError("text Text1"), HasSubstr("missing value"));
    EXPECT_THAT(ParseError("enter Text4"), HasSubstr("missing value"));
    EXPECT_THAT(ParseError("option Option5 0"), HasSubstr("bad option group"));
    EXPECT_THAT(ParseError("option Option1 2"), HasSubstr("bad option item"));
    EXPECT_THAT(ParseError("option Option1"), HasSubstr("bad option item"));
    EXPECT_THAT(ParseError("press Command3"), HasSubstr("bad button"));
    EXPECT_THAT(ParseError("press"), HasSubstr("bad button"));
    EXPECT_THAT(ParseError("show all"), HasSubstr("takes no argument"));
    EXPECT_THAT(ParseError("quit now"), HasSubstr("takes no argument"));
    EXPECT_THAT(ParseError("switches 012"), HasSubstr("bad switch setting"));
    EXPECT_THAT(ParseError("switches 0120"), HasSubstr("bad switch setting"));
    EXPECT_THAT(ParseError("follow maybe"), HasSubstr("bad follow setting"));
}

TEST(ConsoleParserTest, EventFieldsStayOnOneLine) {
    EXPECT_EQ(panel::console::EscapeField("a\tb\nc\\d\re"), "a\\tb\\nc\\\\d\\re");
    EXPECT_EQ(panel::console::EscapeField("plain text"), "plain text");
}

TEST(ConsoleParserTest, ControlCharactersCannotReachTheTerminal) {
    using panel::console::EscapeField;
    EXPECT_EQ(EscapeField(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(EscapeField("\x1b[2J\x07\x1f\x7f"), "\\x1b[2J\\x07\\x1f\\x7f");
    // C1 controls as UTF-8 encodes them (U+009B is a CSI to some terminals); other text stays.
    EXPECT_EQ(EscapeField("\xc2\x9b"
                          "1m \xc2\xa0 \xc3\xa9 \xe2\x82\xac"),
              "\\xc2\\x9b"
              "1m \xc2\xa0 \xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(EscapeField("\x20~"), " ~");
}

TEST(ConsoleParserTest, EchoedInputIsCutWithANote) {
    const std::string fits(panel::console::kEchoLimit, 'x');
    EXPECT_EQ(ParseError(fits), "unknown command \"" + fits + "\"");
    const std::string huge(1 << 20, 'y');
    const std::string error = ParseError(huge + " more");
    EXPECT_EQ(error, "unknown command \"" + std::string(panel::console::kEchoLimit, 'y') +
                         "\"... (cut; 1048576 bytes in all)");
    // A cut never splits a character: 63 ASCII bytes, then a 2-byte character across the limit.
    const std::string accented = std::string(63, 'a') + "\xc3\xa9" + "zz";
    EXPECT_EQ(ParseError("press " + accented),
              "bad button \"" + std::string(63, 'a') +
                  "\"... (cut; 67 bytes in all): the buttons are Command1, Capture, SaveAs and "
                  "Command2");
}

class ConsoleTest : public PanelRig {
protected:
    // The events of the script; the exit status must be `status` (1 after any error event).
    Log Run(const std::string& script, bool interactive = false, int status = 0) {
        std::istringstream in(script);
        Log out;
        panel::console::ConsoleOptions options;
        options.in = &in;
        options.interactive = interactive;
        options.write_line = [&](const std::string& line) { out.push_back(line); };
        options.board = portio::Operator();
        EXPECT_EQ(panel::console::RunConsoleFrontEnd(pinbus1_, pinbus2_, options), status);
        return out;
    }
};

TEST_P(ConsoleTest, StartupPromptThenCommandsAndEvents) {
    const Log out =
        Run("enter Text1 5\n"
            "text Text8 a\tb.bmp\n"
            "option Option1 0\n"
            "bogus\n"
            "click Text9\n"
            "show\n",
            false, 1);
    EXPECT_THAT(out, ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000",
                                 "error\tunknown command \"bogus\"",
                                 "error\tbad field name \"Text9\": the fields are Text1 to Text8",
                                 "show\tText1\t5\tchanged=True", "show\tText2\t0\tchanged=False",
                                 "show\tText3\t1\tchanged=False", "show\tText4\t0\tchanged=False",
                                 "show\tText5\t0\tchanged=False", "show\tText6\t0\tchanged=False",
                                 "show\tText7\t0\tchanged=False", "show\tText8\ta\\tb.bmp",
                                 "show\tOption1\t0", "show\tOption2\t1", "show\tOption3\t1",
                                 "show\tOption4\t1", "show\tgama\t128", "show\tmir\tempty",
                                 "show\tnsr\tempty", "show\tbkl\t0", "show\tmctl_act\t1"));
}

TEST_P(ConsoleTest, ButtonsBoxesAndMonitor) {
    const Log out =
        Run("enter Text2 x\n"
            "press Command1\n"
            "press SaveAs\n"
            "enter Text5 5\n"
            "text Text4 2\n"
            "text Text6 1\n"
            "text Text7 3\n"
            "press Capture\n"
            "press SaveAs\n"
            "press Command2\n"
            "quit\n"
            "show\n");  // never read
    EXPECT_THAT(
        out, ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000",
                         "box\tSX540 Control Panel\tPlease select GCTL register A[3:0]=0011",
                         "box\tSX540 Control Panel\tGain (Text2): \"x\" is not a number.",
                         "box\tLensbay\tCan't find the .bmp file.", "monitor\t1152\t576\tpicture",
                         "box\tSX540 Control Panel\tPlease select FCTL register A[3:0]=0001",
                         "box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000"));
    std::string copy;
    EXPECT_TRUE(ReadFile("filename.bmp", &copy));
    EXPECT_EQ(copy.size(), 1078u + 2629u);
}

// A script can tell: any error event, even one followed by good commands and quit, makes the
// exit status 1; a box (a failed operation the window would show too) does not.
TEST_P(ConsoleTest, ExitStatusSaysWhetherAnyCommandGaveAnError) {
    Run("enter Text2 x\npress Command1\nshow\nquit\n");
    Run("bogus\nenter Text1 5\nshow\nquit\n", false, 1);
    Run("load-settings no-such-file.txt\n", false, 1);
    Run("show\nregisters\n");
}

TEST_P(ConsoleTest, BrokenBitmapGivesTheBoxThenAMonitorWithoutPicture) {
    ASSERT_TRUE(WriteFile("bmphead1", std::string(1078, '\0')));
    const Log out = Run("press Capture\n");
    EXPECT_THAT(out, ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000",
                                 "box\tSX540 Camera Control Panel\tCouldn't find the .BMP file.",
                                 "monitor\t6144\t4608\tnopicture"));
}

TEST_P(ConsoleTest, AcknowledgedBoxesAreAnnounced) {
    Log seen;
    const int handle = ui::AddMessageBoxObserver(
        [&](const std::string& title, const std::string&) { seen.push_back(title); });
    Run("press Command2\n");
    ui::RemoveMessageBoxObserver(handle);
    EXPECT_THAT(seen,
                ElementsAre("Operation Notice", "SX540 Control Panel", "SX540 Control Panel"));
}

TEST_P(ConsoleTest, AtATerminalEachBoxWaitsForALine) {
    // The start-up prompt takes the first line, the two Default Setting prompts the next two.
    const Log out = Run("show\npress Command2\nshow\nquit\nclick Text1\nshow\n", true);
    EXPECT_THAT(
        out, ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000",
                         "box\tSX540 Control Panel\tPlease select FCTL register A[3:0]=0001",
                         "box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000",
                         testing::StartsWith("show\tText1\t\tchanged=True"), testing::_, testing::_,
                         testing::_, testing::_, testing::_, testing::_, testing::_, testing::_,
                         testing::_, testing::_, testing::_, testing::_, testing::_, testing::_,
                         testing::_, testing::_));
}

INSTANTIATE_TEST_SUITE_P(Objects, ConsoleTest, testing::Values(Objects::kFake), ObjectsName);

// On the simulated board the switches follow the prompts, or are set by hand.
class ConsoleBoardTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        if (IsSkipped()) return;
        portio::ResetForTesting();  // the sim backend from PORTIO=sim, with its board
        board_ = portio::SimulatedBoard();
        if (!board_) GTEST_SKIP() << "the sim backend is not in use";
    }
    sim::Board* board_ = nullptr;
};

TEST_P(ConsoleBoardTest, SwitchesFollowThePromptsUnlessToldOtherwise) {
    Run("enter Text1 100\npress Command1\n");
    EXPECT_EQ(board_->Latched()[sim::EXCTL], 100);
    EXPECT_EQ(board_->Switches(), sim::VPORT);

    // By hand: the strobe lands in whatever register the switches select.
    const Log out = Run("follow off\nswitches 0011\nenter Text1 7\npress Command1\nshow\n");
    EXPECT_EQ(board_->Latched()[sim::GCTL], 7);
    EXPECT_EQ(board_->Latched()[sim::EXCTL], 100);
    EXPECT_EQ(board_->Switches(), 0x3);
    EXPECT_FALSE(board_->FollowsPrompts());
    Run("follow on\n");
    EXPECT_TRUE(board_->FollowsPrompts());
}

TEST_P(ConsoleBoardTest, SwitchCommandsNeedTheSimulatedBoard) {
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log_, source_));
    const Log out = Run("switches 0010\nfollow off\n", false, 1);
    EXPECT_THAT(out, ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000",
                                 "error\tno simulated board: the port backend is not sim",
                                 "error\tno simulated board: the port backend is not sim"));
}

INSTANTIATE_TEST_SUITE_P(Objects, ConsoleBoardTest,
                         testing::Values(Objects::kFake, Objects::kPinbus), ObjectsName);

}  // namespace
}  // namespace panel_test
