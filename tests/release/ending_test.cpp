// SIGTERM, SIGINT, SIGHUP and SIGPIPE in the middle of a handshake: the program ends the handshake
// the way its own sequences end theirs, leaves the port idle (the last control write is 0x27),
// removes its temporary files and folders, and ends with the signal. The signal is sent once the
// port trace shows the program inside the sequence, never after a guessed delay.
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/process.h"

namespace release_test {
using namespace test_support;
namespace {

using testing::ElementsAreArray;
using testing::IsEmpty;

const std::string kLensbay = LENSBAY_PATH;
const std::string kRegsvr = REGSVR_PATH;
const std::string kPinbus = PINBUS_PATH;

constexpr char kControl[] = "out8 0x037a ";

// The values of the control writes in the trace, in order ("2a" for "out8 0x037a 0x2a").
std::vector<std::string> ControlWrites(const std::string& trace_path) {
    std::vector<std::string> values;
    std::ifstream trace(trace_path);
    for (std::string line; std::getline(trace, line);) {
        if (line.rfind(kControl, 0) == 0) values.push_back(line.substr(sizeof kControl - 1 + 2));
    }
    return values;
}

// Whether the trace's last complete line is `line`. Reads only its end: a live trace grows by
// megabytes a second.
bool TraceEndsWith(const std::string& trace_path, const std::string& line) {
    std::ifstream trace(trace_path, std::ios::binary | std::ios::ate);
    if (!trace) return false;
    const std::streamoff size = trace.tellg();
    const std::streamoff back = std::min<std::streamoff>(size, 256);
    trace.seekg(size - back);
    std::string tail(static_cast<std::size_t>(back), '\0');
    trace.read(tail.data(), back);
    if (tail.empty() || tail.back() != '\n') return false;
    tail.pop_back();
    const std::size_t start = tail.rfind('\n');
    return tail.substr(start == std::string::npos ? 0 : start + 1) == line;
}

// Sends `sig` once `ready` holds (polled every 2 ms), or gives up when the child has ended or 30 s
// have passed. Says what happened in *sent.
std::function<void(pid_t, const std::atomic<bool>&)> SignalWhen(std::function<bool()> ready,
                                                                int sig, bool* sent) {
    return [ready = std::move(ready), sig, sent](pid_t pid, const std::atomic<bool>& ended) {
        for (int i = 0; i < 15000 && !ended; ++i) {
            if (ready()) {
                *sent = ::kill(pid, sig) == 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
}

// The last control writes, `count` of them.
std::vector<std::string> Last(const std::vector<std::string>& v, std::size_t count) {
    return {v.end() - static_cast<std::ptrdiff_t>(std::min(count, v.size())), v.end()};
}

class EndingTest : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        registry_ = dir_.File("registry.reg");
        const Outcome o = RunProcess({{kRegsvr, kPinbus}, {{"OLE_REGISTRY", registry_}}});
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        work_ = dir_.File("work");
        tmp_ = dir_.File("tmp");
        ASSERT_TRUE(std::filesystem::create_directory(work_));
        ASSERT_TRUE(std::filesystem::create_directory(tmp_));
    }

    Command Lensbay(std::vector<std::string> args, std::string input = "") {
        args.insert(args.begin(), kLensbay);
        Command c(std::move(args),
                  {{"OLE_REGISTRY", registry_},
                   {"PORTIO", "sim"},
                   {"PORTIO_TRACE", trace_},
                   {"TMPDIR", tmp_},
                   {"LENSBAY_SIM_STATE", dir_.File("sim-board")}},
                  std::move(input));
        c.cwd = work_;
        return c;
    }

    // Runs the command, sending `sig` once the trace's last line is `line`; checks that the
    // signal ended it after the port was left idle.
    std::vector<std::string> EndedBySignal(Command c, const std::string& line) {
        const int sig = GetParam();
        bool sent = false;
        c.while_running = SignalWhen([&] { return TraceEndsWith(trace_, line); }, sig, &sent);
        const Outcome o = RunProcess(c);
        EXPECT_TRUE(sent) << "never saw \"" << line << "\"\n" << o.err;
        EXPECT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, 128 + sig) << o.err;
        const std::vector<std::string> controls = ControlWrites(trace_);
        EXPECT_THAT(Last(controls, 1), ElementsAreArray({"27"}));
        return controls;
    }

    TempDir dir_{"ending"};
    std::string registry_, work_, tmp_, trace_ = dir_.File("trace");
};

TEST_P(EndingTest, CaptureCountEndsItsFrameAndRemovesItsFolder) {
    // Inside a frame's handshake: the pulse is finished (0x2B) and the frame ended (0x27); the
    // private folder for -o goes with the process.
    const std::vector<std::string> controls = EndedBySignal(
        Lensbay({"capture", "-o", "frame.pgm", "--count", "1000"}), "out8 0x037a 0x2a");
    EXPECT_THAT(Last(controls, 3), ElementsAreArray({"2a", "2b", "27"}));
    EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "a temporary folder was left in " << tmp_;
    for (const auto& e : std::filesystem::directory_iterator(work_))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
}

TEST_P(EndingTest, ConsoleLiveEndsItsFrame) {
    const std::vector<std::string> controls =
        EndedBySignal(Lensbay({"--console"}, "live 1000\n"), "out8 0x037a 0x2b");
    EXPECT_THAT(Last(controls, 2), ElementsAreArray({"2b", "27"}));
}

TEST_P(EndingTest, RegisterPromptReleasesTheDataLinesFirst) {
    // The switches set by hand: the register prompt waits for Enter with the data lines driven
    // (0x08) and the signal comes while the program reads its input.
    Command off = Lensbay({"--console"}, "follow off\n");
    ASSERT_EQ(RunProcess(off).status, 0);
    Command set = Lensbay({"set", "exposure=40"}, "\n");  // Enter for the start-up notice
    set.keep_input_open = true;
    const std::vector<std::string> controls = EndedBySignal(set, "out8 0x037a 0x08");
    EXPECT_THAT(Last(controls, 3), ElementsAreArray({"08", "28", "27"}));
}

TEST_P(EndingTest, ConsoleBetweenCommandsLeavesTheRestingPort) {
    // Set Register ends with 0x22; a signal while the console waits for its next command ends
    // nothing and writes nothing more.
    Command c = Lensbay({"--console"}, "enter Text1 40\npress Command1\n");
    c.keep_input_open = true;
    bool sent = false;
    c.while_running =
        SignalWhen([&] { return TraceEndsWith(trace_, "out8 0x037a 0x22"); }, GetParam(), &sent);
    const Outcome o = RunProcess(c);
    EXPECT_TRUE(sent) << o.err;
    EXPECT_EQ(o.status, 128 + GetParam()) << o.err;
    EXPECT_THAT(Last(ControlWrites(trace_), 2), ElementsAreArray({"28", "22"}));
}

TEST_P(EndingTest, CaptureEndedByAFileErrorKeepsItsEnding) {
    // image.raw cannot be written (a folder has its name): the capture ends at 0x2B, its own
    // ending, and a signal afterwards leaves it so. The settings file written by the next
    // command shows that the capture is over.
    ASSERT_TRUE(std::filesystem::create_directory(work_ + "/image.raw"));
    Command c = Lensbay({"--console"}, "press Capture\nsave-settings done.txt\n");
    c.keep_input_open = true;
    bool sent = false;
    const std::string done = work_ + "/done.txt";
    c.while_running = SignalWhen([&] { return std::filesystem::exists(done); }, GetParam(), &sent);
    const Outcome o = RunProcess(c);
    EXPECT_TRUE(sent) << o.out << o.err;
    EXPECT_THAT(o.out, testing::HasSubstr("Can't create the .raw file."));
    EXPECT_EQ(o.status, 128 + GetParam()) << o.err;
    EXPECT_THAT(Last(ControlWrites(trace_), 2), ElementsAreArray({"2a", "2b"}));
}

std::string SignalName(const testing::TestParamInfo<int>& info) {
    return info.param == SIGTERM  ? "SIGTERM"
           : info.param == SIGINT ? "SIGINT"
           : info.param == SIGHUP ? "SIGHUP"
                                  : "SIGPIPE";
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingTest, testing::Values(SIGTERM, SIGINT, SIGHUP, SIGPIPE),
                         SignalName);

// A pipe whose reader ends (`lensbay capture ... 2>&1 | head -c1`): the next write of the program
// meets it, and the program ends as for SIGTERM, whenever that comes: the port left idle, its
// private folder removed, and the status a shell shows for SIGPIPE.
TEST(PipeEnding, AClosedPipeEndsTheCaptureAsASignalDoes) {
    TempDir dir{"pipe-ending"};
    const std::string registry = dir.File("registry.reg"), trace = dir.File("trace");
    const std::string tmp = dir.File("tmp"), work = dir.File("work");
    ASSERT_TRUE(std::filesystem::create_directory(tmp));
    ASSERT_TRUE(std::filesystem::create_directory(work));
    Outcome o = RunProcess({{kRegsvr, kPinbus}, {{"OLE_REGISTRY", registry}}});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    Command c({"/bin/bash", "-c",
               "\"$0\" capture -o frame.pgm --count 1000000 2>&1 | head -c1; exit "
               "\"${PIPESTATUS[0]}\"",
               kLensbay},
              {{"OLE_REGISTRY", registry},
               {"PORTIO", "sim"},
               {"PORTIO_TRACE", trace},
               {"TMPDIR", tmp},
               {"LENSBAY_SIM_STATE", dir.File("sim-board")}});
    c.cwd = work;
    o = RunProcess(c);
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.status, 128 + SIGPIPE) << o.out << o.err;
    EXPECT_THAT(Last(ControlWrites(trace), 1), ElementsAreArray({"27"}));
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "a temporary folder was left in " << tmp;
}

}  // namespace
}  // namespace release_test
