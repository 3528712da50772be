// Test rig of the panel: port objects (a recording fake of Pinbus, or the real PINBUS.OCX when it
// is built) over a recording port backend, a recording user interface and a temporary working
// directory. Port cycles and user-interface events go to one log, in order, e.g.
//   "control 08", "data 26", "ecr 20", "read data",
//   "box SX540 Control Panel: Please select EXCTL register A[3:0]=0010", "cursor wait",
//   "monitor height 4608".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/console/console_front_end.h"
#include "panel/panel.h"
#include "panel/user_interface.h"
#include "platform/com/oleauto.h"
#include "platform/portio/portio.h"
#include "tests/support/fake_pinbus.h"
#include "tests/support/temp_dir.h"

// The parsers in the shape the cases are written in: true and the value, else the message.
namespace panel {
inline bool ComputeFrameGeometry(const std::string& t4, const std::string& t5,
                                 const std::string& t6, const std::string& t7, FrameGeometry* out,
                                 std::string* error) {
    base::Result<FrameGeometry> g = ComputeFrameGeometry(t4, t5, t6, t7);
    if (!g) {
        *error = g.message();
        return false;
    }
    *out = *g;
    return true;
}
namespace console {
inline bool ParseCommand(std::string_view line, Command* out, std::string* error) {
    base::Result<Command> c = ParseCommand(line);
    if (!c) {
        *error = c.message();
        return false;
    }
    *out = *c;
    return true;
}
}  // namespace console
}  // namespace panel

namespace panel_test {

using Log = std::vector<std::string>;

// Reads the data register: the n-th read of a frame gets source(n).
using ReadSource = std::function<std::uint8_t(std::uint64_t n)>;

// A port backend that logs every cycle and answers reads from a source (or a sim board).
class RecordingBackend : public portio::Backend {
public:
    RecordingBackend(Log* log, ReadSource source) : log_(log), source_(std::move(source)) {}
    std::uint8_t In8(std::uint16_t port) override;
    std::uint16_t In16(std::uint16_t port) override;
    void Out8(std::uint16_t port, std::uint8_t value) override;
    void Out16(std::uint16_t port, std::uint16_t value) override;
    std::uint64_t reads() const { return reads_; }

private:
    Log* log_;
    ReadSource source_;
    std::uint64_t reads_ = 0;
};

using testing_support::FakePinbus;
using testing_support::Invocation;

class TestMonitor : public panel::MonitorWindow {
public:
    explicit TestMonitor(Log* log) : log_(log) {}
    void Close() override { log_->push_back("monitor close"); }
    void SetHeightTwips(int twips) override;
    void SetWidthTwips(int twips) override;
    bool LoadPicture(const std::string& path) override;
    void Show() override { log_->push_back("monitor show"); }

private:
    Log* log_;
};

class TestUi : public panel::UserInterface {
public:
    explicit TestUi(Log* log) : log_(log), monitor_(log) {}
    void MessageBox(const std::string& title, const std::string& text) override;
    void SetWaitCursor(bool wait) override;
    panel::MonitorWindow& Monitor() override { return monitor_; }
    // Runs after a box has been logged, as if while the user reads it.
    std::function<void(const std::string& title, const std::string& text)> on_box;

private:
    Log* log_;
    TestMonitor monitor_;
};

enum class Objects { kFake, kPinbus };
std::string ObjectsName(const testing::TestParamInfo<Objects>& info);

// The real port object from build/bin/PINBUS.OCX (through its DllGetClassObject), loaded from
// the main window's stored stream; null when the library is not built.
IDispatch* CreateRealPinbus(std::string* why);

// A fresh temporary directory as the working directory for the test's life.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return dir_.path(); }

private:
    test_support::TempDir dir_{"lensbay-panel"};
    std::string previous_;
};

// The whole rig; tests derive from it (parameterised on the kind of port object).
class PanelRig : public testing::TestWithParam<Objects> {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the data register's source (default: byte n of a frame reads ReverseBits(n % 251),
    // so stored byte n is n % 251).
    void SetReadSource(ReadSource source);
    // Entries of the log that are not port cycles, in order.
    Log Events() const;
    // Only the port writes (no reads) of the log, in order.
    Log Writes() const;
    void ClearLog() {
        log_.clear();
        calls_.clear();
    }

    Log log_;
    std::vector<Invocation> calls_;
    long fail_at_ = -1;
    TestUi ui_{&log_};
    IDispatch* pinbus1_ = nullptr;
    IDispatch* pinbus2_ = nullptr;
    std::unique_ptr<TempDir> dir_;
    ReadSource source_;
};

// The rig with the main window's logic on its two port objects, made for each test.
class PanelWindowRig : public PanelRig {
protected:
    void SetUp() override {
        PanelRig::SetUp();
        if (IsSkipped()) return;
        panel_ = std::make_unique<panel::Panel>(pinbus1_, pinbus2_, ui_);
    }
    void TearDown() override {
        panel_.reset();
        PanelRig::TearDown();
    }
    std::unique_ptr<panel::Panel> panel_;
};

// Bytes of a file ("" and false when it cannot be read).
bool ReadFile(const std::string& path, std::string* bytes);
bool WriteFile(const std::string& path, const std::string& bytes);
std::uint32_t Le32At(const std::string& bytes, std::size_t at);

}  // namespace panel_test
