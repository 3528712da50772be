#include <string>

#include "panel/console/console_front_end.h"
#include "platform/base/shown.h"

namespace panel::console {
namespace {

// "TextN" / "OptionN" with N in 1..max, no sign, no leading zero.
bool ParseName(std::string_view word, std::string_view prefix, int max, int* n) {
    if (word.size() != prefix.size() + 1 || word.substr(0, prefix.size()) != prefix) return false;
    const char digit = word.back();
    if (digit < '1' || digit - '0' > max) return false;
    *n = digit - '0';
    return true;
}

// Splits off the first space-separated word; `rest` is what follows the one separating space
// (nullopt-like: has_rest false when there was no space).
struct Split {
    std::string_view word;
    std::string_view rest;
    bool has_rest = false;
};
Split SplitWord(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}, false};
    return {line.substr(0, space), line.substr(space + 1), true};
}

}  // namespace

std::string EchoInput(std::string_view input) {
    if (input.size() <= kEchoLimit) return "\"" + std::string(input) + "\"";
    std::size_t cut = kEchoLimit;
    while (cut > 0 && (static_cast<unsigned char>(input[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(input.substr(0, cut)) + "\"... (cut; " +
           std::to_string(input.size()) + " bytes in all)";
}

base::Result<Command> ParseCommand(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Command out;
    if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') {
        return out;
    }
    const Split cmd = SplitWord(line);
    auto fail = [](const std::string& message) { return base::Fail(message); };
    auto too_much = [](const char* usage) {
        return base::Fail(std::string("unexpected text after the command; usage: ") + usage);
    };
    const std::string word(cmd.word);

    if (word == "show" || word == "quit") {
        if (cmd.has_rest) return fail(word + " takes no argument");
        out.kind = word == "show" ? Command::kShow : Command::kQuit;
        return out;
    }
    if (word == "click" || word == "text" || word == "enter") {
        const bool with_value = word != "click";
        const char* usage = with_value ? (word == "text" ? "text TextN VALUE" : "enter TextN VALUE")
                                       : "click TextN";
        if (!cmd.has_rest) return fail("missing field name; usage: " + std::string(usage));
        const Split field = SplitWord(cmd.rest);
        if (!ParseName(field.word, "Text", 8, &out.number)) {
            return fail("bad field name " + EchoInput(field.word) +
                        ": the fields are Text1 to Text8");
        }
        if (!with_value) {
            if (field.has_rest) return too_much(usage);
            out.kind = Command::kClick;
            return out;
        }
        if (!field.has_rest) return fail("missing value; usage: " + std::string(usage));
        out.kind = word == "text" ? Command::kText : Command::kEnter;
        out.value = std::string(field.rest);
        return out;
    }
    if (word == "option") {
        const char* usage = "option OptionN 0|1";
        const Split group = SplitWord(cmd.rest);
        if (!cmd.has_rest || !ParseName(group.word, "Option", 4, &out.number)) {
            return fail("bad option group " + EchoInput(group.word) +
                        ": the groups are Option1 to Option4");
        }
        const Split item = SplitWord(group.rest);
        if (!group.has_rest || (item.word != "0" && item.word != "1")) {
            return fail("bad option item; usage: " + std::string(usage));
        }
        if (item.has_rest) return too_much(usage);
        out.kind = Command::kOption;
        out.item = item.word == "1" ? 1 : 0;
        return out;
    }
    if (word == "press") {
        const Split name = SplitWord(cmd.rest);
        if (!cmd.has_rest || (name.word != "Command1" && name.word != "Capture" &&
                              name.word != "SaveAs" && name.word != "Command2")) {
            return fail("bad button " + EchoInput(name.word) +
                        ": the buttons are Command1, Capture, SaveAs and Command2");
        }
        if (name.has_rest) return too_much("press NAME");
        out.kind = Command::kPress;
        out.button = std::string(name.word);
        return out;
    }
    if (word == "switches") {
        const Split bits = SplitWord(cmd.rest);
        bool ok = cmd.has_rest && bits.word.size() == 4;
        int value = 0;
        for (std::size_t i = 0; ok && i < 4; ++i) {
            ok = bits.word[i] == '0' || bits.word[i] == '1';
            value = value << 1 | (bits.word[i] - '0');
        }
        if (!ok) return fail("bad switch setting; usage: switches BBBB (A3 first, e.g. 0010)");
        if (bits.has_rest) return too_much("switches BBBB");
        out.kind = Command::kSwitches;
        out.item = value;
        return out;
    }
    if (word == "power-cycle") {
        if (cmd.has_rest) return too_much("power-cycle");
        out.kind = Command::kPowerCycle;
        return out;
    }
    if (word == "follow") {
        const Split state = SplitWord(cmd.rest);
        if (!cmd.has_rest || (state.word != "on" && state.word != "off")) {
            return fail("bad follow setting; usage: follow on|off");
        }
        if (state.has_rest) return too_much("follow on|off");
        out.kind = Command::kFollow;
        out.item = state.word == "on" ? 1 : 0;
        return out;
    }
    if (auto workbench = ParseWorkbenchCommand(word, cmd.rest, cmd.has_rest)) return *workbench;
    return fail("unknown command " + EchoInput(word));
}

std::string EscapeField(std::string_view text) { return base::EscapeText(text); }

}  // namespace panel::console
