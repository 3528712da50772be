#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/portio/backends.h"
#include "platform/portio/portio.h"
#include "platform/portio/sim/board.h"
#include "platform/portio/sim/sim_backend.h"
#include "tests/platform/portio/support.h"
#include "tests/support/temp_dir.h"

namespace {

struct Cycle {
    std::string op;
    std::uint16_t port;
    unsigned value;
    bool operator==(const Cycle&) const = default;
};

// Records every cycle it is given; reads return a fixed value per width.
class RecordingBackend : public portio::Backend {
public:
    explicit RecordingBackend(std::vector<Cycle>* log) : log_(log) {}
    std::uint8_t In8(std::uint16_t port) override {
        log_->push_back({"in8", port, 0x5A});
        return 0x5A;
    }
    std::uint16_t In16(std::uint16_t port) override {
        log_->push_back({"in16", port, 0xFFFF});
        return 0xFFFF;
    }
    void Out8(std::uint16_t port, std::uint8_t value) override {
        log_->push_back({"out8", port, value});
    }
    void Out16(std::uint16_t port, std::uint16_t value) override {
        log_->push_back({"out16", port, value});
    }

private:
    std::vector<Cycle>* log_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class PortService : public ::testing::Test {
protected:
    void SetUp() override {
        Save("PORTIO");
        Save("PORTIO_TRACE");
        unsetenv("PORTIO");
        unsetenv("PORTIO_TRACE");
        temp_ = std::make_unique<test_support::TempDir>("portio-test");
        ASSERT_FALSE(temp_->path().empty());
        dir_ = temp_->path();
        portio::ResetForTesting();
        portio::SetFaultHandler(portio_test::ExitOnFault);
    }
    void TearDown() override {
        portio::SetFaultHandler(nullptr);
        portio::ResetForTesting();
        for (auto& [name, value] : saved_) {
            if (value.second) {
                setenv(name.c_str(), value.first.c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        temp_.reset();
    }
    void Save(const char* name) {
        const char* v = std::getenv(name);
        saved_.push_back({name, {v ? v : "", v != nullptr}});
    }
    std::unique_ptr<test_support::TempDir> temp_;
    std::string dir_;
    std::vector<std::pair<std::string, std::pair<std::string, bool>>> saved_;
};

TEST_F(PortService, EachCallIsOneCycleInOrderAndTraced) {
    std::vector<Cycle> log;
    const std::string trace = dir_ + "/trace.txt";
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log), trace);
    portio::Out8(0x37A, 0x08);
    EXPECT_EQ(portio::In8(0x378), 0x5A);
    portio::Out16(0x378, 0x1234);
    EXPECT_EQ(portio::In16(0x378), 0xFFFF);
    portio::Out8(0x37A, 0x08);  // the same value twice is two cycles
    portio::Out8(0x0001, 0x00);
    portio::Out16(0xFFFF, 0x000A);
    const std::vector<Cycle> expected = {
        {"out8", 0x37A, 0x08},     {"in8", 0x378, 0x5A},  {"out16", 0x378, 0x1234},
        {"in16", 0x378, 0xFFFF},   {"out8", 0x37A, 0x08}, {"out8", 0x0001, 0x00},
        {"out16", 0xFFFF, 0x000A},
    };
    EXPECT_EQ(log, expected);
    // Each line is on disk as soon as the cycle has run.
    EXPECT_EQ(ReadAll(trace),
              "out8 0x037a 0x08\n"
              "in8 0x0378 0x5a\n"
              "out16 0x0378 0x1234\n"
              "in16 0x0378 0xffff\n"
              "out8 0x037a 0x08\n"
              "out8 0x0001 0x00\n"
              "out16 0xffff 0x000a\n");
}

TEST_F(PortService, TraceOnStandardOutputKeepsOrderWithConsoleLines) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log), "-");
    ::testing::internal::CaptureStdout();
    portio::Out8(0x77A, 0x20);
    portio::WriteStdoutLine("box\tOperation Notice\tPlease select VPORT register A[3:0]=1000");
    portio::In8(0x378);
    portio::WriteStdoutLine("");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "out8 0x077a 0x20\n"
              "box\tOperation Notice\tPlease select VPORT register A[3:0]=1000\n"
              "in8 0x0378 0x5a\n"
              "\n");
}

TEST_F(PortService, NoTraceWhenNotAsked) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log));
    ::testing::internal::CaptureStdout();
    portio::Out8(0x378, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(PortService, FailingTraceIsReportedOnceAndStopped) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log), "/dev/full");
    ::testing::internal::CaptureStderr();
    portio::Out8(0x378, 1);
    portio::Out8(0x378, 2);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("PORTIO_TRACE"), std::string::npos) << err;
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_EQ(err.find("PORTIO_TRACE", 1), std::string::npos) << "reported twice: " << err;
    EXPECT_EQ(log.size(), 2u);  // the cycles themselves still run
}

