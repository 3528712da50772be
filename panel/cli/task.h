// What the task subcommands (set, reset, capture) share: boxes on the terminal, and the session
// opened as the window opens it (the port claimed, the port objects created, the window's load).
#pragma once

#include <memory>
#include <string>

#include "panel/camera_link.h"
#include "panel/cli/subcommands.h"
#include "panel/form_state.h"
#include "panel/session.h"
#include "panel/user_interface.h"
#include "platform/portio/board_operator.h"

namespace panel::cli {

// Boxes on the terminal: a register-selection prompt is printed and waits for Enter, unless
// --yes answers it or the simulated board's switches follow it (then it is only printed, and not
// even that with -q); any other box is the failure of the operation and goes to standard error.
class TerminalUi : public UserInterface {
public:
    TerminalUi(bool yes, bool quiet, portio::BoardOperator* board)
        : yes_(yes), quiet_(quiet), board_(board) {}
    void MessageBox(const std::string& title, const std::string& text) override;
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor_; }
    bool failed() const { return failed_; }

private:
    // Nobody looks at a monitor here; the picture is checked as the window would load it.
    class PictureCheck : public MonitorWindow {
    public:
        void Close() override {}
        void SetHeightTwips(int) override {}
        void SetWidthTwips(int) override {}
        bool LoadPicture(const std::string& path) override;
        void Show() override {}
    };
    bool yes_, quiet_;
    portio::BoardOperator* board_;
    bool failed_ = false;
    PictureCheck monitor_;
};

// One task's hold on the board, opened and loaded as the window is.
struct Task {
    std::unique_ptr<Session> session;
    std::unique_ptr<TerminalUi> ui;
    // The simulated board's switches follow each acknowledged prompt while they are set to.
    std::unique_ptr<portio::BoardOperator::PromptWatch> follower;
    std::unique_ptr<CameraLink> link;
    FormState state;
};

// Opens the session (its writes recorded as "lensbay NAME") and runs the window's load. On a
// failure, says why; the error's kind gives the exit status (ExitStatusFor).
base::Result<std::unique_ptr<Task>> OpenTask(const Arguments& a, const Context& context);

// The subcommands' runs, for the table.
int RunSet(const Arguments& a, const Context& context);
int RunReset(const Arguments& a, const Context& context);
int RunCapture(const Arguments& a, const Context& context);
int RunStatus(const Arguments& a, const Context& context);
int RunPowerCycle(const Arguments& a, const Context& context);

}  // namespace panel::cli
