#include "panel/cli/arguments.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include "panel/capture.h"
#include "panel/cli/subcommands.h"
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

// One argument's reading: what it is, and the next argument for an option that takes a value.
class Reader {
public:
    Reader(const std::vector<std::string>& args, Arguments& a) : args_(args), a_(a) {}
    const std::string& arg() const { return args_[i_]; }
    bool Is(const char* short_name, const char* long_name) const {
        return (short_name && arg() == short_name) || arg() == long_name;
    }
    // Options other than --help may be given once.
    base::Result<> Once(const char* option) {
        if (!given_.insert(option).second)
            return base::Fail(std::string(option) + " is given twice");
        return {};
    }
    base::Result<std::string> Value(const char* option) {
        if (auto first = Once(option); !first) return first.error();
        if (i_ + 1 >= args_.size()) return base::Fail(std::string(option) + " needs a value");
        return args_[++i_];
    }
    bool Next() { return ++i_ < args_.size(); }
    Arguments& a() { return a_; }

private:
    const std::vector<std::string>& args_;
    Arguments& a_;
    std::size_t i_ = 0;
    std::set<std::string> given_;  // each option by its long name
};

// A subcommand's own argument: handled (true), not one of its own (false), or refused.
using Own = std::function<base::Result<bool>(Reader& r)>;

// The loop every subcommand shares: --help anywhere, --yes and -q where `prompts` (the
// subcommands that write registers), then the subcommand's own arguments.
base::Result<Arguments> Parse(const char* command, const std::vector<std::string>& args,
                              bool prompts, const Own& own) {
    Arguments a;
    a.command = command;
    Reader r(args, a);
    for (bool more = !args.empty(); more; more = r.Next()) {
        if (r.Is("-h", "--help")) {
            a.help = true;
            continue;
        }
        if (prompts && r.Is("-y", "--yes")) {
            if (auto first = r.Once("--yes"); !first) return first.error();
            a.yes = true;
            continue;
        }
        if (prompts && r.Is("-q", "--quiet")) {
            if (auto first = r.Once("-q"); !first) return first.error();
            a.quiet = true;
            continue;
        }
        base::Result<bool> taken = own ? own(r) : base::Result<bool>(false);
        if (!taken) return taken.error();
        if (!*taken) return base::Fail("unknown argument " + base::Shown(r.arg()));
    }
    return a;
}

}  // namespace

base::Result<Arguments> ParseSetArguments(const std::vector<std::string>& args) {
    std::vector<std::string> assignments;
    base::Result<Arguments> a = Parse("set", args, true, [&](Reader& r) -> base::Result<bool> {
        if (r.arg().empty() || r.arg()[0] == '-') return false;
        assignments.push_back(r.arg());
        return true;
    });
    if (!a || a->help) return a;
    auto settings = ParseAssignments(assignments);
    if (!settings) return settings.error();
    a->settings = *settings;
    return a;
}

base::Result<Arguments> ParseResetArguments(const std::vector<std::string>& args) {
    return Parse("reset", args, true, nullptr);
}

base::Result<Arguments> ParseCaptureArguments(const std::vector<std::string>& args) {
    base::Result<Arguments> a = Parse("capture", args, true, [](Reader& r) -> base::Result<bool> {
        Arguments& a = r.a();
        if (r.Is("-o", "--output")) {
            auto v = r.Value("-o");
            if (!v) return v.error();
            auto format = FormatOf(*v);
            if (!format) return base::Fail("-o " + format.message());
            a.output = *v;
            a.format = *format;
        } else if (r.Is(nullptr, "--no-set")) {
            if (auto first = r.Once("--no-set"); !first) return first.error();
            a.no_set = true;
        } else if (r.Is(nullptr, "--window")) {
            auto v = r.Value("--window");
            if (!v) return v.error();
            auto window = WindowOf(*v);
            if (!window) return window.error();
            a.window = *window;
        } else if (r.Is(nullptr, "--count")) {
            auto v = r.Value("--count");
            if (!v) return v.error();
            auto count = CountOf(*v);
            if (!count) return count.error();
            a.count = *count;
            a.numbered = true;
        } else {
            return false;
        }
        return true;
    });
    if (!a || a->help || !a->output) return a;
    for (int n = 1; n <= (a->numbered ? std::min(a->count, 2) : 0); ++n) {
        if (auto name = FrameName(*a->output, n); !name) return base::Fail("-o " + name.message());
    }
    if (auto w = CheckWritable(*a->output); !w) return w.error();
    return a;
}

base::Result<Arguments> ParseStatusArguments(const std::vector<std::string>& args) {
    return Parse("status", args, false, [](Reader& r) -> base::Result<bool> {
        if (!r.Is(nullptr, "--json")) return false;
        if (auto first = r.Once("--json"); !first) return first.error();
        r.a().json = true;
        return true;
    });
}

base::Result<Arguments> ParsePowerCycleArguments(const std::vector<std::string>& args) {
    return Parse("power-cycle", args, false, nullptr);
}

base::Result<Arguments> ParseArguments(const std::string& command,
                                       const std::vector<std::string>& args) {
    const Subcommand* s = FindSubcommand(command);
    if (!s) return base::Fail("unknown subcommand " + base::Shown(command));
    return s->parse(args);
}

}  // namespace panel::cli
