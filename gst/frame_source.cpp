#include "gst/frame_source.h"

#include <errno.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/form_state.h"
#include "panel/registers.h"
#include "panel/session.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace lensbay_gst {

namespace {

// The element has nobody to show a box to: a prompt is acknowledged at once, and the simulated
// board's switches follow it as they follow the panel's prompts.
class NoMonitor : public panel::MonitorWindow {
public:
    void Close() override {}
    void SetHeightTwips(int) override {}
    void SetWidthTwips(int) override {}
    bool LoadPicture(const std::string&) override { return false; }
    void Show() override {}
};

class PromptUi : public panel::UserInterface {
public:
    void MessageBox(const std::string& title, const std::string& text) override {
        if (portio::BoardOperator* board = portio::Operator()) board->PromptAcknowledged(text);
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    panel::MonitorWindow& Monitor() override { return monitor_; }

private:
    NoMonitor monitor_;
};

// A port cycle the backend refuses is not run and goes to the process's fault handler; the
// element's notes the first one, so that the frame it spoiled becomes an error message.
std::mutex g_fault_mutex;
std::string g_fault;
std::atomic<bool> g_faulted{false};

void RecordFault(const base::Error& fault) {
    std::lock_guard lock(g_fault_mutex);
    if (g_fault.empty()) g_fault = fault.message;
    g_faulted.store(true, std::memory_order_release);
}

std::string TakeFault() {
    if (!g_faulted.load(std::memory_order_acquire)) return "";
    std::lock_guard lock(g_fault_mutex);
    g_faulted.store(false, std::memory_order_relaxed);
    return std::exchange(g_fault, std::string());
}

// The panel's messages name its window fields; the element's name its properties.
std::string NameProperties(std::string message) {
    static const char* const kNames[][2] = {
        {"Text4", "h-start"}, {"Text5", "h-end"}, {"Text6", "v-start"}, {"Text7", "v-end"}};
    for (const auto& [field, property] : kNames) {
        for (std::size_t at = message.find(field); at != std::string::npos;
             at = message.find(field, at)) {
            message.replace(at, std::strlen(field), property);
        }
    }
    return message;
}

}  // namespace

bool Window::ControlsGiven() const { return !ControlsText().empty(); }

std::string Window::ControlsText() const {
    static const char* const kOptionNames[4] = {"gamma", "mirror", "mode", "backlight"};
    static const char* const kItems[4][2] = {
        {"0.45", "1.0"}, {"on", "off"}, {"indoor", "outdoor"}, {"on", "off"}};
    std::string out;
    auto add = [&](const std::string& text) { out += (out.empty() ? "" : " ") + text; };
    if (exposure >= 0) add("exposure=" + std::to_string(exposure));
    if (gain >= 0) add("gain=" + std::to_string(gain));
    if (divider >= 0) add("divider=" + std::to_string(divider));
    for (int g = 0; g < 4; ++g) {
        if (options[g] == 0 || options[g] == 1)
            add(std::string(kOptionNames[g]) + "=" + kItems[g][options[g]]);
    }
    return out;
}

base::Result<panel::FrameGeometry> GeometryOf(const Window& w) {
    struct Range {
        const char* name;
        int value, low, high;
        bool unset_allowed;
    };
    const Range ranges[] = {
        {"h-start", w.h_start, 0, 15, false},   {"h-end", w.h_end, 0, 15, false},
        {"v-start", w.v_start, 0, 15, false},   {"v-end", w.v_end, 0, 15, false},
        {"exposure", w.exposure, 0, 127, true}, {"gain", w.gain, 0, 7, true},
        {"divider", w.divider, 2, 128, true},
    };
    for (const Range& r : ranges) {
        if (r.unset_allowed && r.value == -1) continue;
        if (r.value < r.low || r.value > r.high) {
            return base::Fail(std::string(r.name) + " = " + std::to_string(r.value) +
                              " is outside " + std::to_string(r.low) + ".." +
                              std::to_string(r.high) +
                              (r.unset_allowed ? " (-1 leaves the register as it is)" : ""));
        }
    }
    auto g = panel::ComputeFrameGeometry(std::to_string(w.h_start), std::to_string(w.h_end),
                                         std::to_string(w.v_start), std::to_string(w.v_end));
    if (!g) return base::Fail(NameProperties(g.message()));
    return g;
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
    TakeFault();
    base::Result<std::unique_ptr<panel::Session>> session =
        panel::OpenSession(pinbus_hint, RecordFault, panel::SignalEndings::kLeaveToHost);
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
    if (std::string fault = TakeFault(); !fault.empty()) return base::FailPortRefused(fault);
    return std::unique_ptr<FrameSource>(new FrameSource(std::move(impl)));
}

bool FrameSource::BoardFollowsPrompts() const {
    const portio::BoardOperator* board = impl_->session->Board();
    return board != nullptr && board->FollowsPrompts();
}

base::Result<> FrameSource::SetRegisters(const Window& w) {
    panel::FormState state;
    const int blocks[4] = {w.h_start, w.h_end, w.v_start, w.v_end};
    for (int i = 0; i < 4; ++i) {
        panel::ClickField(state, panel::kHStartField + i);
        state.text[panel::kHStartField + i] = std::to_string(blocks[i]);
    }
    const std::pair<int, int> numbers[] = {{panel::kExposureField, w.exposure},
                                           {panel::kGainField, w.gain},
                                           {panel::kDividerField, w.divider}};
    for (const auto& [field, value] : numbers) {
        if (value < 0) continue;
        panel::ClickField(state, field);
        state.text[field] = std::to_string(value);
    }
    for (int g = 0; g < 4; ++g) {
        if (w.options[g] != Window::kUnset) panel::SelectOption(state, g + 1, w.options[g]);
    }
    const bool set =
        panel::SetRegister(state, *impl_->link, impl_->ui, &impl_->session->BoardRecord().Record());
    // The handshake is over: what reached the chip goes to the board's record now.
    impl_->session->BoardRecord().Flush();
    if (!set) {
        return base::Fail("the chip's registers could not be written: " +
                          impl_->link->LastFailure());
    }
    if (std::string fault = TakeFault(); !fault.empty()) return base::Fail(fault);
    return {};
}

base::Result<> FrameSource::ReadFrame(const panel::FrameGeometry& g, std::uint8_t* dest,
                                      std::size_t stride) {
    panel::CameraLink& link = *impl_->link;
    auto failed = [&] { return base::Fail("the port object failed: " + link.LastFailure()); };
    if (FAILED(link.BeginFrameRead())) return failed();
    // Rows go where the picture has them; the bytes that belong to no row are read and dropped.
    const panel::FrameStreamLayout layout = panel::StreamLayoutOf(g);
    std::uint8_t dropped = 0;
    for (int r = 0; r < layout.rows; ++r) {
        std::uint8_t* out = dest + static_cast<std::size_t>(layout.PictureRow(r)) * stride;
        for (std::size_t x = 0; x < layout.width; ++x) {
            if (FAILED(link.ReadPixelByte(out + x))) return failed();
        }
        for (std::size_t x = layout.width; x < layout.row_step; ++x) {
            if (FAILED(link.ReadPixelByte(&dropped))) return failed();
        }
        std::memset(out + layout.width, 0, stride - layout.width);
    }
    for (std::size_t n = 0; n < layout.tail; ++n) {
        if (FAILED(link.ReadPixelByte(&dropped))) return failed();
    }
    if (FAILED(link.EndFrameRead())) return failed();
    // A cycle the port refused was not run: the frame is not the board's.
    if (std::string fault = TakeFault(); !fault.empty()) return base::Fail(fault);
    return {};
}

}  // namespace lensbay_gst
