#include "panel/registers.h"

#include "panel/field_numbers.h"

namespace panel {
namespace {

struct Sequence {
    FormState& state;
    CameraLink& link;
    UserInterface& ui;
    RegisterRecord* record = nullptr;
    bool stopped = false;

    // Once stopped (a field error or a port failure), nothing more goes to the port.
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

    // A field's part of its register value, or a box naming it.
    bool Field(int n, LONG* v) { return Converted(n, ConvertField(n, state.text[n], v)); }
    bool Converted(int n, HRESULT hr) {
        if (SUCCEEDED(hr)) return true;
        ui.MessageBox(kPanelTitle, FieldErrorText(n, state.text[n], hr));
        stopped = true;
        return false;
    }

    // One register block: opening control write, the prompt, the value formed from the fields
    // as they are after the prompt, the reversed byte on the data lines and the strobe. The
    // closing 0x08 is the caller's.
    template <typename Form>
    void Block(ChipRegister reg, std::uint8_t opening, const char* prompt, Form form) {
        Control(opening);
        if (stopped) return;
        link.PromptSelect(prompt, kPanelTitle);
        LONG value = 0;
        if (!form(&value)) return;
        Data(ReverseBits(static_cast<std::uint8_t>(value & 0xFF)));
        Control(0x09);
        if (!stopped && record) record->Written(reg, static_cast<std::uint8_t>(value & 0xFF));
    }
};

}  // namespace

HRESULT ConvertField(int n, const std::string& text, LONG* v) {
    double d = 0;
    HRESULT hr = S_OK;
    switch (n) {
        case 3:  // the divider minus one
            hr = TextToReal(text, &d);
            return SUCCEEDED(hr) ? RealToInteger(d - 1.0, v) : hr;
        case 4:  // a start block, in the high nibble
        case 6:
            hr = TextToReal(text, &d);
            return SUCCEEDED(hr) ? RealToInteger(d * 16.0, v) : hr;
        default:  // exposure, gain and the end blocks: the integer value
            return TextToInteger(text, v);
    }
}

void ReportPortFailure(const CameraLink& link, UserInterface& ui, const char* title) {
    ui.MessageBox(title, "The port object failed: " + link.LastFailure() + ".");
}

// Each prompt's "A[3:0]=BBBB" is also what the simulated board's switches follow (the prompt
// contract in docs/architecture.md): the texts never change.
bool SetRegister(FormState& state, CameraLink& link, UserInterface& ui, RegisterRecord* record) {
    Sequence s{state, link, ui, record};
    if (state.changed[kExposureField]) {
        s.Block(ChipRegister::kExctl, 0x08, "Please select EXCTL register A[3:0]=0010",
                [&](LONG* v) { return s.Field(1, v); });
    }
    s.Control(0x08);
    if (!s.stopped && state.changed[kGainField]) {
        s.Block(ChipRegister::kGctl, 0x08, "Please select GCTL register A[3:0]=0011",
                [&](LONG* v) { return s.Field(2, v); });
    }
    s.Control(0x08);
    if (!s.stopped && state.changed[kDividerField]) {
        // FRCTL holds the divider minus one; its block alone opens with 0x00.
        s.Block(ChipRegister::kFrctl, 0x00, "Please select FRCTL register A[3:0]=0100",
                [&](LONG* v) { return s.Field(3, v); });
    }
    s.Control(0x08);
    // A window register packs the start block (times 16) and the end block with a bitwise OR.
    auto window = [&](int start, LONG* v) {
        LONG high = 0, low = 0;
        if (!s.Field(start, &high) || !s.Field(start + 1, &low)) return false;
        *v = high | low;
        return true;
    };
    if (!s.stopped && state.changed[kHStartField]) {
        s.Block(ChipRegister::kHwctl, 0x08, "Please select HWCTL register A[3:0]=0110",
                [&](LONG* v) { return window(4, v); });
    }
    s.Control(0x08);
    if (!s.stopped && state.changed[kVStartField]) {
        s.Block(ChipRegister::kVwctl, 0x08, "Please select VWCTL register A[3:0]=0111",
                [&](LONG* v) { return window(6, v); });
    }
    // No closing write after VWCTL: MCTL's opening write or the final 0x08 stands for it.
    if (!s.stopped && state.mctl_act == 1) {
        s.Block(ChipRegister::kMctl, 0x08, "Please select MCTL register A[3:0]=0101", [&](LONG* v) {
            *v = MctlValue(state);
            return true;
        });
    }
    s.Control(0x08);
    s.Control(0x28);
    if (s.stopped) return false;
    link.PromptSelect(kVideoPortPrompt, kPanelTitle);
    for (int n = 1; n <= kMarkedFieldCount; ++n) state.changed[n] = false;
    state.mctl_act = 0;
    s.Control(0x22);
    return !s.stopped;
}

bool DefaultSetting(FormState& state, CameraLink& link, UserInterface& ui, RegisterRecord* record) {
    const FormState defaults;
    for (int n = 1; n <= kFieldCount; ++n) state.text[n] = defaults.text[n];
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        // Item 0 goes off quietly; item 1 coming on is a selection unless it already was.
        if (state.selected[g] != 1) SelectOption(state, g, 1);
    }
    ui.FormChanged();
    Sequence s{state, link, ui, record};
    // Two strobes under one selection: the bytes go out as they stand, not reversed.
    s.Control(0x08);
    s.Data(0x80);
    if (s.stopped) return false;
    link.PromptSelect("Please select FCTL register A[3:0]=0001", kPanelTitle);
    s.Control(0x09);
    s.Control(0x00);
    s.Data(0x00);
    s.Control(0x09);
    if (!s.stopped && record) record->Reset();
    s.Control(0x08);
    if (s.stopped) return false;
    s.Check(link.ReturnToVideoPort());
    return !s.stopped;
}

}  // namespace panel
