// What the benchmarks that drive the panel on the simulated board share: the program's own
// folder, a user interface that shows nothing, a temporary working directory, the port service on
// the simulated board, Pinbus objects created from PINBUS.OCX beside the program, and PINBUS.OCX
// registered in a class registry of its own.
#pragma once

#include <benchmark/benchmark.h>
#include <limits.h>

#include <string>

#include "panel/panel.h"
#include "platform/com/objidl.h"

namespace bench {

// The program's own folder (build/bin), where PINBUS.OCX, regsvr and lensbay are.
std::string BinDir();

using NullMonitor = panel::NoMonitorWindow;

// Counts its message boxes and shows nothing.
class NullUi : public panel::UserInterface {
public:
    void MessageBox(const std::string&, const std::string&) override { ++boxes; }
    void SetWaitCursor(bool) override {}
    panel::MonitorWindow& Monitor() override { return monitor_; }

    int boxes = 0;

private:
    NullMonitor monitor_;
};

// A temporary directory under $TMPDIR (else /tmp), named PREFIX-XXXXXX, that is the working
// directory while it lives; path() is empty when it could not be made or entered.
class WorkDir {
public:
    explicit WorkDir(const char* prefix = "lensbay-bench");
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::string& path() const { return path_; }

private:
    char previous_[PATH_MAX] = {};
    std::string path_;
};

// PORTIO=sim and the port service opened on it; otherwise the case is skipped with the reason.
bool OpenSimulatedBoard(benchmark::State& state);

// A Pinbus object from PINBUS.OCX beside the program (LENSBAY_BENCH_PINBUS names another build's,
// to compare two builds), loaded with the panel's stored properties; nullptr with *why otherwise.
IDispatch* CreatePinbus(std::string* why);

// The panel's two Pinbus objects; false with *why when either cannot be created.
struct PinbusPair {
    ComPtr<IDispatch> pinbus1, pinbus2;
};
bool CreatePinbusPair(PinbusPair* pair, std::string* why);

// Sets OLE_REGISTRY to DIR/registry.reg and PORTIO=sim, and registers PINBUS.OCX there with
// regsvr; false with *why when that fails.
bool RegisterPinbus(const std::string& dir, std::string* why);

}  // namespace bench
