#include "panel/form_state.h"

namespace panel {

void ClickField(FormState& state, int n) {
    if (n < 1 || n > kMarkedFieldCount) return;
    state.text[n].clear();
    state.changed[n] = true;
    if (n == 5) state.changed[4] = true;
    if (n == 7) state.changed[6] = true;
}

void SelectOption(FormState& state, int group, int item) {
    if (group < 1 || group > kOptionGroupCount || (item != 0 && item != 1)) return;
    state.selected[group] = item;
    static constexpr std::int16_t kMask[] = {0, 0x80, 0x40, 0x20, 0x10};
    const std::int16_t bit = item == 0 ? kMask[group] : 0;
    switch (group) {
        case 1:
            state.gama = bit;
            break;
        case 2:
            state.mir = bit;
            break;
        case 3:
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
