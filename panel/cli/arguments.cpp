#include "panel/cli/arguments.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "panel/capture.h"
#include "platform/base/shown.h"

namespace panel::cli {
namespace {

base::Result<int> CountOf(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000)
        return base::Fail("--count " + base::Shown(text) +
                          ": must be a whole number from 1 to 1000000");
    return static_cast<int>(n);
}

base::Result<std::array<std::string, 4>> WindowOf(const std::string& text) {
    std::array<std::string, 4> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto comma = text.find(',', start);
        if ((i < 3) == (comma == std::string::npos))
            return base::Fail("--window " + base::Shown(text) +
                              ": give four numbers H_START,H_END,V_START,V_END");
        parts[i] =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma + 1;
    }
    if (auto g = ComputeFrameGeometry(parts[0], parts[1], parts[2], parts[3]); !g)
        return base::Fail("--window " + base::Shown(text) + ": " + g.message());
    return parts;
}

// The directory a file goes into must exist and take new files.
base::Result<> CheckWritable(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return base::Fail("-o " + base::Shown(path) + ": cannot write into " + base::Shown(dir) +
                          ": " + std::strerror(errno));
    return {};
}

}  // namespace

base::Result<Arguments> ParseArguments(const std::string& command,
                                       const std::vector<std::string>& args) {
    Arguments a;
    a.command = command;
    std::vector<std::string> assignments;
    std::set<std::string> given;  // each option by its long name
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Options other than --help may be given once.
        auto once = [&](const char* option) -> base::Result<> {
            if (!given.insert(option).second)
                return base::Fail(std::string(option) + " is given twice");
            return {};
        };
        auto value = [&](const char* option) -> base::Result<std::string> {
            if (auto first = once(option); !first) return first.error();
            if (i + 1 >= args.size()) return base::Fail(std::string(option) + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--yes" || arg == "-y") {
            if (auto first = once("--yes"); !first) return first.error();
            a.yes = true;
        } else if (command == "capture" && (arg == "-o" || arg == "--output")) {
            auto v = value("-o");
            if (!v) return v.error();
            auto format = FormatOf(*v);
            if (!format) return base::Fail("-o " + format.message());
            a.output = *v;
            a.format = *format;
        } else if (command == "capture" && arg == "--no-set") {
            if (auto first = once("--no-set"); !first) return first.error();
            a.no_set = true;
        } else if (command == "capture" && arg == "--window") {
            auto v = value("--window");
            if (!v) return v.error();
            auto window = WindowOf(*v);
            if (!window) return window.error();
            a.window = *window;
        } else if (command == "capture" && arg == "--count") {
            auto v = value("--count");
            if (!v) return v.error();
            auto count = CountOf(*v);
            if (!count) return count.error();
            a.count = *count;
        } else if (command == "set" && !arg.empty() && arg[0] != '-') {
            assignments.push_back(arg);
        } else {
            return base::Fail("unknown argument " + base::Shown(arg));
        }
    }
    if (a.help) return a;
    if (command == "set") {
        auto settings = ParseAssignments(assignments);
        if (!settings) return settings.error();
        a.settings = *settings;
    }
    if (a.output) {
        for (int n = 1; n <= (a.count > 1 ? 2 : 0); ++n) {
            if (auto name = FrameName(*a.output, n); !name)
                return base::Fail("-o " + name.message());
        }
        if (auto w = CheckWritable(*a.output); !w) return w.error();
    }
    return a;
}

}  // namespace panel::cli
