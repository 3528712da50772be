// The console's commands on the simulated board's operator side: its switches, whether they
// follow the prompts, and turning it off and on.
#include <string>

#include "panel/board_record.h"
#include "panel/console/console_commands.h"
#include "platform/portio/board_operator.h"

namespace panel::console {
namespace {

// The board's operator side, or null after the error event that says there is none.
portio::BoardOperator* Board(ConsoleSession& session) {
    if (!session.board) session.Error("no simulated board: the port backend is not sim");
    return session.board;
}

}  // namespace

base::Result<> ParseSwitches(const ConsoleCommand& self, CommandArguments args, Command* out) {
    const SplitLine bits = SplitWord(args.rest);
    bool ok = args.given && bits.word.size() == 4;
    int value = 0;
    for (std::size_t i = 0; ok && i < 4; ++i) {
        ok = bits.word[i] == '0' || bits.word[i] == '1';
        value = value << 1 | (bits.word[i] - '0');
    }
    if (!ok)
        return base::Fail("bad switch setting; usage: " + self.Usage() + " (A3 first, e.g. 0010)");
    if (bits.after.given) return UnexpectedText(self);
    out->item = value;
    return {};
}

base::Result<> ParseFollow(const ConsoleCommand& self, CommandArguments args, Command* out) {
    const SplitLine state = SplitWord(args.rest);
    if (!args.given || (state.word != "on" && state.word != "off")) {
        return base::Fail("bad follow setting; usage: " + self.Usage());
    }
    if (state.after.given) return UnexpectedText(self);
    out->item = state.word == "on" ? 1 : 0;
    return {};
}

base::Result<> ParsePowerCycle(const ConsoleCommand& self, CommandArguments args, Command*) {
    if (args.given) return UnexpectedText(self);
    return {};
}

void RunSwitches(const Command& cmd, ConsoleSession& session) {
    if (portio::BoardOperator* board = Board(session))
        board->SetSwitches(static_cast<std::uint8_t>(cmd.item));
}

void RunFollow(const Command& cmd, ConsoleSession& session) {
    if (portio::BoardOperator* board = Board(session)) board->SetFollowsPrompts(cmd.item == 1);
}

void RunPowerCycle(const Command&, ConsoleSession& session) {
    portio::BoardOperator* board = Board(session);
    if (!board) return;
    board->PowerCycle();
    // Nothing is written to a chip just powered on.
    if (KeptBoardRecord* record = session.options.board_record) {
        record->Record().Clear();
        record->Flush();
    }
}

}  // namespace panel::console