TEST_F(PortService, DefaultBackendIsTheSimulatedBoard) {
    std::string error;
    ASSERT_TRUE(portio::Initialize(&error)) << error;
    sim::Board* board = portio::SimulatedBoard();
    ASSERT_NE(board, nullptr);
    portio::Out8(0x77A, 0x20);
    portio::Out8(0x37A, 0x27);
    EXPECT_EQ(board->Ecr(), 0x20);
    EXPECT_EQ(board->Control(), 0x27);
    EXPECT_EQ(portio::In8(0x379), sim::kStatusValue);
    EXPECT_EQ(portio::In8(0x300), 0xFF);
    // A word cycle reaches the board as the byte at the port and the byte at port + 1.
    portio::Out16(0x37A, 0x1208);
    EXPECT_EQ(board->Control(), 0x08);
    portio::Out8(0x378, 0x5A);
    EXPECT_EQ(portio::In16(0x378), 0x7F5A);

    for (const char* value : {"sim", ""}) {
        portio::ResetForTesting();
        setenv("PORTIO", value, 1);
        EXPECT_TRUE(portio::Initialize(&error)) << error;
        EXPECT_NE(portio::SimulatedBoard(), nullptr) << value;
    }
}

TEST_F(PortService, UnknownBackendIsAClearError) {
    for (const char* value : {"bogus", "ppdev:", "Sim", "ppdev", "direct "}) {
        portio::ResetForTesting();
        setenv("PORTIO", value, 1);
        std::string error;
        EXPECT_FALSE(portio::Initialize(&error)) << value;
        EXPECT_NE(error.find(std::string("PORTIO='") + value + "'"), std::string::npos) << error;
        EXPECT_NE(error.find("PORTIO=sim"), std::string::npos) << error;
        EXPECT_NE(error.find("PORTIO=direct"), std::string::npos) << error;
        EXPECT_NE(error.find("PORTIO=ppdev:/dev/parportN"), std::string::npos) << error;
        EXPECT_EQ(portio::SimulatedBoard(), nullptr);
    }
}

TEST_F(PortService, TheFirstOutcomeStands) {
    setenv("PORTIO", "nonsense", 1);
    std::string first;
    EXPECT_FALSE(portio::Initialize(&first));
    setenv("PORTIO", "sim", 1);
    std::string second;
    EXPECT_FALSE(portio::Initialize(&second));
    EXPECT_EQ(first, second);
    EXPECT_FALSE(portio::Initialize(nullptr));
}

