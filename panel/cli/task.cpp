#include "panel/cli/task.h"

#include <cstdio>
#include <iostream>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/file_io.h"
#include "panel/registers.h"
#include "platform/ui/message_box.h"

namespace panel::cli {

void TerminalUi::MessageBox(const std::string& title, const std::string& text) {
    // The panel's register-selection prompts ("Please select EXCTL register A[3:0]=0010");
    // every other box says why the operation failed.
    if (text.rfind("Please ", 0) == 0) {
        const bool follows = board_ && board_->FollowsPrompts();
        if (yes_ || follows) {
            if (!quiet_) std::fprintf(stderr, "%s\n", text.c_str());
        } else {
            std::fprintf(stderr, "%s, then press Enter: ", text.c_str());
            std::fflush(stderr);
            std::string line;
            std::getline(std::cin, line);
        }
    } else {
        std::fprintf(stderr, "lensbay: %s\n", text.c_str());
        failed_ = true;
    }
    ui::NotifyMessageBoxAcknowledged(title, text);
}

bool TerminalUi::PictureCheck::LoadPicture(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    return ReadWholeFile(path, &bytes).ok() && IsLoadableBitmap(bytes.data(), bytes.size());
}

base::Result<std::unique_ptr<Task>> OpenTask(const Arguments& a, const Context& context) {
    base::Result<std::unique_ptr<Session>> session =
        OpenSession(context.pinbus_hint, panel::ExitOnPortFault);
    if (!session) {
        std::fprintf(stderr, "lensbay: %s\n", session.message().c_str());
        return session.error();
    }
    auto task = std::make_unique<Task>();
    task->session = std::move(session).value();
    task->session->BoardRecord().Record().SetWriter("lensbay " + a.command);
    portio::BoardOperator* const board = task->session->Board();
    task->ui = std::make_unique<TerminalUi>(a.yes, a.quiet, board);
    task->follower = board ? board->WatchPrompts() : nullptr;
    task->link =
        std::make_unique<CameraLink>(task->session->Pinbus1(), task->session->Pinbus2(), *task->ui);
    // The window's load.
    if (FAILED(task->link->SetupPortMode())) {
        ReportPortFailure(*task->link, *task->ui, kNoticeTitle);
        return base::Fail("the port set-up failed");
    }
    return task;
}

int RunSet(const Arguments& a, const Context& context) {
    base::Result<std::unique_ptr<Task>> task = OpenTask(a, context);
    if (!task) return ExitStatusFor(task.error());
    Task& t = **task;
    const bool set =
        RunRegisterPlan(PlanFor(a.settings), *t.link, *t.ui, &t.session->BoardRecord().Record());
    // The handshake is over: what reached the chip goes to the board's record now.
    t.session->BoardRecord().Flush();
    return set && !t.ui->failed() ? kExitOk : kExitFailed;
}

int RunReset(const Arguments& a, const Context& context) {
    base::Result<std::unique_ptr<Task>> task = OpenTask(a, context);
    if (!task) return ExitStatusFor(task.error());
    Task& t = **task;
    const bool reset = DefaultSetting(t.state, *t.link, *t.ui, &t.session->BoardRecord().Record());
    t.session->BoardRecord().Flush();
    return reset && !t.ui->failed() ? kExitOk : kExitFailed;
}

}  // namespace panel::cli
