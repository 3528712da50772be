// The settings file parser on arbitrary bytes: no crash; an error names the file and a line of
// it; a parsed file applies and saves to a file that parses to the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "panel/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const base::Result<panel::Settings> s = panel::ParseSettings(text, "f");
    if (!s.ok()) {
        if (s.message().rfind("f:", 0) != 0) std::abort();
        return 0;
    }
    panel::FormState state;
    panel::ApplySettings(*s, state);
    const base::Result<panel::Settings> again =
        panel::ParseSettings(panel::FormatSettings(state), "saved");
    if (!again.ok()) std::abort();
    for (int c = 0; c < chip::kControlCount; ++c) {
        if (s->Given(c) && again->Get(c) != s->Get(c)) std::abort();
    }
    return 0;
}
