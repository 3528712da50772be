#include "gst/frame_source.h"

#include <errno.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/chip_settings.h"
#include "panel/frame_reader.h"
#include "panel/port_faults.h"
#include "panel/register_plan.h"
#include "panel/session.h"
#include "platform/chip/sx540.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace lensbay_gst {

namespace {

// The element has nobody to show a box to: a prompt is acknowledged at once, and the simulated
// board's switches follow it as they follow the panel's prompts.
class PromptUi : public panel::UserInterface {
public:
    void MessageBox(const std::string& title, const std::string& text) override {
        if (portio::BoardOperator* board = portio::Operator()) board->PromptAcknowledged(text);
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    panel::MonitorWindow& Monitor() override { return monitor_; }

private:
    panel::NoMonitorWindow monitor_{false};
};

}  // namespace

bool Window::ControlsGiven() const { return !ControlsText().empty(); }

std::string Window::ControlsText() const {
    std::string out;
    auto add = [&](const std::string& text) { out += (out.empty() ? "" : " ") + text; };
    if (exposure >= 0) add("exposure=" + std::to_string(exposure));
    if (gain >= 0) add("gain=" + std::to_string(gain));
    if (divider >= 0) add("divider=" + std::to_string(divider));
    for (int g = 0; g < 4; ++g) {
        if (options[g] == 0 || options[g] == 1) {
            const chip::Control& c = chip::kControls[chip::kGamma + g];
            add(std::string(c.name) + "=" + c.words[options[g]]);
        }
    }
    return out;
}

base::Result<panel::ChipSettings> SettingsOf(const Window& w) {
    // The properties by the chip's controls; a number property's -1 is "not written".
    struct Property {
        const char* name;
        int control;
        int value;
        bool unset_allowed;
    };
    const Property properties[] = {
        {"h-start", chip::kHStart, w.h_start, false},    {"h-end", chip::kHEnd, w.h_end, false},
        {"v-start", chip::kVStart, w.v_start, false},    {"v-end", chip::kVEnd, w.v_end, false},
        {"exposure", chip::kExposure, w.exposure, true}, {"gain", chip::kGain, w.gain, true},
        {"divider", chip::kDivider, w.divider, true},
    };
    panel::ChipSettings settings;
    for (const Property& p : properties) {
        if (p.unset_allowed && p.value == -1) continue;
        if (!panel::InRange(chip::kControls[p.control], p.value)) {
            return base::Fail(panel::RangeFault(chip::kControls[p.control], p.name, p.value) +
                              (p.unset_allowed ? " (-1 leaves the register as it is)" : ""));
        }
        (void)settings.Set(p.control, p.value);
    }
    for (int g = 0; g < chip::kOptionCount; ++g) {
        if (w.options[g] != Window::kUnset) (void)settings.Set(chip::kGamma + g, w.options[g]);
    }
    return settings;
}

base::Result<panel::FrameGeometry> GeometryOf(const Window& w) {
    if (base::Result<panel::ChipSettings> checked = SettingsOf(w); !checked) return checked.error();
    return panel::BlockGeometry(w.h_start, w.h_end, w.v_start, w.v_end);
}

panel::ChipSettings ChangesBetween(const Window& a, const Window& b) {
    panel::ChipSettings changes;
    const int before[] = {a.exposure, a.gain, a.divider};
    const int after[] = {b.exposure, b.gain, b.divider};
    for (int c = chip::kExposure; c <= chip::kDivider; ++c) {
        if (after[c] != before[c] && after[c] != -1) (void)changes.Set(c, after[c]);
    }
    bool options_changed = false;
    for (int g = 0; g < chip::kOptionCount; ++g) {
        options_changed = options_changed || (a.options[g] != b.options[g]);
    }
    if (options_changed) {
        // As the window writes MCTL: each option not given as its second word (the bit clear).
        for (int g = 0; g < chip::kOptionCount; ++g)
            (void)changes.Set(chip::kGamma + g, b.options[g] == Window::kUnset ? 1 : b.options[g]);
    }
    if (a.h_start != b.h_start || a.h_end != b.h_end) {
        (void)changes.Set(chip::kHStart, b.h_start);
        (void)changes.Set(chip::kHEnd, b.h_end);
    }
    if (a.v_start != b.v_start || a.v_end != b.v_end) {
        (void)changes.Set(chip::kVStart, b.v_start);
        (void)changes.Set(chip::kVEnd, b.v_end);
    }
    return changes;
}

int DividerInEffect(const Window& w, std::optional<std::uint8_t> frctl) {
    const chip::Control& divider = chip::kControls[chip::kDivider];
    if (w.divider != -1) return w.divider;
    return chip::ValueIn(divider, frctl ? *frctl : chip::Info(divider.reg).reset);
}

std::size_t RowStride(const panel::FrameGeometry& g) {
    return (static_cast<std::size_t>(g.FrameWidth) + 3) & ~static_cast<std::size_t>(3);
}

struct FrameSource::Impl {
    PromptUi ui;
    std::unique_ptr<panel::Session> session;
    std::unique_ptr<panel::CameraLink> link;  // released before the session
    std::vector<std::uint8_t> skip;
};

FrameSource::FrameSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FrameSource::~FrameSource() = default;

base::Result<std::unique_ptr<FrameSource>> FrameSource::Open(const std::string& pinbus_hint) {
    panel::TakePortFault();
    base::Result<std::unique_ptr<panel::Session>> session =
        panel::OpenSession(pinbus_hint, panel::RecordPortFault, panel::SignalEndings::kLeaveToHost);
    if (!session) return session.error();
    auto impl = std::make_unique<Impl>();
    impl->session = std::move(session).value();
    impl->session->BoardRecord().Record().SetWriter(std::string("lensbaysrc in ") +
                                                    program_invocation_short_name);
    impl->link = std::make_unique<panel::CameraLink>(impl->session->Pinbus1(),
                                                     impl->session->Pinbus2(), impl->ui);
    if (FAILED(impl->link->SetupPortMode())) {
        return base::FailPortRefused("the port object failed: " + impl->link->LastFailure());
    }
    if (std::string fault = panel::TakePortFault(); !fault.empty())
        return base::FailPortRefused(fault);
    return std::unique_ptr<FrameSource>(new FrameSource(std::move(impl)));
}

bool FrameSource::BoardFollowsPrompts() const {
    const portio::BoardOperator* board = impl_->session->Board();
    return board != nullptr && board->FollowsPrompts();
}

base::Result<> FrameSource::SetRegisters(const Window& w) {
    base::Result<panel::ChipSettings> settings = SettingsOf(w);
    if (!settings) return settings.error();
    return Apply(*settings);
}

FrameSource::RegisterValues FrameSource::Registers() const {
    RegisterValues values{};
    const panel::RegisterRecord& record = impl_->session->BoardRecord().Record();
    for (int r = 0; r < chip::kRegisterCount; ++r) {
        const std::optional<std::uint8_t> held = record.Holds(chip::kRegisters[r].id);
        values[static_cast<std::size_t>(r)] = held ? *held : -1;
    }
    return values;
}

base::Result<> FrameSource::Apply(const panel::ChipSettings& settings) {
    if (settings.empty()) return {};
    const bool set = panel::RunRegisterPlan(panel::PlanFor(settings), *impl_->link, impl_->ui,
                                            &impl_->session->BoardRecord().Record());
    // The handshake is over: what reached the chip goes to the board's record now.
    impl_->session->BoardRecord().Flush();
    if (!set) {
        return base::Fail("the chip's registers could not be written: " +
                          impl_->link->LastFailure());
    }
    if (std::string fault = panel::TakePortFault(); !fault.empty()) return base::Fail(fault);
    return {};
}

base::Result<> FrameSource::ReadFrame(const panel::FrameGeometry& g, std::uint8_t* dest,
                                      std::size_t stride) {
    // Rows go where the picture has them, top-down, their padding zeroed; the bytes that belong
    // to no row are read and dropped.
    panel::PictureRowsSink rows(g, dest, stride);
    if (base::Result<> read = panel::ReadFrame(*impl_->link, g, rows); !read) return read;
    // A cycle the port refused was not run: the frame is not the board's.
    if (std::string fault = panel::TakePortFault(); !fault.empty()) return base::Fail(fault);
    return {};
}

}  // namespace lensbay_gst
