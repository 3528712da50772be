// Set Register's rules as a plan and its executor: which registers are written (only those with
// a change), in the chip's order with each block's opening and closing control writes and its
// prompt (platform/chip/sx540.h), and the return to the video port. The window's form, the
// command line, the console and the element all write the chip's registers through it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "panel/camera_link.h"
#include "panel/chip_settings.h"
#include "panel/register_record.h"
#include "panel/user_interface.h"
#include "platform/base/result.h"

namespace panel {

class RegisterPlan {
public:
    // Forms the register's 32-bit value once its prompt has been acknowledged (the window's
    // fields are read then); only its low byte reaches the chip. An error's message is shown in a
    // box and stops the plan there, before the data write.
    using Form = std::function<base::Result<LONG>()>;

    // The register is written; a second Add of one register replaces the first.
    void Add(ChipRegister reg, Form form);
    void Add(ChipRegister reg, std::uint8_t value) {
        Add(reg, [value]() -> base::Result<LONG> { return LONG{value}; });
    }
    // The register's form, or null when the plan leaves it alone.
    const Form* Find(ChipRegister reg) const;
    bool empty() const { return writes_.empty(); }

private:
    std::vector<std::pair<ChipRegister, Form>> writes_;
};

// Every register that a given control touches, with the value the given controls make (MCTL
// when any option is given, its other options clear; a window register when either half is).
RegisterPlan PlanFor(const ChipSettings& settings);

// Runs the plan as Set Register does: each planned register under its prompt, in the chip's
// order, the closing writes also for the registers left alone, then control 0x28, the
// video-port prompt, `at_video_port` (the form clears its marks there) and control 0x22. A port
// failure is reported in a box and stops it. Each value whose strobe went out is noted in
// `record` when one is given. True when it ran to its end.
bool RunRegisterPlan(const RegisterPlan& plan, CameraLink& link, UserInterface& ui,
                     RegisterRecord* record, const std::function<void()>& at_video_port = {});

}  // namespace panel
