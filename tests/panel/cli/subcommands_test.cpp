// lensbay set / reset / capture as processes: the port trace of each equals the console's for the
// same clicks, files as Capture writes them, and bad arguments or start-up failures with their
// exit status and no port cycle.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "panel/picture_files.h"
#include "tests/support/process.h"

namespace {

using test_support::Outcome;
using testing::HasSubstr;

const std::string kBin = LENSBAY_BIN_DIR;

class SubcommandTest : public testing::Test {
protected:
    void SetUp() override {
        registry_ = dir_.path() + "/registry.reg";
        const Outcome o = test_support::RunProcess(test_support::Command(
            {kBin + "/regsvr", kBin + "/PINBUS.OCX"}, {{"OLE_REGISTRY", registry_}}));
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        ASSERT_EQ(::mkdir((dir_.path() + "/cli").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((dir_.path() + "/console").c_str(), 0700), 0);
    }
    // Runs lensbay in dir_/WHERE with the trace going to dir_/WHERE.trace; *trace gets it.
    Outcome Lensbay(const std::string& where, std::vector<std::string> args,
                    const std::string& input = "", std::string* trace = nullptr,
                    std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), kBin + "/lensbay");
        const std::string trace_file = dir_.path() + "/" + where + ".trace";
        env.emplace("OLE_REGISTRY", registry_);
        env.emplace("PORTIO", "sim");
        env.emplace("PORTIO_TRACE", trace_file);
        test_support::Command c(args, env, input);
        c.cwd = dir_.path() + "/" + where;
        const Outcome o = test_support::RunProcess(c);
        if (trace) {
            trace->clear();
            test_support::ReadWholeFile(trace_file, trace);
        }
        return o;
    }
    std::string File(const std::string& path) {
        std::string bytes;
        EXPECT_TRUE(test_support::ReadWholeFile(dir_.path() + "/" + path, &bytes)) << path;
        return bytes;
    }
    test_support::TempDir dir_;
    std::string registry_;
};

