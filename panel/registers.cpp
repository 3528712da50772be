#include "panel/registers.h"

#include <array>

#include "panel/field_numbers.h"
#include "panel/register_plan.h"

namespace panel {
namespace {

// The fields that feed a register, in field order (a window register's start, then its end);
// none for MCTL, which the option groups feed.
std::array<int, 2> FieldsOf(ChipRegister reg) {
    std::array<int, 2> fields{0, 0};
    std::size_t count = 0;
    for (int n = 1; n <= kMarkedFieldCount && count < fields.size(); ++n) {
        if (chip::kControls[FieldControl(n)].reg == reg) fields[count++] = n;
    }
    return fields;
}

}  // namespace

HRESULT ConvertField(int n, const std::string& text, LONG* v) {
    const int control = FieldControl(n);
    if (control < 0) return TextToInteger(text, v);
    const chip::Control& c = chip::kControls[control];
    if (c.offset == 0 && c.shift == 0) return TextToInteger(text, v);  // the integer value
    // The divider minus one, a start block times 16: the real value, then rounded.
    double d = 0;
    const HRESULT hr = TextToReal(text, &d);
    return SUCCEEDED(hr) ? RealToInteger((d - c.offset) * (1 << c.shift), v) : hr;
}

void ReportPortFailure(const CameraLink& link, UserInterface& ui, const char* title) {
    ui.MessageBox(title, "The port object failed: " + link.LastFailure() + ".");
}

RegisterPlan PlanFor(const FormState& state) {
    RegisterPlan plan;
    for (const chip::WriteStep& step : chip::kWriteOrder) {
        const std::array<int, 2> fields = FieldsOf(step.reg);
        if (fields[0] == 0) {
            // MCTL, once an option was selected: the sum of the four bits.
            if (state.mctl_act == 1) {
                plan.Add(step.reg, [&state]() -> base::Result<LONG> { return MctlValue(state); });
            }
            continue;
        }
        // A register is pending when its first field is marked (a click in a window's end
        // field marks its start too). Its fields are read once the prompt is answered; a
        // window's two parts are combined with a bitwise OR.
        if (!state.changed[static_cast<std::size_t>(fields[0])]) continue;
        plan.Add(step.reg, [&state, fields]() -> base::Result<LONG> {
            LONG value = 0;
            for (const int n : fields) {
                if (n == 0) continue;
                const std::string& text = state.text[static_cast<std::size_t>(n)];
                LONG part = 0;
                if (const HRESULT hr = ConvertField(n, text, &part); FAILED(hr))
                    return base::Fail(FieldErrorText(n, text, hr));
                value |= part;
            }
            return value;
        });
    }
    return plan;
}

// Each prompt's "A[3:0]=BBBB" is also what the simulated board's switches follow (the prompt
// contract in docs/architecture.md): the texts never change.
bool SetRegister(FormState& state, CameraLink& link, UserInterface& ui, RegisterRecord* record) {
    return RunRegisterPlan(PlanFor(state), link, ui, record, [&state] {
        for (int n = 1; n <= kMarkedFieldCount; ++n) state.changed[n] = false;
        state.mctl_act = 0;
    });
}

bool DefaultSetting(FormState& state, CameraLink& link, UserInterface& ui, RegisterRecord* record) {
    const FormState defaults;
    for (int n = 1; n <= kFieldCount; ++n) state.text[n] = defaults.text[n];
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        // Item 0 goes off quietly; item 1 coming on is a selection unless it already was.
        if (state.selected[g] != 1) SelectOption(state, g, 1);
    }
    ui.FormChanged();
    return ResetChip(link, ui, record);
}

bool ResetChip(CameraLink& link, UserInterface& ui, RegisterRecord* record) {
    bool stopped = false;
    auto check = [&](HRESULT hr) {
        if (stopped || SUCCEEDED(hr)) return;
        ReportPortFailure(link, ui, kPanelTitle);
        stopped = true;
    };
    auto control = [&](std::uint8_t v) {
        if (!stopped) check(link.WriteControl(v));
    };
    auto data = [&](std::uint8_t v) {
        if (!stopped) check(link.WriteData(v));
    };
    // Two strobes under one selection: the bytes go out as they stand, not reversed.
    control(chip::kControlWrite);
    data(chip::kResetPulseFirst);
    if (stopped) return false;
    link.PromptSelect(chip::SelectPrompt(ChipRegister::kFctl), kPanelTitle);
    control(chip::kControlStrobe);
    control(chip::kControlNone);
    data(chip::kResetPulseSecond);
    control(chip::kControlStrobe);
    if (!stopped && record) record->Reset();
    control(chip::kControlWrite);
    if (stopped) return false;
    check(link.ReturnToVideoPort());
    return !stopped;
}

}  // namespace panel
