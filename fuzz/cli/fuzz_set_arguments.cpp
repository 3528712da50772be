// The input is split at NUL bytes into arguments; the last one is also used as a frame-name
// pattern. Whatever is accepted must apply to a form without a crash, and every refusal must
// say something.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "panel/cli/image_output.h"
#include "panel/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    const auto parsed = panel::ParseAssignments(args);
    if (parsed) {
        panel::FormState state;
        panel::ApplySettings(*parsed, state);
    } else if (parsed.message().empty()) {
        std::abort();
    }
    const auto name = panel::cli::FrameName(args.back(), 12345);
    if (!name && name.message().empty()) std::abort();
    (void)panel::cli::FormatOf(args.back());
    return 0;
}
