// The subcommands' argument parsers on arbitrary bytes: the first byte picks set, reset, capture,
// status or power-cycle, the rest is split at NUL bytes into arguments. Every refusal says
// something; what is accepted holds a count in range, a format with every output, a window of four
// blocks in the chip's range that frames a picture, and settings that apply to a form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "panel/capture.h"
#include "panel/cli/arguments.h"
#include "platform/chip/sx540.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kCommands[] = {"set", "reset", "capture", "status", "power-cycle"};
    const std::string command = kCommands[data[0] % 5];
    std::vector<std::string> args;
    for (std::size_t i = 1; i < size; ++i) {
        if (args.empty() || data[i] == 0) args.emplace_back();
        if (data[i] != 0) args.back() += static_cast<char>(data[i]);
    }
    const auto parsed = panel::cli::ParseArguments(command, args);
    if (!parsed) {
        if (parsed.message().empty()) std::abort();
        return 0;
    }
    const panel::cli::Arguments& a = *parsed;
    if (a.help) return 0;
    if (a.count < 1 || a.count > 1000000) std::abort();
    if (a.output.has_value() != a.format.has_value()) std::abort();
    if (a.window) {
        // All four blocks, each within the chip's range, and the geometry the capture reads is
        // the one the window's fields would give for the same blocks.
        int b[4];
        for (int i = 0; i < 4; ++i) {
            const std::optional<int>& v = a.window->Get(chip::kHStart + i);
            if (!v || *v < 0 || *v > 15) std::abort();
            b[i] = *v;
        }
        const panel::FrameGeometry g = panel::BlockGeometry(b[0], b[1], b[2], b[3]);
        const auto fields = panel::ComputeFrameGeometry(std::to_string(b[0]), std::to_string(b[1]),
                                                        std::to_string(b[2]), std::to_string(b[3]));
        if (!fields || fields->FrameWidth != g.FrameWidth || fields->FrameHeight != g.FrameHeight ||
            fields->RowSkip != g.RowSkip || fields->ByteCount != g.ByteCount || g.ByteCount <= 0)
            std::abort();
    }
    if (command == "set") {
        if (a.settings.empty()) std::abort();
        panel::FormState state;
        panel::ApplySettings(a.settings, state);
    } else if (!a.settings.empty()) {
        std::abort();
    }
    return 0;
}
