#include "panel/qt/platform_probe.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <QLibraryInfo>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace panel {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Qt's Wayland platform plugin in the folders Qt looks in.
bool WaylandPluginInstalled() {
    std::vector<std::string> dirs;
    const std::string plugin_path = Env("QT_PLUGIN_PATH");
    std::string_view extra = plugin_path;
    while (!extra.empty()) {
        const auto colon = extra.find(':');
        dirs.emplace_back(extra.substr(0, colon));
        extra = colon == std::string_view::npos ? std::string_view() : extra.substr(colon + 1);
    }
    dirs.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString());
    for (const std::string& dir : dirs) {
        for (const char* name : {"libqwayland-generic.so", "libqwayland-egl.so"}) {
            if (IsFile(dir + "/platforms/" + name)) return true;
        }
    }
    return false;
}

// Connects to a display server through the client library Qt's platform itself loads.
std::string Connects(const char* library, const char* connect_name, const char* error_name,
                     const char* disconnect_name, const char* display, const std::string& what) {
    void* lib = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return std::string("the client library ") + library + " is not installed";
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(lib, connect_name));
    const auto has_error =
        error_name ? reinterpret_cast<HasError>(::dlsym(lib, error_name)) : nullptr;
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(lib, disconnect_name));
    std::string problem;
    if (connect && disconnect && (!error_name || has_error)) {
        void* connection = connect(display, nullptr);
        if (!connection || (has_error && has_error(connection) != 0))
            problem = "cannot connect to " + what;
        if (connection) disconnect(connection);
    }
    ::dlclose(lib);
    return problem;
}

std::string WaylandProblem() {
    if (!WaylandPluginInstalled())
        return "Qt's Wayland platform plugin is not installed (Debian package qt6-wayland)";
    const std::string display = Env("WAYLAND_DISPLAY");
    // wl_display_connect takes the name alone (null: WAYLAND_DISPLAY, then "wayland-0").
    return Connects("libwayland-client.so.0", "wl_display_connect", nullptr,
                    "wl_display_disconnect", nullptr,
                    "the Wayland display '" + (display.empty() ? "wayland-0" : display) + "'");
}

std::string XProblem() {
    const std::string display = Env("DISPLAY");
    if (display.empty()) return "DISPLAY is not set";
    return Connects("libxcb.so.1", "xcb_connect", "xcb_connection_has_error", "xcb_disconnect",
                    display.c_str(), "the X display '" + display + "'");
}

}  // namespace

std::string WaylandPlatformProblem() {
    // The platforms Qt tries in turn: QT_QPA_PLATFORM's list, else Wayland first in a Wayland
    // session and X after it.
    std::vector<std::string> names;
    const std::string platforms = Env("QT_QPA_PLATFORM");
    std::string_view list = platforms;
    while (!list.empty()) {
        const auto semicolon = list.find(';');
        const std::string_view entry = list.substr(0, semicolon);
        list =
            semicolon == std::string_view::npos ? std::string_view() : list.substr(semicolon + 1);
        if (!entry.empty()) names.emplace_back(entry.substr(0, entry.find(':')));
    }
    if (names.empty()) {
        if (Env("WAYLAND_DISPLAY").empty() && Env("XDG_SESSION_TYPE") != "wayland") return "";
        names = {"wayland", "xcb"};
    }
    bool wayland = false;
    for (const std::string& name : names) wayland = wayland || name.rfind("wayland", 0) == 0;
    if (!wayland) return "";
    std::string problems;
    for (const std::string& name : names) {
        std::string problem;
        if (name.rfind("wayland", 0) == 0) {
            problem = WaylandProblem();
        } else if (name == "xcb") {
            problem = XProblem();
        }
        if (problem.empty()) return "";
        if (problems.find(problem) == std::string::npos)
            problems += (problems.empty() ? "" : "; ") + problem;
    }
    return "no Qt platform can start (" + problems + ")";
}

}  // namespace panel
