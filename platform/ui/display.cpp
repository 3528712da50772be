#include "platform/ui/display.h"

#include <cstdlib>
#include <string_view>

namespace ui {
namespace {

bool Set(const EnvLookup& getenv, const char* name) {
    const char* value = getenv(name);
    return value && *value;
}

}  // namespace

bool DisplayAvailable(const EnvLookup& getenv) {
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform) return Set(getenv, "DISPLAY") || Set(getenv, "WAYLAND_DISPLAY");
    // A list of platforms to try in turn, each "name[:options]".
    std::string_view rest(platform);
    while (!rest.empty()) {
        const auto end = rest.find(';');
        std::string_view entry = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name.empty()) continue;
        if (name == "xcb") {
            if (Set(getenv, "DISPLAY")) return true;
        } else if (name.substr(0, 7) == "wayland") {
            if (Set(getenv, "WAYLAND_DISPLAY")) return true;
        } else {
            return true;
        }
    }
    return false;
}

bool DisplayAvailable() {
    return DisplayAvailable([](const char* name) { return std::getenv(name); });
}

}  // namespace ui
