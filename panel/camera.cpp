#include "panel/camera.h"

#include <chrono>
#include <utility>

#include "panel/frame_reader.h"
#include "panel/port_faults.h"
#include "panel/register_plan.h"
#include "panel/registers.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace panel {
namespace {

// The boxes of one operation: a register-selection prompt goes to the operation's answer (or the
// camera's own) unless the board's switches follow it; any other box is the operation's failure.
class CameraUi : public UserInterface {
public:
    void MessageBox(const std::string& title, const std::string& text) override {
        if (text.rfind("Please ", 0) == 0) {
            const bool follows = board_ && board_->FollowsPrompts();
            const PromptAnswer& answer = current_ ? current_ : own_;
            if (!follows && answer && prompt_error_.empty()) {
                if (base::Result<> answered = answer(text); !answered)
                    prompt_error_ = answered.message();
            }
        } else if (problem_.empty()) {
            problem_ = text;
        }
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor_; }

    void Begin(const PromptAnswer& answer) {
        current_ = answer;
        problem_.clear();
        prompt_error_.clear();
        TakePortFault();
    }
    bool PromptFailed() const { return !prompt_error_.empty(); }
    // The operation's outcome: a refused port cycle first (it spoiled what followed), then an
    // answer that failed, then a box; `ok` false without any of them: `what` failed.
    base::Result<> End(bool ok, const char* what) {
        current_ = nullptr;
        if (std::string fault = TakePortFault(); !fault.empty()) return base::Fail(fault);
        if (!prompt_error_.empty()) return base::Fail(prompt_error_);
        if (!problem_.empty()) return base::Fail(problem_);
        if (!ok) return base::Fail(what);
        return {};
    }

    portio::BoardOperator* board_ = nullptr;
    PromptAnswer own_;

private:
    PromptAnswer current_;
    std::string problem_;
    std::string prompt_error_;
    NoMonitorWindow monitor_;
};

}  // namespace

struct Camera::Impl {
    CameraUi ui;
    std::unique_ptr<Session> session;
    std::unique_ptr<portio::BoardOperator::PromptWatch> follower;
    std::unique_ptr<CameraLink> link;  // released before the session
    FormState state;
    BlockWindow window{0, 0, 0, 0};
    bool window_written = false;
    int frames = 0;
    std::chrono::steady_clock::time_point first_frame;
    RegisterRecord& Record() { return session->BoardRecord().Record(); }
    // The form as a record reads it: the window's fields hold the window read.
    FormState FormWithWindow() const {
        FormState form = state;
        for (int i = 0; i < 4; ++i) form.text[kHStartField + i] = std::to_string(window[i]);
        return form;
    }
};

