// The main window's form state: field texts, change marks, option selections and MCTL bits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/chip/sx540.h"

namespace panel {

constexpr int kFieldCount = 8;        // Text1 .. Text8
constexpr int kMarkedFieldCount = 7;  // Text1 .. Text7 carry a Changed mark
constexpr int kOptionGroupCount = 4;  // Option1 .. Option4

// The window's fields by their number: TextN is FormState::text[N].
enum Field : int {
    kExposureField = 1,  // Text1, EXCTL
    kGainField = 2,      // Text2, GCTL
    kDividerField = 3,   // Text3, FRCTL
    kHStartField = 4,    // Text4 .. Text7: the capture window in blocks
    kHEndField = 5,
    kVStartField = 6,
    kVEndField = 7,
    kFileNameField = 8,  // Text8: the Save As target
};
// The option groups by their number: OptionN is FormState::selected[N].
enum OptionGroup : int {
    kGammaGroup = 1,      // Option1, gama
    kMirrorGroup = 2,     // Option2, mir
    kModeGroup = 3,       // Option3, nsr
    kBacklightGroup = 4,  // Option4, bkl
};

// The chip's control (platform/chip/sx540.h) each field TextN (1..7) and each group OptionN (1..4)
// sets.
constexpr int FieldControl(int n) {
    constexpr int kControl[kMarkedFieldCount + 1] = {
        -1,          chip::kExposure, chip::kGain, chip::kDivider, chip::kHStart,
        chip::kHEnd, chip::kVStart,   chip::kVEnd};
    return n >= 1 && n <= kMarkedFieldCount ? kControl[n] : -1;
}
constexpr int GroupControl(int group) { return chip::kGamma + group - 1; }

struct FormState {
    // Index 1..8 is TextN; index 0 is unused.
    std::array<std::string, kFieldCount + 1> text{"",  "0", "0", "1",           "0",
                                                  "0", "0", "0", "filename.bmp"};
    // Index 1..7 is the Changed mark of TextN.
    std::array<bool, kMarkedFieldCount + 1> changed{};
    // Index 1..4 is the selected item (0 or 1) of OptionN.
    std::array<int, kOptionGroupCount + 1> selected{0, 1, 1, 1, 1};
    // gama, mir and nsr are variants that start empty (counting as 0); bkl is a plain integer.
    std::optional<std::int16_t> gama, mir, nsr;
    std::int16_t bkl = 0;
    std::int16_t mctl_act = 0;
};

// A mouse click in TextN (1..8): the field empties and is marked changed; Text5 also marks Text4
// and Text7 also marks Text6, because Set Register decides on a window register by its start
// field's mark. Text8 has no click handling. Other numbers are ignored.
void ClickField(FormState& state, int n);
// Item `item` (0 or 1) of OptionN (1..4) became selected, by the user or by Default Setting: the
// group's bit becomes its mask for item 0 and 0 for item 1, and mctl_act becomes 1, whether or
// not the bit changed. Other numbers are ignored.
void SelectOption(FormState& state, int group, int item);
// The MCTL value: gama + mir + nsr + bkl (empty bits count as 0).
int MctlValue(const FormState& state);

}  // namespace panel
