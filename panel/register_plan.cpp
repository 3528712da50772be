#include "panel/register_plan.h"

#include <algorithm>

#include "panel/registers.h"

namespace panel {

void RegisterPlan::Add(ChipRegister reg, Form form) {
    const auto same = [reg](const auto& w) { return w.first == reg; };
    writes_.erase(std::remove_if(writes_.begin(), writes_.end(), same), writes_.end());
    writes_.emplace_back(reg, std::move(form));
}

const RegisterPlan::Form* RegisterPlan::Find(ChipRegister reg) const {
    for (const auto& [r, form] : writes_)
        if (r == reg) return &form;
    return nullptr;
}

RegisterPlan PlanFor(const ChipSettings& settings) {
    RegisterPlan plan;
    for (const chip::WriteStep& step : chip::kWriteOrder) {
        if (settings.Touches(step.reg)) plan.Add(step.reg, settings.RegisterValue(step.reg));
    }
    return plan;
}

namespace {

struct Run {
    CameraLink& link;
    UserInterface& ui;
    bool stopped = false;

    // Once stopped (a value that could not be formed, or a port failure), nothing more goes to
    // the port.
    void Control(std::uint8_t v) {
        if (!stopped) Check(link.WriteControl(v));
    }
    void Data(std::uint8_t v) {
        if (!stopped) Check(link.WriteData(v));
    }
    void Check(HRESULT hr) {
        if (stopped || SUCCEEDED(hr)) return;
        ReportPortFailure(link, ui, kPanelTitle);
        stopped = true;
    }
};

}  // namespace

bool RunRegisterPlan(const RegisterPlan& plan, CameraLink& link, UserInterface& ui,
                     RegisterRecord* record, const std::function<void()>& at_video_port) {
    Run run{link, ui};
    for (const chip::WriteStep& step : chip::kWriteOrder) {
        if (run.stopped) break;
        if (const RegisterPlan::Form* form = plan.Find(step.reg)) {
            // The block: opening write, the prompt, the value as it is formed now, the reversed
            // byte on the data lines and the strobe.
            run.Control(step.opening);
            if (run.stopped) break;
            link.PromptSelect(chip::SelectPrompt(step.reg), kPanelTitle);
            const base::Result<LONG> value = (*form)();
            if (!value) {
                ui.MessageBox(kPanelTitle, value.message());
                run.stopped = true;
                break;
            }
            const auto byte = static_cast<std::uint8_t>(*value & 0xFF);
            run.Data(ReverseBits(byte));
            run.Control(chip::kControlStrobe);
            if (!run.stopped && record) record->Written(step.reg, byte);
        }
        // Runs for a register left alone too; VWCTL has none: MCTL's opening write or the final
        // one stands for it.
        if (step.closing) run.Control(chip::kControlWrite);
    }
    run.Control(chip::kControlLeaveWrite);
    if (run.stopped) return false;
    link.PromptSelect(chip::ReturnPrompt(), kPanelTitle);
    if (at_video_port) at_video_port();
    run.Control(chip::kControlVideoPort);
    return !run.stopped;
}

}  // namespace panel
