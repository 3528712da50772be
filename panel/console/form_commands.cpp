// The console's commands on the main window: its fields, option groups and buttons, and `show`.
#include <optional>
#include <string>

#include "panel/console/console_commands.h"
#include "panel/form_state.h"
#include "panel/panel.h"

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

std::string BitText(const std::optional<std::int16_t>& bit) {
    return bit ? std::to_string(*bit) : "empty";
}

}  // namespace

// click TextN, text TextN VALUE, enter TextN VALUE.
base::Result<> ParseField(const ConsoleCommand& self, CommandArguments args, Command* out) {
    if (!args.given) return base::Fail("missing field name; usage: " + self.Usage());
    const SplitLine field = SplitWord(args.rest);
    if (!ParseName(field.word, "Text", 8, &out->number)) {
        return base::Fail("bad field name " + EchoInput(field.word) +
                          ": the fields are Text1 to Text8");
    }
    if (out->kind == Command::kClick) {
        if (field.after.given) return UnexpectedText(self);
        return {};
    }
    if (!field.after.given) return base::Fail("missing value; usage: " + self.Usage());
    out->value = std::string(field.after.rest);
    return {};
}

base::Result<> ParseOption(const ConsoleCommand& self, CommandArguments args, Command* out) {
    const SplitLine group = SplitWord(args.rest);
    if (!args.given || !ParseName(group.word, "Option", 4, &out->number)) {
        return base::Fail("bad option group " + EchoInput(group.word) +
                          ": the groups are Option1 to Option4");
    }
    const SplitLine item = SplitWord(group.after.rest);
    if (!group.after.given || (item.word != "0" && item.word != "1")) {
        return base::Fail("bad option item; usage: " + self.Usage());
    }
    if (item.after.given) return UnexpectedText(self);
    out->item = item.word == "1" ? 1 : 0;
    return {};
}

base::Result<> ParsePress(const ConsoleCommand& self, CommandArguments args, Command* out) {
    const SplitLine name = SplitWord(args.rest);
    if (!args.given || (name.word != "Command1" && name.word != "Capture" &&
                        name.word != "SaveAs" && name.word != "Command2")) {
        return base::Fail("bad button " + EchoInput(name.word) +
                          ": the buttons are Command1, Capture, SaveAs and Command2");
    }
    if (name.after.given) return UnexpectedText(self);
    out->button = std::string(name.word);
    return {};
}

void RunClick(const Command& cmd, ConsoleSession& session) { session.panel.TextClick(cmd.number); }

void RunText(const Command& cmd, ConsoleSession& session) {
    session.panel.SetText(cmd.number, cmd.value);
}

void RunEnter(const Command& cmd, ConsoleSession& session) {
    session.panel.TextClick(cmd.number);
    session.panel.SetText(cmd.number, cmd.value);
}

void RunOption(const Command& cmd, ConsoleSession& session) {
    session.panel.OptionClick(cmd.number, cmd.item);
}

void RunPress(const Command& cmd, ConsoleSession& session) {
    Panel& panel = session.panel;
    if (cmd.button == "Command1") panel.Command1Click();
    if (cmd.button == "Capture") panel.CaptureClick();
    if (cmd.button == "SaveAs") panel.SaveAsClick();
    if (cmd.button == "Command2") panel.Command2Click();
}

void RunShow(const Command&, ConsoleSession& session) {
    const FormState& s = session.panel.State();
    const auto& write = session.write;
    for (int n = 1; n <= kFieldCount; ++n) {
        std::string line = "show\tText" + std::to_string(n) + "\t" + EscapeField(s.text[n]);
        if (n <= kMarkedFieldCount) line += s.changed[n] ? "\tchanged=True" : "\tchanged=False";
        write(line);
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        write("show\tOption" + std::to_string(g) + "\t" + std::to_string(s.selected[g]));
    }
    write("show\tgama\t" + BitText(s.gama));
    write("show\tmir\t" + BitText(s.mir));
    write("show\tnsr\t" + BitText(s.nsr));
    write("show\tbkl\t" + std::to_string(s.bkl));
    write("show\tmctl_act\t" + std::to_string(s.mctl_act));
}

}  // namespace panel::console
