#include "panel/form_state.h"

namespace panel {

void ClickField(FormState& state, int n) {
    if (n < 1 || n > kMarkedFieldCount) return;
    state.text[n].clear();
    state.changed[n] = true;
    if (n == kHEndField) state.changed[kHStartField] = true;
    if (n == kVEndField) state.changed[kVStartField] = true;
}

void SelectOption(FormState& state, int group, int item) {
    if (group < 1 || group > kOptionGroupCount || (item != 0 && item != 1)) return;
    state.selected[group] = item;
    const std::int16_t bit = chip::PartOf(chip::kControls[GroupControl(group)], item);
    switch (group) {
        case kGammaGroup:
            state.gama = bit;
            break;
        case kMirrorGroup:
            state.mir = bit;
            break;
        case kModeGroup:
            state.nsr = bit;
            break;
        default:
            state.bkl = bit;
            break;
    }
    state.mctl_act = 1;
}

int MctlValue(const FormState& state) {
    return state.gama.value_or(0) + state.mir.value_or(0) + state.nsr.value_or(0) + state.bkl;
}

}  // namespace panel
