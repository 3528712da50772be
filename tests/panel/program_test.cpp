// The lensbay program as a process: options, start-up failures, the console on standard
// input/output and the order of trace and event lines with PORTIO_TRACE=-.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

#include "panel/bitmap_template.h"
#include "panel/startup.h"
#include "platform/ui/display.h"
#include "tests/panel/support.h"
#include "tests/support/process.h"

extern char** environ;

namespace panel_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

const std::string kBin = LENSBAY_BIN_DIR;

using test_support::Outcome;

// Runs the program with the environment changed as given ("" removes a variable), feeding
// `input` to its standard input.
Outcome RunProgram(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const std::string& input) {
    return test_support::RunProcess(test_support::Command(args, env, input));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        if (::access((kBin + "/lensbay").c_str(), X_OK) != 0) GTEST_SKIP() << "lensbay not built";
        registry_ = dir_.path() + "/registry.reg";
    }
    // Registers PINBUS.OCX in this test's own registry file.
    void Register() {
        if (::access((kBin + "/regsvr").c_str(), X_OK) != 0 ||
            ::access((kBin + "/PINBUS.OCX").c_str(), R_OK) != 0) {
            GTEST_SKIP() << "regsvr or PINBUS.OCX not built";
        }
        const Outcome o =
            RunProgram({kBin + "/regsvr", kBin + "/PINBUS.OCX"}, {{"OLE_REGISTRY", registry_}}, "");
        ASSERT_EQ(o.status, 0) << o.out << o.err;
    }
    Outcome Lensbay(const std::vector<std::string>& args, const std::string& input,
                    std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv{kBin + "/lensbay"};
        argv.insert(argv.end(), args.begin(), args.end());
        env.emplace("OLE_REGISTRY", registry_);
        env.emplace("PORTIO", "sim");
        return RunProgram(argv, env, input);
    }
    TempDir dir_;
    std::string registry_;
};

TEST_F(ProgramTest, Options) {
    Outcome o = Lensbay({"--help"}, "");
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("Usage: lensbay [--console] [--help] [--version]"));
    EXPECT_THAT(o.out, HasSubstr("switches BBBB"));
    EXPECT_THAT(o.out, HasSubstr("show TextN TEXT changed=True|False"));
    // The port backends as the port service's table has them, each on a line of its own.
    EXPECT_THAT(o.out, HasSubstr("one of\n    sim    "));
    EXPECT_THAT(o.out, HasSubstr("\n    ppdev:/dev/parportN   the Linux parallel-port driver"));
    o = Lensbay({"--version"}, "");
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("lensbay 1."));
    o = Lensbay({"--frobnicate"}, "");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("unknown option \"--frobnicate\""));
    EXPECT_THAT(o.err, HasSubstr("\n    direct                x86 port instructions"));
}

TEST_F(ProgramTest, UnregisteredPinbusIsSaidPlainlyAndNoPortIsTouched) {
    const Outcome o = Lensbay({"--console"}, "show\n", {{"PORTIO_TRACE", "-"}});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, HasSubstr("is not registered (0x80040154)"));
    // The regsvr of the build is on no search path: named by its path, as the user can type it.
    EXPECT_THAT(o.err, HasSubstr("register it with: " + kBin + "/regsvr "));
    if (::access((kBin + "/PINBUS.OCX").c_str(), R_OK) == 0) {
        EXPECT_THAT(o.err, HasSubstr("/regsvr " + kBin + "/PINBUS.OCX"));
    }
}

TEST_F(ProgramTest, RefusedPortBackendIsSaidPlainly) {
    const Outcome o = Lensbay({"--console"}, "", {{"PORTIO", "bogus"}, {"PORTIO_TRACE", "-"}});
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, HasSubstr("bogus"));
}

