#include "panel/cli/subcommands.h"

#include <cstdio>

#include "panel/cli/task.h"
#include "platform/base/shown.h"
#include "platform/base/text.h"

namespace panel::cli {
namespace {

constexpr char kSetHelp[] =
    "Usage: lensbay set [--yes] [-q] KEY=VALUE...\n"
    "  Writes the camera's registers as Set Register does after those fields were typed and\n"
    "  those options selected in the window; keys not named are not written.\n"
    "  Keys: exposure, gain, divider, h_start, h_end, v_start, v_end (numbers, as the window's\n"
    "  fields take them), gamma=0.45|1.0, mirror=on|off, mode=indoor|outdoor, backlight=on|off\n"
    "  (the words in any case), as a settings file takes them.\n";
constexpr char kResetHelp[] =
    "Usage: lensbay reset [--yes] [-q]\n"
    "  Puts the camera back to its default setting, as Default Setting does.\n";
constexpr char kCaptureHelp[] =
    "Usage: lensbay capture [--yes] [-q] [-o FILE] [--window H_START,H_END,V_START,V_END]\n"
    "                       [--count N] [--no-set]\n"
    "  Writes the chip's window registers (HWCTL, VWCTL) for the window it reads, the full frame\n"
    "  included, as Set Register does for those fields, then captures as the Capture button\n"
    "  does; with --no-set, Capture alone (the chip's window must already match). Without -o:\n"
    "  image.raw, image.bmp and their record image.json in the working directory. With -o: FILE\n"
    "  by its extension (.bmp, .raw as Capture writes them; .png, .pgm 8-bit grey) and its\n"
    "  record beside it (FILE's name with .json for its extension). With --count N: N frames\n"
    "  (1 included), FILE numbered by a %d or %04d in its name (else -0001, -0002, ... before\n"
    "  the extension); without --count, FILE is taken as it is written. Progress on standard\n"
    "  error. Each record holds the frame's time, its number in the\n"
    "  series, the window and what was last written to each register. The capture ends with a\n"
    "  summary: frames, seconds, frames a second.\n"
    "  --window: the capture window in whole blocks, 0..15 (the window's Text4 to "
    "Text7).\n";
constexpr char kPromptsHelp[] =
    "  --yes    answer every register-selection prompt at once (for boards whose A[3:0]\n"
    "           switches follow by themselves); without it a prompt waits for Enter, except on\n"
    "           the simulated board while its switches follow the prompts.\n"
    "  -q       errors only on standard error (a prompt that waits for Enter is still shown).\n"
    "  Exit status: 0 done, 1 bad arguments or a failed operation, 2 the Pinbus control is not\n"
    "  registered or will not load, 3 the port cannot be had (PORTIO names no backend, the\n"
    "  backend cannot be opened, or another program holds the port).\n";
constexpr char kStatusHelp[] =
    "Usage: lensbay status [--json]\n"
    "  Every control of the camera chip (exposure, gain, divider, the four options, the capture\n"
    "  window, the reset) with its register, range and default, and the value Lensbay's\n"
    "  programs on this machine last wrote to it (the chip cannot be read back), when and by\n"
    "  which; \"not written since power-on\" where none did. On the simulated board also what\n"
    "  its chip holds, so that a register latched elsewhere shows. The record is kept beside\n"
    "  the port's lock (the simulated board: beside its state file); writes of other hosts\n"
    "  (ocxhost, Windows programs) are not in it. No port cycle is run, so it works while\n"
    "  another program holds the port.\n"
    "  --json   the same as one JSON object, for scripts.\n"
    "  Exit status: 0, 1 when the record or the simulated board's state cannot be read (said\n"
    "  on standard error, in the table, and as \"record_problem\" or \"board_problem\" in the\n"
    "  JSON), 3 when PORTIO names no backend.\n";
constexpr char kPowerCycleHelp[] =
    "Usage: lensbay power-cycle\n"
    "  Turns the simulated board off and on: its chip registers go back to their reset state,\n"
    "  the record of what was written to them is emptied; its switches stay as set. Refused\n"
    "  while another program holds the board.\n"
    "  Exit status: 0 done, 1 not the simulated board or its state file cannot be written,\n"
    "  3 the board is in use.\n";

std::string Names(const char* separator) {
    std::string out;
    for (const Subcommand& s : Subcommands())
        out += (out.empty() ? "" : separator) + std::string(s.name);
    return out;
}

}  // namespace

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> table = {
        {"set", "[--yes] [-q] KEY=VALUE...", "write registers as Set Register does",
         std::string(kSetHelp) + kPromptsHelp, ParseSetArguments, RunSet},
        {"reset", "[--yes] [-q]", "Default Setting", std::string(kResetHelp) + kPromptsHelp,
         ParseResetArguments, RunReset},
        {"capture", "[--yes] [-q] [-o FILE] [--window ...] [--count N] [--no-set]",
         "capture frames into files, each with its record",
         std::string(kCaptureHelp) + kPromptsHelp, ParseCaptureArguments, RunCapture},
        {"status", "[--json]", "every register: range, default, what was last written", kStatusHelp,
         ParseStatusArguments, RunStatus},
        {"power-cycle", "", "turn the simulated board off and on", kPowerCycleHelp,
         ParsePowerCycleArguments, RunPowerCycle},
    };
    return table;
}

const Subcommand* FindSubcommand(std::string_view name) {
    for (const Subcommand& s : Subcommands())
        if (name == s.name) return &s;
    return nullptr;
}

bool IsSubcommand(const char* arg) { return arg != nullptr && arg[0] != '-'; }

std::string SubcommandUsage() {
    std::string out;
    for (const Subcommand& s : Subcommands()) {
        std::string line = "       lensbay " + std::string(s.name);
        if (*s.synopsis) line += " " + std::string(s.synopsis);
        out += line + "\n";
    }
    return out;
}

std::string SubcommandList() {
    std::string out = "  Subcommands (each with --help):\n";
    for (const Subcommand& s : Subcommands()) {
        std::string name = s.name;
        name.resize(std::max<std::size_t>(name.size(), 13), ' ');
        out += "    " + name + s.summary + "\n";
    }
    return out;
}

int RunSubcommand(int argc, char** argv, const Context& context) {
    const std::string word = argv[1];
    const Subcommand* s = FindSubcommand(word);
    if (!s) {
        std::vector<std::string_view> names;
        for (const Subcommand& c : Subcommands()) names.push_back(c.name);
        const std::string_view nearest = base::NearestName(word, names);
        std::fprintf(
            stderr, "lensbay: unknown subcommand %s%s\n", base::Shown(word).c_str(),
            nearest.empty() ? "" : ("; did you mean " + std::string(nearest) + "?").c_str());
        std::fprintf(stderr,
                     "The subcommands: %s (each with --help); lensbay --help says the rest.\n",
                     Names(", ").c_str());
        return kExitFailed;
    }
    auto parsed = s->parse(std::vector<std::string>(argv + 2, argv + argc));
    if (!parsed) {
        std::fprintf(stderr, "lensbay %s: %s\n(see lensbay %s --help)\n", s->name,
                     parsed.message().c_str(), s->name);
        return kExitFailed;
    }
    if (parsed->help) {
        std::fputs(s->help.c_str(), stdout);
        return kExitOk;
    }
    return s->run(*parsed, context);
}

}  // namespace panel::cli