Camera::Camera(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Camera::~Camera() {
    std::lock_guard lock(mutex_);
    impl_->link.reset();
    impl_->follower.reset();
    impl_->session.reset();
}

base::Result<std::unique_ptr<Camera>> Camera::Open(const std::string& pinbus_hint,
                                                   const std::string& writer, PromptAnswer prompt) {
    TakePortFault();
    base::Result<std::unique_ptr<Session>> session =
        OpenSession(pinbus_hint, RecordPortFault, SignalEndings::kLeaveToHost);
    if (!session) return session.error();
    auto impl = std::make_unique<Impl>();
    impl->session = std::move(session).value();
    impl->Record().SetWriter(writer);
    impl->ui.board_ = impl->session->Board();
    impl->ui.own_ = std::move(prompt);
    impl->follower = impl->ui.board_ ? impl->ui.board_->WatchPrompts() : nullptr;
    impl->link =
        std::make_unique<CameraLink>(impl->session->Pinbus1(), impl->session->Pinbus2(), impl->ui);
    // The window's load.
    impl->ui.Begin({});
    const bool loaded = SUCCEEDED(impl->link->SetupPortMode());
    if (base::Result<> r = impl->ui.End(loaded, "the port set-up failed"); !r) {
        return base::FailPortRefused(
            loaded ? r.message() : "the port object failed: " + impl->link->LastFailure());
    }
    return std::unique_ptr<Camera>(new Camera(std::move(impl)));
}

bool Camera::FollowsPrompts() const {
    std::lock_guard lock(mutex_);
    return impl_->ui.board_ != nullptr && impl_->ui.board_->FollowsPrompts();
}

base::Result<> Camera::RunPlanLocked(const ChipSettings& settings, const PromptAnswer& prompt) {
    // An answer that failed stops the plan before its register's data write.
    const RegisterPlan plan = PlanFor(settings);
    RegisterPlan guarded;
    for (const chip::WriteStep& step : chip::kWriteOrder) {
        if (const RegisterPlan::Form* form = plan.Find(step.reg)) {
            guarded.Add(step.reg, [this, form]() -> base::Result<LONG> {
                if (impl_->ui.PromptFailed()) return base::Fail("the prompt was not answered");
                return (*form)();
            });
        }
    }
    impl_->ui.Begin(prompt);
    const bool set = RunRegisterPlan(guarded, *impl_->link, impl_->ui, &impl_->Record());
    // The handshake is over: what reached the chip goes to the board's record now.
    impl_->session->BoardRecord().Flush();
    if (set) {
        // The window the chip sends now: a window register is written whole.
        BlockWindow& w = impl_->window;
        const bool across = settings.Touches(chip::Register::kHwctl);
        const bool down = settings.Touches(chip::Register::kVwctl);
        for (int i = 0; i < 4; ++i) {
            if (i < 2 ? across : down) w[i] = settings.Get(chip::kHStart + i).value_or(0);
        }
        if (across && down) impl_->window_written = true;
    }
    return impl_->ui.End(set, "the chip's registers could not be written");
}

base::Result<> Camera::SetControls(const ChipSettings& settings, const PromptAnswer& prompt) {
    std::lock_guard lock(mutex_);
    if (settings.empty()) return {};
    return RunPlanLocked(settings, prompt);
}

BlockWindow Camera::Window() const {
    std::lock_guard lock(mutex_);
    return impl_->window;
}

base::Result<> Camera::WriteWindowLocked(const BlockWindow& window, const PromptAnswer& prompt) {
    ChipSettings settings;
    for (int i = 0; i < 4; ++i) {
        if (base::Result<> r = settings.Set(chip::kHStart + i, window[i]); !r) return r;
    }
    return RunPlanLocked(settings, prompt);
}

base::Result<> Camera::SetWindow(const BlockWindow& window, const PromptAnswer& prompt) {
    std::lock_guard lock(mutex_);
    return WriteWindowLocked(window, prompt);
}

base::Result<> Camera::Reset(const PromptAnswer& prompt) {
    std::lock_guard lock(mutex_);
    impl_->ui.Begin(prompt);
    const bool reset = DefaultSetting(impl_->state, *impl_->link, impl_->ui, &impl_->Record());
    impl_->session->BoardRecord().Flush();
    if (reset) {
        impl_->window = {0, 0, 0, 0};
        impl_->window_written = true;
    }
    return impl_->ui.End(reset, "Default Setting did not run to its end");
}

base::Result<> Camera::PowerCycle() {
    std::lock_guard lock(mutex_);
    portio::BoardOperator* board = impl_->ui.board_;
    if (!board)
        return base::Fail("only the simulated board can be turned off and on from here (PORTIO=" +
                          portio::ChosenBackend() + ")");
    board->PowerCycle();
    // Nothing is written to a chip just powered on; its window registers send the full frame.
    impl_->Record().Clear();
    impl_->session->BoardRecord().Flush();
    impl_->window = {0, 0, 0, 0};
    impl_->window_written = true;
    return {};
}

FrameGeometry Camera::Geometry() const {
    std::lock_guard lock(mutex_);
    const BlockWindow& w = impl_->window;
    return BlockGeometry(w[0], w[1], w[2], w[3]);
}

base::Result<> Camera::BeforeFrameLocked() {
    if (impl_->window_written) return {};
    return WriteWindowLocked(impl_->window, {});
}

void Camera::AfterFrameLocked(SeriesFrame* frame) {
    // The camera's frames are one series, counted from its first.
    const auto now = std::chrono::steady_clock::now();
    if (impl_->frames++ == 0) impl_->first_frame = now;
    if (!frame) return;
    frame->number = impl_->frames;
    frame->count = impl_->frames;
    frame->when = RegisterRecord::Clock::now();
    frame->seconds = std::chrono::duration<double>(now - impl_->first_frame).count();
}

base::Result<> Camera::ReadFrame(const RowsFor& rows_for, SeriesFrame* frame,
                                 FrameGeometry* geometry) {
    std::lock_guard lock(mutex_);
    if (base::Result<> written = BeforeFrameLocked(); !written) return written;
    const BlockWindow& w = impl_->window;
    const FrameGeometry g = BlockGeometry(w[0], w[1], w[2], w[3]);
    if (geometry) *geometry = g;
    std::uint8_t* rows = rows_for(g);
    if (!rows) return base::Fail("Not enough memory for the frame.");
    PictureRowsSink sink(g, rows, static_cast<std::size_t>(g.FrameWidth));
    impl_->ui.Begin({});
    const base::Result<> read = panel::ReadFrame(*impl_->link, g, sink);
    // A cycle the port refused was not run: the frame is not the board's.
    if (base::Result<> r = impl_->ui.End(true, ""); !r) return r;
    if (!read) return read;
    AfterFrameLocked(frame);
    return {};
}

base::Result<CapturedFrame> Camera::ReadCapture(const std::vector<std::uint8_t>& header,
                                                SeriesFrame* frame, FrameGeometry* geometry) {
    std::lock_guard lock(mutex_);
    if (base::Result<> written = BeforeFrameLocked(); !written) return written.error();
    const BlockWindow& w = impl_->window;
    const FrameGeometry g = BlockGeometry(w[0], w[1], w[2], w[3]);
    if (geometry) *geometry = g;
    CapturedFrame captured;
    impl_->ui.Begin({});
    const bool read = CaptureToMemory(g, header, *impl_->link, impl_->ui, &captured);
    if (base::Result<> r = impl_->ui.End(read, "the frame could not be read"); !r) return r.error();
    AfterFrameLocked(frame);
    return captured;
}

std::string Camera::RecordJson(const SeriesFrame& frame, const FrameGeometry& g) const {
    std::lock_guard lock(mutex_);
    return PictureRecordJson(g.FrameWidth, g.FrameHeight, impl_->FormWithWindow(), g.RowSkip,
                             impl_->session->BoardRecord().Record(), PortBackendName(), frame.when,
                             &frame);
}

base::Result<> Camera::WriteCapture(const OutputFolder& folder, const std::string& name,
                                    ImageFormat format, const CapturedFrame& captured,
                                    const SeriesFrame& frame, const FrameGeometry& g,
                                    PngEncoder* png) const {
    std::lock_guard lock(mutex_);
    return WritePictureWithRecord(folder, name, format, captured, impl_->FormWithWindow(),
                                  impl_->session->BoardRecord().Record(), frame, g, png);
}

const RegisterRecord& Camera::Registers() const { return impl_->session->BoardRecord().Record(); }

}  // namespace panel
