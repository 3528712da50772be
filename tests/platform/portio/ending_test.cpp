#include "platform/portio/ending.h"

#include <gmock/gmock.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/files.h"
#include "tests/support/temp_dir.h"

namespace {

using portio::StepsToIdle;
using testing::ElementsAre;
using testing::IsEmpty;

using Steps = std::vector<std::uint8_t>;

TEST(StepsToIdle, EndEachHandshakeAsTheProgramsSequencesDo) {
    // A register write cycle, before, during and after its strobe.
    EXPECT_EQ(StepsToIdle(0x08), (Steps{0x28, 0x27}));
    EXPECT_EQ(StepsToIdle(0x09), (Steps{0x08, 0x28, 0x27}));
    // Default Setting between its pulses, and Set Register before the FRCTL prompt.
    EXPECT_EQ(StepsToIdle(0x00), (Steps{0x20, 0x27}));
    // Start-up between its two control writes; Set Register before the video-port prompt.
    EXPECT_EQ(StepsToIdle(0x20), (Steps{0x27}));
    EXPECT_EQ(StepsToIdle(0x28), (Steps{0x27}));
    // A frame read: set-up, inside a pulse, between pulses.
    EXPECT_EQ(StepsToIdle(0x2F), (Steps{0x27}));
    EXPECT_EQ(StepsToIdle(0x2A), (Steps{0x2B, 0x27}));
    EXPECT_EQ(StepsToIdle(0x2B), (Steps{0x27}));
}

TEST(StepsToIdle, LeaveAPortAtRestAlone) {
    EXPECT_THAT(StepsToIdle(-1), IsEmpty());  // never written by this program
    EXPECT_THAT(StepsToIdle(0x27), IsEmpty());
    EXPECT_THAT(StepsToIdle(0x22), IsEmpty());  // Set Register's and Default Setting's end
    EXPECT_THAT(StepsToIdle(0x2B, 0x2B), IsEmpty());
    EXPECT_THAT(StepsToIdle(0x12B), IsEmpty());  // marked as a sequence's own ending
}

TEST(StepsToIdle, NeverStrobeWithTheLinesDrivenNorTurnThemAroundWithAnotherBit) {
    for (int v = 0; v < 256; ++v) {
        const Steps steps = StepsToIdle(v);
        int from = v;
        for (const std::uint8_t to : steps) {
            const int changed = from ^ to;
            if (changed & 0x20) {
                EXPECT_EQ(changed, 0x20) << std::hex << from << " -> " << int{to};
            }
            if ((from & 0x20) == 0 && (to & 0x20) == 0) {
                EXPECT_EQ(to & 0x01 & ~from, 0) << std::hex << "strobe raised from " << from;
            }
            from = to;
        }
        if (v != 0x22) {
            EXPECT_EQ(from, 0x27) << std::hex << v;
        }
    }
}

// Cycles go to a backend that answers 0x5A and are seen in the trace file.
class Quiet : public portio::Backend {
public:
    std::uint8_t In8(std::uint16_t) override { return 0x5A; }
    std::uint16_t In16(std::uint16_t) override { return 0x5A5A; }
    void Out8(std::uint16_t, std::uint8_t) override {}
    void Out16(std::uint16_t, std::uint16_t) override {}
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Ending : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
    // In a death test's child (forked, so it writes into this test's folder): the backend,
    // the trace and the takeover.
    void Open() {
        portio::InstallBackendForTesting(std::make_unique<Quiet>(), trace_);
        portio::TakeOverEndingSignals();
    }
    test_support::TempDir dir_{"ending"};
    const std::string trace_ = dir_.File("trace");
};

TEST_F(Ending, SignalIsEndedAtTheNextCycleWhichIsNotMade) {
    EXPECT_EXIT(
        {
            Open();
            portio::Out8(0x37A, 0x2B);
            portio::Out8(0x37A, 0x2A);
            ::raise(SIGTERM);  // recorded only
            portio::In8(0x378);
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(ReadAll(trace_),
              "out8 0x037a 0x2b\nout8 0x037a 0x2a\nout8 0x037a 0x2b\nout8 0x037a 0x27\n");
}

TEST_F(Ending, SignalAtAnIdlePointAfterASequencesOwnEnding) {
    // A Capture ended by a file error keeps 0x2B; the temporary files in the making and the
    // program's own cleanups go with the process.
    const std::string target = dir_.File("image.bmp"), mark = dir_.File("cleaned");
    EXPECT_EXIT(
        {
            Open();
            base::Result<base::AtomicFile> file = base::AtomicFile::Create(target);
            if (!file) std::_Exit(2);
            portio::EndingCleanup cleanup([&] { std::ofstream(mark.c_str()) << "done"; });
            portio::Out8(0x37A, 0x2B);
            portio::ControlRestsHere();
            ::raise(SIGINT);
            if (!portio::EndingPending()) std::_Exit(3);
            portio::EndIfPending();
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGINT), "");
    EXPECT_EQ(ReadAll(trace_), "out8 0x037a 0x2b\n");
    EXPECT_EQ(ReadAll(mark), "done");
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_THAT(left, ElementsAre("cleaned", "trace"));
}

TEST_F(Ending, ExitLeavesThePortIdleAndMakesNoMoreCycles) {
    EXPECT_EXIT(
        {
            Open();
            portio::Out8(0x37A, 0x08);
            portio::AnnounceExitEnding();
            portio::Out8(0x378, 0x11);  // another thread's cycle: it makes the ending
            portio::Out8(0x37A, 0x2F);
            const bool floats = portio::In8(0x378) == 0xFF && portio::CheckedIn8(0x378) == 0xFF;
            portio::EndForExit();  // made already
            std::_Exit(floats && !portio::EndingPending() ? 0 : 4);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadAll(trace_), "out8 0x037a 0x08\nout8 0x037a 0x28\nout8 0x037a 0x27\n");
}

TEST_F(Ending, IgnoredSignalStaysIgnored) {
    EXPECT_EXIT(
        {
            ::signal(SIGHUP, SIG_IGN);
            Open();
            portio::Out8(0x37A, 0x08);
            ::raise(SIGHUP);
            portio::Out8(0x37A, 0x09);
            std::_Exit(portio::EndingPending() ? 5 : 0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadAll(trace_), "out8 0x037a 0x08\nout8 0x037a 0x09\n");
}

}  // namespace
