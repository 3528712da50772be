// The console's command parser on arbitrary lines: it never crashes, and what it accepts is
// well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/console/console_front_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const base::Result<panel::console::Command> parsed = panel::console::ParseCommand(line);
    if (parsed) {
        const panel::console::Command& cmd = *parsed;
        using C = panel::console::Command;
        switch (cmd.kind) {
            case C::kClick:
            case C::kText:
            case C::kEnter:
                if (cmd.number < 1 || cmd.number > 8) std::abort();
                break;
            case C::kOption:
                if (cmd.number < 1 || cmd.number > 4 || cmd.item < 0 || cmd.item > 1) std::abort();
                break;
            case C::kSwitches:
                if (cmd.item < 0 || cmd.item > 15) std::abort();
                break;
            case C::kPress:
                if (cmd.button != "Command1" && cmd.button != "Capture" && cmd.button != "SaveAs" &&
                    cmd.button != "Command2") {
                    std::abort();
                }
                break;
            default:
                break;
        }
        // A value is exactly the rest of the line after "text TextN ".
        if ((cmd.kind == C::kText || cmd.kind == C::kEnter) &&
            line.find(cmd.value) == std::string::npos) {
            std::abort();
        }
    } else if (parsed.message().empty()) {
        std::abort();
    }
    // An escaped field never holds a tab, a line break or any other control character (C1 ones
    // as UTF-8 encodes them included), and an error quotes at most a bounded part of the line.
    const std::string escaped = panel::console::EscapeField(line);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        if (c < 0x20 || c == 0x7F) std::abort();
        if (c == 0xC2 && i + 1 < escaped.size() &&
            static_cast<unsigned char>(escaped[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(escaped[i + 1]) <= 0x9F)
            std::abort();
    }
    if (!parsed && parsed.message().size() > 2 * panel::console::kEchoLimit + 160) std::abort();
    return 0;
}