TEST_F(PortService, MissingParallelPortDeviceNamesDeviceAndReason) {
    setenv("PORTIO", "ppdev:/nonexistent/parport7", 1);
    std::string error;
    EXPECT_FALSE(portio::Initialize(&error));
    EXPECT_NE(error.find("/nonexistent/parport7"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST_F(PortService, UnwritableTraceIsAnInitializeError) {
    setenv("PORTIO_TRACE", (dir_ + "/missing-dir/trace.txt").c_str(), 1);
    std::string error;
    EXPECT_FALSE(portio::Initialize(&error));
    EXPECT_NE(error.find("PORTIO_TRACE"), std::string::npos) << error;
    EXPECT_NE(error.find("missing-dir/trace.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST_F(PortService, TraceFromTheEnvironment) {
    const std::string trace = dir_ + "/env-trace.txt";
    setenv("PORTIO_TRACE", trace.c_str(), 1);
    portio::Out8(0x77A, 0x20);  // first use opens the service
    portio::In8(0x379);
    EXPECT_EQ(ReadAll(trace), "out8 0x077a 0x20\nin8 0x0379 0x7f\n");
}

// Refuses every cycle at one port (reporting it as the backends do), records the others.
class RefusingBackend : public RecordingBackend {
public:
    using RecordingBackend::RecordingBackend;
    std::uint8_t In8(std::uint16_t port) override {
        if (port == kRefused) return portio::ReportFault("refusing in8"), 0xFF;
        return RecordingBackend::In8(port);
    }
    std::uint16_t In16(std::uint16_t port) override {
        if (port == kRefused) return portio::ReportFault("refusing in16"), 0xFFFF;
        return RecordingBackend::In16(port);
    }
    void Out8(std::uint16_t port, std::uint8_t value) override {
        if (port == kRefused) return portio::ReportFault("refusing out8");
        RecordingBackend::Out8(port, value);
    }
    void Out16(std::uint16_t port, std::uint16_t value) override {
        if (port == kRefused) return portio::ReportFault("refusing out16");
        RecordingBackend::Out16(port, value);
    }
    static constexpr std::uint16_t kRefused = 0x80;
};

// The exiting handler set up by the fixture ends the test if a checked fault reaches it.
TEST_F(PortService, CheckedCyclesGiveTheirRefusalBackInsteadOfReportingIt) {
    std::vector<Cycle> log;
    const std::string trace = dir_ + "/trace.txt";
    portio::InstallBackendForTesting(std::make_unique<RefusingBackend>(&log), trace);
    EXPECT_EQ(portio::CheckedIn8(0x378), 0x5A);
    EXPECT_EQ(portio::CheckedIn16(0x378), 0xFFFF);  // all ones is a value, not a refusal
    EXPECT_TRUE(portio::CheckedOut8(0x37A, 0x2B));
    EXPECT_TRUE(portio::CheckedOut16(0x378, 0x1234));
    EXPECT_EQ(portio::TakeCycleFault(), "");

    EXPECT_EQ(portio::CheckedIn8(0x80), -1);
    EXPECT_EQ(portio::TakeCycleFault(), "refusing in8");
    EXPECT_EQ(portio::TakeCycleFault(), "");  // taken once
    EXPECT_EQ(portio::CheckedIn16(0x80), -1);
    EXPECT_EQ(portio::TakeCycleFault(), "refusing in16");
    EXPECT_FALSE(portio::CheckedOut8(0x80, 1));
    EXPECT_EQ(portio::TakeCycleFault(), "refusing out8");
    EXPECT_FALSE(portio::CheckedOut16(0x80, 2));
    EXPECT_EQ(portio::TakeCycleFault(), "refusing out16");
    // A plain cycle after them still reports to the handler: nothing is left capturing.
    EXPECT_EXIT(portio::Out8(0x80, 0), ::testing::ExitedWithCode(3), "refusing out8");

    const std::vector<Cycle> expected = {{"in8", 0x378, 0x5A},
                                         {"in16", 0x378, 0xFFFF},
                                         {"out8", 0x37A, 0x2B},
                                         {"out16", 0x378, 0x1234}};
    EXPECT_EQ(log, expected);
    // The trace shows a checked cycle as a plain one: a refused read floats to all ones.
    EXPECT_EQ(ReadAll(trace),
              "in8 0x0378 0x5a\nin16 0x0378 0xffff\nout8 0x037a 0x2b\nout16 0x0378 0x1234\n"
              "in8 0x0080 0xff\nin16 0x0080 0xffff\nout8 0x0080 0x01\nout16 0x0080 0x0002\n");
}

TEST_F(PortService, CheckedCyclesOfAServiceThatCannotOpenAreRefusedWithItsReason) {
    setenv("PORTIO", "parallel", 1);
    EXPECT_FALSE(portio::CheckedOut8(0x378, 0));
    EXPECT_NE(portio::TakeCycleFault().find("PORTIO='parallel' is not a port backend"),
              std::string::npos);
    EXPECT_EQ(portio::CheckedIn8(0x378), -1);
    EXPECT_NE(portio::TakeCycleFault().find("not a port backend"), std::string::npos);
}

TEST_F(PortService, CheckedCyclesOfEachThreadKeepTheirOwnRefusal) {
    std::vector<Cycle> log;
    portio::InstallBackendForTesting(std::make_unique<RefusingBackend>(&log));
    EXPECT_FALSE(portio::CheckedOut8(0x80, 1));
    std::string other;
    std::thread([&] { other = portio::TakeCycleFault(); }).join();
    EXPECT_EQ(other, "");
    EXPECT_EQ(portio::TakeCycleFault(), "refusing out8");
}

using PortServiceDeathTest = PortService;

TEST_F(PortServiceDeathTest, FirstUseWithoutABackendExitsWithStatus3) {
    setenv("PORTIO", "parallel", 1);
    EXPECT_EXIT(portio::Out8(0x378, 0), ::testing::ExitedWithCode(3),
                "PORTIO='parallel' is not a port backend");
    EXPECT_EXIT(portio::In16(0x378), ::testing::ExitedWithCode(3), "not a port backend");
}

TEST_F(PortServiceDeathTest, UnopenableTestTraceExitsWithStatus3) {
    std::vector<Cycle> log;
    EXPECT_EXIT(portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log),
                                                 dir_ + "/no/such/dir"),
                ::testing::ExitedWithCode(3), "PORTIO_TRACE: cannot open");
}

}  // namespace