TEST_F(SubcommandTest, SetWritesWhatTheWindowWritesCycleForCycle) {
    std::string cli, console;
    Outcome o =
        Lensbay("cli",
                {"set", "exposure=50", "gain=3", "divider=2", "h_start=1", "h_end=5", "v_start=2",
                 "v_end=6", "gamma=0.45", "mirror=on", "mode=outdoor", "backlight=on"},
                "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr("Please select EXCTL register A[3:0]=0010"));
    o = Lensbay("console", {"--console"},
                "enter Text1 50\nenter Text2 3\nenter Text3 2\nenter Text4 1\nenter Text5 5\n"
                "enter Text6 2\nenter Text7 6\noption Option1 0\noption Option2 0\n"
                "option Option3 1\noption Option4 0\npress Command1\n",
                &console);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_GT(cli.size(), 400u);
    EXPECT_EQ(cli, console);

    // Only what is named: the gain register and nothing else.
    Lensbay("cli", {"set", "gain=7"}, "", &cli);
    Lensbay("console", {"--console"}, "enter Text2 7\npress Command1\n", &console);
    EXPECT_EQ(cli, console);
    EXPECT_THAT(cli, Not(HasSubstr("out8 0x037a 0x00")));  // no FRCTL block
}

TEST_F(SubcommandTest, ResetIsDefaultSetting) {
    std::string cli, console;
    ASSERT_EQ(Lensbay("cli", {"reset", "--yes"}, "", &cli).status, 0);
    ASSERT_EQ(Lensbay("console", {"--console"}, "press Command2\n", &console).status, 0);
    EXPECT_EQ(cli, console);
    EXPECT_THAT(cli, HasSubstr("out8 0x0378 0x80"));
}

TEST_F(SubcommandTest, CaptureWritesWhatCaptureWritesAndConvertsByExtension) {
    std::string cli, console;
    // Set Register of the window's fields, then Capture.
    Outcome o = Lensbay("cli", {"capture", "--window", "1,5,2,0"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    o = Lensbay("console", {"--console"},
                "enter Text4 1\nenter Text5 5\nenter Text6 2\nenter Text7 0\npress Command1\n"
                "press Capture\n",
                &console);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(cli, console);
    const std::string bmp = File("console/image.bmp");
    const std::string raw = File("console/image.raw");
    EXPECT_EQ(File("cli/image.bmp"), bmp);
    EXPECT_EQ(File("cli/image.raw"), raw);

    // -o: the working directory's files stay as they are; .bmp and .raw are Capture's bytes.
    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/cli/image.bmp", "mine"));
    for (const char* name : {"out.bmp", "out.raw", "out.pgm", "out.png"}) {
        o = Lensbay("cli", {"capture", "-o", name, "--window", "1,5,2,0"}, "", &cli);
        ASSERT_EQ(o.status, 0) << name << o.err;
        EXPECT_EQ(cli, console) << name;
    }
    EXPECT_EQ(File("cli/image.bmp"), "mine");
    EXPECT_EQ(File("cli/out.bmp"), bmp);
    EXPECT_EQ(File("cli/out.raw"), raw);
    // 96 x 252 pixels; the top row of the picture is the bitmap's last stored row.
    const std::string pgm = File("cli/out.pgm");
    ASSERT_EQ(pgm.substr(0, 14), "P5\n96 252\n255\n");
    EXPECT_EQ(pgm.size(), 14u + 96u * 252u);
    EXPECT_EQ(pgm.substr(14, 96), bmp.substr(1078 + 251 * 96, 96));
    EXPECT_EQ(File("cli/out.png").substr(1, 3), "PNG");

    // --no-set: Capture alone, as the window's button.
    o = Lensbay("cli", {"capture", "--no-set", "--window", "1,5,2,0"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    Lensbay("console", {"--console"},
            "enter Text4 1\nenter Text5 5\nenter Text6 2\nenter Text7 0\npress Capture\n",
            &console);
    EXPECT_EQ(cli, console);

    // The full frame is a window too: its registers are written before it is read.
    o = Lensbay("cli", {"capture"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    Lensbay("console", {"--console"},
            "enter Text4 0\nenter Text5 0\nenter Text6 0\nenter Text7 0\npress Command1\n"
            "press Capture\n",
            &console);
    EXPECT_EQ(cli, console);
    EXPECT_THAT(o.err, HasSubstr("Please select HWCTL register"));

    // Several frames: the window's load once, then Capture after Capture.
    o = Lensbay("cli", {"capture", "--no-set", "--count", "3", "-o", "f-%02d.pgm"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    Lensbay("console", {"--console"}, "press Capture\npress Capture\npress Capture\n", &console);
    EXPECT_EQ(cli, console);
    EXPECT_THAT(o.err, HasSubstr("frame 3 of 3: \"f-03.pgm\""));
    EXPECT_NE(File("cli/f-01.pgm"), File("cli/f-02.pgm"));  // the scene moves

    // --count 1 numbers its one frame as any count does; without --count the name is literal.
    o = Lensbay("cli", {"capture", "--no-set", "--count", "1", "-q", "-o", "one-%d.pgm"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(File("cli/one-1.pgm").substr(0, 2), "P5");
    EXPECT_THAT(File("cli/one-1.json"), HasSubstr("\"frame\": {\"number\": 1, \"of\": 1,"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/cli/one-%d.pgm"));
    o = Lensbay("cli", {"capture", "--no-set", "-q", "-o", "lit-%d.pgm"}, "", &cli);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(File("cli/lit-%d.pgm").substr(0, 2), "P5");
    EXPECT_TRUE(std::filesystem::exists(dir_.path() + "/cli/lit-%d.json"));
}

// -o writes the frame it read straight into the user's file: under the working directory's header
// file as Capture's bitmap would be, with no temporary folder (an unusable TMPDIR does not
// matter) and no image.bmp or image.raw left anywhere.
TEST_F(SubcommandTest, CaptureOutputsComeStraightFromTheFrameUnderTheFoldersHeader) {
    std::string cli, console;
    ASSERT_EQ(Lensbay("console", {"--console"}, "press Capture\n").status, 0);
    std::string header = File("console/image.bmp").substr(0, 1078);
    header[54 + 4 * 7] = '\x5a';  // one palette entry of our own
    for (const char* where : {"cli", "console"}) {
        ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/" + where + "/bmphead1", header));
    }
    ASSERT_EQ(Lensbay("console", {"--console"}, "press Capture\n", &console).status, 0);
    for (const char* name : {"out.bmp", "out.raw"}) {
        const Outcome o = Lensbay("cli", {"capture", "--no-set", "-q", "-o", name}, "", &cli,
                                  {{"TMPDIR", dir_.path() + "/no/such/folder"}});
        ASSERT_EQ(o.status, 0) << name << o.err;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(cli, console) << name;
    }
    EXPECT_EQ(File("cli/out.bmp"), File("console/image.bmp"));
    EXPECT_EQ(File("cli/out.bmp")[54 + 4 * 7], '\x5a');
    EXPECT_EQ(File("cli/out.raw"), File("console/image.raw"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/cli/image.bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/cli/image.raw"));
}

TEST_F(SubcommandTest, TheSimulatedBoardKeepsItsRegistersBetweenPrograms) {
    // Set Register then Capture in one program, against set then capture in two programs that
    // share one kept board: the same straight picture.
    const std::map<std::string, std::string> kept = {{"LENSBAY_SIM_STATE", dir_.path() + "/board"}};
    Outcome o = Lensbay("console", {"--console"},
                        "enter Text4 4\nenter Text5 12\nenter Text6 4\nenter Text7 12\n"
                        "press Command1\npress Capture\n");
    ASSERT_EQ(o.status, 0) << o.err;
    o = Lensbay("cli", {"set", "h_start=4", "h_end=12", "v_start=4", "v_end=12"}, "", nullptr,
                kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(File("board"), HasSubstr("register HWCTL 4c\nregister VWCTL 4c\n"));
    o = Lensbay("cli", {"capture", "--no-set", "--window", "4,12,4,12"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(File("cli/image.bmp"), File("console/image.bmp"));

    // Powered off and on: the chip's reset state, and a capture of the window is sheared again.
    o = Lensbay("cli", {"power-cycle"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(File("board"), Not(HasSubstr("register")));
    o = Lensbay("cli", {"capture", "--no-set", "--window", "4,12,4,12"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(File("cli/image.bmp"), File("console/image.bmp"));
    // Without --no-set the capture sets the window itself: straight again on a fresh board.
    o = Lensbay("cli", {"power-cycle"}, "", nullptr, kept);
    o = Lensbay("cli", {"capture", "--window", "4,12,4,12"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(File("cli/image.bmp"), File("console/image.bmp"));

    // A damaged state opens no port and says how to start afresh.
    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/board", "garbage\n"));
    std::string trace;
    ASSERT_EQ(::unlink((dir_.path() + "/cli.trace").c_str()), 0);
    o = Lensbay("cli", {"reset"}, "", &trace, kept);
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("is damaged"));
    EXPECT_THAT(o.err, HasSubstr("lensbay power-cycle"));
    EXPECT_TRUE(trace.empty()) << trace.size() << " bytes of trace";
    EXPECT_EQ(File("board"), "garbage\n");  // kept for whoever wants to look at it
    EXPECT_EQ(Lensbay("cli", {"power-cycle"}, "", nullptr, kept).status, 0);
    EXPECT_EQ(Lensbay("cli", {"reset", "--yes"}, "", nullptr, kept).status, 0);

    // The console's power-cycle does the same to the kept board.
    ASSERT_EQ(Lensbay("cli", {"set", "h_start=4"}, "", nullptr, kept).status, 0);
    EXPECT_THAT(File("board"), HasSubstr("register HWCTL"));
    o = Lensbay("console", {"--console"}, "power-cycle\n", nullptr, kept);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(File("board"), Not(HasSubstr("register")));

    // LENSBAY_SIM_STATE set to nothing asks for a fresh board in each program, said once.
    test_support::Command fresh({"/usr/bin/env", "LENSBAY_SIM_STATE=", kBin + "/lensbay", "reset"},
                                {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}});
    fresh.cwd = dir_.path() + "/cli";
    o = test_support::RunProcess(fresh);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr("LENSBAY_SIM_STATE is set to nothing, so the board starts fresh"));
}

// Every program notes what it writes in the board's record: status shows it with its writer,
// the simulated board's own registers beside it (a value latched elsewhere marked), works while
// another program holds the port, and a power-cycle empties it.
TEST_F(SubcommandTest, StatusShowsWhatEachProgramWroteBesideTheBoardsRegisters) {
    const std::map<std::string, std::string> kept = {{"LENSBAY_SIM_STATE", dir_.path() + "/board"}};
    ASSERT_EQ(Lensbay("cli", {"set", "exposure=40", "mirror=on"}, "", nullptr, kept).status, 0);
    Outcome o = Lensbay("console", {"--console"},
                        "enter Text2 3\npress Command1\nfollow off\nswitches 0011\n"
                        "enter Text1 7\npress Command1\nfollow on\nstatus\n",
                        nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    // The console wrote gain 3, then exposure 7 into GCTL (its switches selected it by hand).
    EXPECT_THAT(o.out, testing::ContainsRegex("status\texposure\tEXCTL\t0..127\t64\t7\t"
                                              "[-0-9T:Z]+\tlensbay --console\t40 \\(differs\\)\n"));
    EXPECT_THAT(o.out, HasSubstr("\tlensbay --console\t7 (differs)\n"));  // gain
    EXPECT_THAT(o.out, HasSubstr("status\tmirror\tMCTL\ton|off\toff\ton\t"));
    EXPECT_THAT(o.out, HasSubstr("status\tdivider\tFRCTL\t1..128\t1\tnot written since "
                                 "power-on\t-\t-\t1\n"));

    // Another program holds the port: status reads the record and the board all the same.
    const int fd =
        ::open((dir_.path() + "/board.port").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    std::string trace;
    ASSERT_EQ(::unlink((dir_.path() + "/cli.trace").c_str()), 0);  // the set's; status adds none
    o = Lensbay("cli", {"status", "--json"}, "", &trace, kept);
    ::close(fd);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(trace, "");
    EXPECT_THAT(o.out, HasSubstr("\"record\": \"" + dir_.path() + "/board.registers\""));
    EXPECT_THAT(o.out, HasSubstr("{\"name\": \"mirror\", \"register\": \"MCTL\", \"address\": "
                                 "\"0101\", \"range\": [\"on\", \"off\"], \"default\": \"off\", "
                                 "\"written\": {\"value\": \"on\", \"reset\": false, \"time\": "));
    EXPECT_THAT(o.out,
                HasSubstr("\"by\": \"lensbay set\"}, \"board\": \"on\", \"differs\": false}"));

    ASSERT_EQ(Lensbay("cli", {"power-cycle"}, "", nullptr, kept).status, 0);
    o = Lensbay("cli", {"status"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, testing::ContainsRegex("\nexposure +EXCTL +0010 +0..127 +64 +not written "
                                              "since power-on +64\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("lensbay --console")));

    // A damaged record is said, and the board is shown all the same.
    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/board.registers", "junk"));
    o = Lensbay("cli", {"status"}, "", nullptr, kept);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("board.registers\" is damaged"));
    EXPECT_THAT(o.out, HasSubstr("BOARD"));
}

// A damaged board state and a damaged record are said alike (standard error, the table, the JSON's
// "board_problem" and "record_problem", status 1); a PORTIO that names no backend is refused as
// set refuses it; a record that cannot be used is said as it is and the run is not recorded.
TEST_F(SubcommandTest, StatusSaysEveryProblemAlikeAndARecordThatCannotBeUsedIsSaidAsItIs) {
    const std::map<std::string, std::string> kept = {{"LENSBAY_SIM_STATE", dir_.path() + "/board"}};
    const std::string record = dir_.path() + "/board.registers";
    ASSERT_EQ(Lensbay("cli", {"set", "gain=1"}, "", nullptr, kept).status, 0);

    ASSERT_TRUE(test_support::WriteWholeFile(record, "junk"));
    Outcome o = Lensbay("cli", {"status", "--json"}, "", nullptr, kept);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.out, HasSubstr("  \"record_problem\": \"the register record \\\"" + record +
                                 "\\\" is damaged (line 1: not a register record"));
    EXPECT_THAT(o.out, HasSubstr("\"switches\": \"1000\""));  // the board is read all the same
    ASSERT_EQ(::unlink(record.c_str()), 0);

    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/board", "junk\n"));
    o = Lensbay("cli", {"status", "--json"}, "", nullptr, kept);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.out, HasSubstr("  \"board_problem\": "));
    EXPECT_THAT(o.err, HasSubstr("lensbay status: "));
    ASSERT_EQ(::unlink((dir_.path() + "/board").c_str()), 0);

    std::string trace;
    o = Lensbay("cli", {"status"}, "", &trace, {{"PORTIO", "bogus"}});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, testing::StartsWith("lensbay status: PORTIO=\"bogus\" is not a port "
                                           "backend; accepted: "));
    EXPECT_EQ(o.out, "");

    // A link, a FIFO or a folder in the record's place: the set is done, the run not recorded.
    for (const std::string kind : {"link", "fifo", "folder"}) {
        const int made = kind == "link"   ? ::symlink("elsewhere", record.c_str())
                         : kind == "fifo" ? ::mkfifo(record.c_str(), 0600)
                                          : ::mkdir(record.c_str(), 0700);
        ASSERT_EQ(made, 0) << kind;
        o = Lensbay("cli", {"set", "gain=2"}, "", nullptr, kept);
        EXPECT_EQ(o.status, 0) << o.err;
        const std::string as_it_is = kind == "link"   ? "is a symbolic link, not followed"
                                     : kind == "fifo" ? "is a FIFO, not a regular file"
                                                      : "is a directory, not a regular file";
        EXPECT_THAT(o.err, HasSubstr("lensbay: the register record \"" + record + "\" " + as_it_is +
                                     ": this run is not recorded\n"))
            << kind;
        EXPECT_THAT(o.err, Not(HasSubstr("afresh")));
        EXPECT_EQ(::remove(record.c_str()), 0);
    }
}

// Another program (any user who may read the record) holding the record's lock makes no program
// wait: a set goes through and is recorded, and status reads the record at once.
TEST_F(SubcommandTest, AHeldRecordLockMakesNoProgramWait) {
    const std::map<std::string, std::string> kept = {{"LENSBAY_SIM_STATE", dir_.path() + "/board"}};
    const std::string record = dir_.path() + "/board.registers";
    ASSERT_EQ(Lensbay("cli", {"set", "gain=1"}, "", nullptr, kept).status, 0);
    const int fd = ::open(record.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    std::string trace;
    Outcome o = Lensbay("cli", {"set", "exposure=33"}, "", &trace, kept);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, Not(HasSubstr("lensbay:")));               // the prompts alone
    EXPECT_THAT(trace, testing::EndsWith("out8 0x037a 0x22\n"));  // the sequence ran to its end
    o = Lensbay("cli", {"status"}, "", nullptr, kept);
    ::close(fd);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, testing::ContainsRegex("\nexposure +EXCTL +0010 +0..127 +64 +33 "));

    // The simulated board's own lock, kept by another program, is waited for a bounded while
    // only: the program stops saying why, before any port cycle.
    const int state_lock = ::open((dir_.path() + "/board.lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(state_lock, 0);
    ASSERT_EQ(::flock(state_lock, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::unlink((dir_.path() + "/cli.trace").c_str()), 0);  // the last set's
    o = Lensbay("cli", {"set", "exposure=34"}, "", &trace, kept);
    ::close(state_lock);
    EXPECT_NE(o.status, 0);
    EXPECT_THAT(o.err, HasSubstr("board.lock' is held by another program for longer than 2000 ms"));
    EXPECT_EQ(trace, "");
}

// Every picture capture writes has its record beside it, with the frame's number in the series
// and its time, and the registers as the board's record holds them; a summary ends the capture,
// and -q leaves only errors. A file of the record's name that is not one is kept.
TEST_F(SubcommandTest, EveryCapturedPictureHasItsRecordAndTheCaptureASummary) {
    const std::map<std::string, std::string> kept = {{"LENSBAY_SIM_STATE", dir_.path() + "/board"}};
    ASSERT_EQ(Lensbay("cli", {"set", "exposure=40"}, "", nullptr, kept).status, 0);
    Outcome o =
        Lensbay("cli", {"capture", "-o", "shot.png", "--window", "4,12,4,12"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string shot = File("cli/shot.json");
    EXPECT_THAT(shot, testing::StartsWith("{\n  \"width\": 192,\n  \"height\": 144,\n"));
    EXPECT_THAT(
        shot,
        HasSubstr(
            "\"EXCTL\": {\"value\": 40, \"reset\": false, \"time\": "));  // by another program
    EXPECT_THAT(shot, HasSubstr("\"HWCTL\": {\"value\": 76, "));
    EXPECT_THAT(
        shot, testing::ContainsRegex("\n  \"frame\": \\{\"number\": 1, \"of\": 1, \"time\": "
                                     "\"[-0-9T:]+\\.[0-9]{3}Z\", \"seconds\": [0-9.]+\\}\n\\}\n$"));
    EXPECT_THAT(o.err, testing::ContainsRegex("lensbay: 1 frame in [0-9.]+ s, [0-9.]+ frames a "
                                              "second\n$"));

    o = Lensbay("cli", {"capture", "--no-set", "--count", "3", "-o", "f-%02d.pgm", "-q"}, "",
                nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_THAT(File("cli/f-02.json"), HasSubstr("\"frame\": {\"number\": 2, \"of\": 3, "));
    EXPECT_THAT(File("cli/f-03.json"), HasSubstr("\"width\": 384"));

    // Without -o: image.json beside image.bmp, as the window's Capture writes it.
    o = Lensbay("cli", {"capture", "--no-set", "-q"}, "", nullptr, kept);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(File("cli/image.json"), HasSubstr("\"frame\": {\"number\": 1, \"of\": 1, "));

    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/cli/shot.json", "{\"mine\": 1}\n"));
    o = Lensbay("cli", {"capture", "--no-set", "-o", "shot.png"}, "", nullptr, kept);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("the picture \"shot.png\" was written, but no record: "
                                 "\"" +
                                 dir_.path() +
                                 "/cli/shot.json\" is not a picture record and "
                                 "was kept as it is."));
    EXPECT_EQ(File("cli/shot.json"), "{\"mine\": 1}\n");

    // A link in the record's place is never followed, whether it names no file yet (a file the
    // link's planter wants made elsewhere) or a record of ours: the link stays, nothing is made.
    const std::string elsewhere = dir_.path() + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(
        ::symlink((elsewhere + "/made.json").c_str(), (dir_.path() + "/cli/lnk.json").c_str()), 0);
    ASSERT_TRUE(test_support::WriteWholeFile(elsewhere + "/ours.json", File("cli/image.json")));
    ASSERT_EQ(
        ::symlink((elsewhere + "/ours.json").c_str(), (dir_.path() + "/cli/own.json").c_str()), 0);
    for (const char* name : {"lnk", "own"}) {
        o = Lensbay("cli", {"capture", "--no-set", "-q", "-o", std::string(name) + ".png"}, "",
                    nullptr, kept);
        EXPECT_EQ(o.status, 1) << name;
        EXPECT_THAT(o.err, HasSubstr(std::string(name) + ".json\" is a symbolic link, which is not "
                                                         "followed, and was kept as it is."));
        struct stat st {};
        ASSERT_EQ(::lstat((dir_.path() + "/cli/" + name + ".json").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/made.json"));
    EXPECT_EQ(File("elsewhere/ours.json"), File("cli/image.json"));
    // A link planted between the check and the write is refused by the write itself.
    ASSERT_EQ(::symlink((elsewhere + "/late.json").c_str(), (dir_.path() + "/late.json").c_str()),
              0);
    const base::Result<> late = panel::WriteRecordFile(dir_.path() + "/late.json", "{}\n");
    EXPECT_THAT(late.message(), HasSubstr("is a symbolic link, which is not followed"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/late.json"));
}

// A word that names no subcommand is never taken for one: status 1, no port cycle, the list of
// subcommands and the nearest name. The usage lists each subcommand from the same table.
TEST_F(SubcommandTest, AnUnknownSubcommandIsRefusedWithTheNearestName) {
    std::string trace;
    Outcome o = Lensbay("cli", {"captrue", "-o", "x.png"}, "", &trace);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(trace, "");
    EXPECT_EQ(o.err,
              "lensbay: unknown subcommand \"captrue\"; did you mean capture?\n"
              "The subcommands: set, reset, capture, status, power-cycle (each with --help); "
              "lensbay --help says the rest.\n");
    o = Lensbay("cli", {"\x1b[2Jzzz"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("unknown subcommand \"\\x1b[2Jzzz\"\n"));
    o = Lensbay("cli", {"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* line : {"lensbay set [--yes] [-q] KEY=VALUE...\n", "lensbay status [--json]\n",
                             "lensbay power-cycle\n", "    status       every register"})
        EXPECT_THAT(o.out, HasSubstr(line));
    o = Lensbay("cli", {"power-cycle", "now"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("lensbay power-cycle: unknown argument \"now\""));
    // The console's status says whether any command failed.
    o = Lensbay("console", {"--console"}, "show\nbogus\nshow\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(Lensbay("console", {"--console"}, "show\n").status, 0);
}

TEST_F(SubcommandTest, APortInUseIsRefusedAtOnceNamingItsHolder) {
    // Another program holds the kept board's port: its lock beside the state file, its name in it.
    const std::string board = dir_.path() + "/board";
    const int fd = ::open((board + ".port").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::write(fd, "holder 4242\n", 12), 12);
    std::string trace = "stale";
    ASSERT_EQ(::unlink((dir_.path() + "/cli.trace").c_str()) == 0 || errno == ENOENT, true);
    Outcome o = Lensbay("cli", {"reset", "--yes"}, "", &trace, {{"LENSBAY_SIM_STATE", board}});
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.err, "lensbay: the port 0x378 (the simulated board kept in " + board +
                         ") is in use by holder, process 4242\n");
    EXPECT_TRUE(trace.empty());
    // Nor can the board be power-cycled under its holder.
    o = Lensbay("cli", {"power-cycle"}, "", nullptr, {{"LENSBAY_SIM_STATE", board}});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("is in use by holder, process 4242"));
    ::close(fd);  // the holder ends: the port is free
    o = Lensbay("cli", {"reset", "--yes"}, "", &trace, {{"LENSBAY_SIM_STATE", board}});
    EXPECT_EQ(o.status, 0) << o.err;
}

TEST_F(SubcommandTest, BadArgumentsTouchNoPort) {
    const std::vector<std::vector<std::string>> bad = {
        {"set", "exposure=50", "gain=x"},
        {"set", "colour=red"},
        {"set", "divider=3e9"},  // 3e9 - 1 is past Set Register's 32-bit conversion
        {"set", "h_start=2e8"},
        {"set"},
        {"reset", "now"},
        {"capture", "--window", "16,0,0,0"},
        {"capture", "--window", "1,2,3"},
        {"capture", "--count", "0"},
        {"capture", "--count"},
        {"capture", "--count", "2", "--count", "3"},
        {"capture", "--window", "1,5,2,6", "--window", "0,1,0,1"},
        {"capture", "-o", "out.jpg"},
        {"capture", "-o", "no/such/dir/out.png"},
        {"capture", "-o", "a%s.png", "--count", "2"},
    };
    for (const auto& args : bad) {
        std::string trace;
        const Outcome o = Lensbay("cli", args, "", &trace);
        EXPECT_EQ(o.status, 1) << args.back();
        EXPECT_EQ(trace, "") << args.back();
        EXPECT_THAT(o.err, HasSubstr("lensbay " + args[0] + ":")) << args.back();
    }
    Outcome o = Lensbay("cli", {"capture", "--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("Usage: lensbay capture"));

    // Arguments echoed in messages: control characters escaped, a huge one cut with a note.
    const std::string title = "\x1b]2;owned\x07";
    const std::string huge = std::string(100000, 'a') + ".png";
    const std::vector<std::pair<std::vector<std::string>, std::string>> echoed = {
        {{"capture", "--count", title}, "--count \"\\x1b]2;owned\\x07\": must be"},
        {{"capture", "-o", "no/" + title + ".png"},
         "-o \"no/\\x1b]2;owned\\x07.png\": cannot write into \"no\""},
        {{"capture", "-o", title}, "-o \"\\x1b]2;owned\\x07\": the name must end in"},
        {{"capture", "--window", title}, "--window \"\\x1b]2;owned\\x07\": give four"},
        {{"capture", title}, "unknown argument \"\\x1b]2;owned\\x07\""},
        {{"capture", "-o", "no/" + huge}, "(cut; 100007 bytes in all): cannot write into"},
        {{"capture", "--count", huge}, "(cut; 100004 bytes in all): must be"},
    };
    for (const auto& [args, expected] : echoed) {
        o = Lensbay("cli", args);
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.err, HasSubstr(expected));
        EXPECT_EQ(o.err.find('\x1b'), std::string::npos) << o.err;
        EXPECT_LT(o.err.size(), 1000u);
    }
}

// -o writes as Capture writes its own files: a FIFO or a link to a device in the name's place is
// refused at once with what it is, and the file stays as it is.
TEST_F(SubcommandTest, OutputsThatAreNoRegularFileAreRefusedWithoutBlocking) {
    const std::string cli = dir_.path() + "/cli";
    ASSERT_EQ(::mkfifo((cli + "/f.pgm").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", (cli + "/null.png").c_str()), 0);
    ASSERT_EQ(::mkdir((cli + "/d.png").c_str(), 0700), 0);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"f.pgm", "/cli/f.pgm\": it is a FIFO, not a regular file"},
        {"null.png", "/cli/null.png\": it is a device, not a regular file"},
        {"d.png", "/cli/d.png\": it is a directory, not a regular file"},
    };
    for (const auto& [name, message] : refused) {
        test_support::Command c({kBin + "/lensbay", "capture", "-o", name},
                                {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}});
        c.cwd = cli;
        c.timeout_seconds = 20;
        const Outcome o = test_support::RunProcess(c);
        EXPECT_FALSE(o.timed_out) << name;
        EXPECT_EQ(o.status, 1) << name;
        EXPECT_THAT(o.err, HasSubstr(message));
    }
    struct stat st {};
    ASSERT_EQ(::lstat((cli + "/null.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat((cli + "/f.pgm").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SubcommandTest, StartFailuresHaveTheirExitStatus) {
    std::string trace;
    Outcome o =
        Lensbay("cli", {"reset"}, "", &trace, {{"OLE_REGISTRY", dir_.path() + "/none.reg"}});
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("register it with: " + kBin + "/regsvr "));
    EXPECT_EQ(trace, "");
    o = Lensbay("cli", {"reset"}, "", &trace, {{"PORTIO", "ppdev:/nonexistent/parport7"}});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("/nonexistent/parport7"));
}

TEST_F(SubcommandTest, AFailedOperationIsStatusOne) {
    // A file error after the frame was read: said on standard error.
    ASSERT_EQ(::mkdir((dir_.path() + "/cli/image.bmp").c_str(), 0700), 0);
    const Outcome o = Lensbay("cli", {"capture"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("lensbay: Can't create the bmp file."));
}

}  // namespace