TEST_F(ProgramTest, TraceAndEventsInTheirTrueOrder) {
    Register();
    const Outcome o =
        Lensbay({"--console"}, "enter Text1 100\npress Command1\nquit\n", {{"PORTIO_TRACE", "-"}});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(
        Lines(o.out),
        ElementsAre(
            "out8 0x077a 0x20", "out8 0x037a 0x20", "out8 0x037a 0x27",
            "box\tOperation Notice\tPlease select VPORT register A[3:0]=1000", "out8 0x037a 0x08",
            "box\tSX540 Control Panel\tPlease select EXCTL register A[3:0]=0010",
            "out8 0x0378 0x26", "out8 0x037a 0x09", "out8 0x037a 0x08", "out8 0x037a 0x08",
            "out8 0x037a 0x08", "out8 0x037a 0x08", "out8 0x037a 0x08", "out8 0x037a 0x28",
            "box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000", "out8 0x037a 0x22"));
}

// Output that cannot be written (a full disk, a closed standard output) is said once and fails
// the program, whatever else went well; a closed output never becomes a file the program opens.
TEST_F(ProgramTest, AFailedWriteToTheOutputIsSaidOnceAndFailsTheProgram) {
    Register();
    const std::string lensbay = kBin + "/lensbay";
    const std::map<std::string, std::string> env = {
        {"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", dir_.path() + "/trace"}};
    struct Case {
        const char* redirect;
        const char* said;
    };
    for (const Case& c :
         {Case{">/dev/full", "No space left on device"}, Case{">&-", "Bad file descriptor"}}) {
        SCOPED_TRACE(c.redirect);
        const Outcome o = RunProgram(
            {"/bin/sh", "-c", "exec \"$0\" --console " + std::string(c.redirect), lensbay}, env,
            "show\npress Command1\nshow\nquit\n");
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_EQ(o.err, "standard output: write failed: " + std::string(c.said) + "\n");
        std::string trace;
        ASSERT_TRUE(ReadFile(dir_.path() + "/trace", &trace));
        EXPECT_THAT(trace, HasSubstr("out8 0x037a 0x22\n")) << "Set Register did not run";
        EXPECT_THAT(trace, testing::Not(HasSubstr("box")));
    }
}

TEST_F(ProgramTest, FullCaptureFromTheConsole) {
    Register();
    const Outcome o = Lensbay({"--console"}, "press Capture\nshow\n");
    EXPECT_EQ(o.status, 0) << o.err;
    const auto lines = Lines(o.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "monitor\t6144\t4608\tpicture");
    std::string bmp;
    ASSERT_TRUE(ReadFile("image.bmp", &bmp));
    EXPECT_EQ(bmp.size(), 111959u);
    // The shipped template holds exactly the built-in bytes.
    std::string shipped;
    if (ReadFile(kBin + "/bmphead1", &shipped)) {
        EXPECT_EQ(shipped, std::string(panel::kDefaultBitmapHeader.begin(),
                                       panel::kDefaultBitmapHeader.end()));
    }
}

TEST_F(ProgramTest, WithoutADisplayTheConsoleRuns) {
    Register();
    const Outcome o =
        Lensbay({}, "quit\n", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.err, testing::AnyOf(HasSubstr("no display found; running the console front end"),
                                      HasSubstr("built without the Qt front end")));
    EXPECT_THAT(Lines(o.out),
                ElementsAre("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000"));
}

TEST(DisplayTest, PlatformAndDisplayVariables) {
    auto with = [](std::map<std::string, std::string> env) {
        return ui::DisplayAvailable([env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_FALSE(with({}));
    EXPECT_FALSE(with({{"DISPLAY", ""}}));
    EXPECT_TRUE(with({{"DISPLAY", ":0"}}));
    EXPECT_TRUE(with({{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_TRUE(with({{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_FALSE(with({{"QT_QPA_PLATFORM", "xcb"}}));
    EXPECT_FALSE(with({{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "w"}}));
    EXPECT_TRUE(with({{"QT_QPA_PLATFORM", "xcb:option"}, {"DISPLAY", ":1"}}));
    EXPECT_FALSE(with({{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":1"}}));
    EXPECT_TRUE(with({{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":1"}}));
    EXPECT_TRUE(with({{"QT_QPA_PLATFORM", "wayland-egl"}, {"WAYLAND_DISPLAY", "w"}}));
}

}  // namespace
}  // namespace panel_test
