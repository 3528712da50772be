#include "panel/chip_status.h"

#include <algorithm>

#include "panel/board_record.h"
#include "panel/picture_files.h"
#include "platform/base/shown.h"
#include "platform/portio/backend_registry.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"

namespace panel {
namespace {

// A control's value in a register value, as the settings give it ("40", "0.45", "on").
std::string Decode(const chip::Control& c, std::uint8_t v) {
    if (c.kind == chip::ControlKind::kReset) return "pulsed";
    const int value = chip::ValueIn(c, v);
    return c.kind == chip::ControlKind::kOption ? c.words[value] : std::to_string(value);
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

base::Result<ChipStatus> ReadChipStatus() {
    // A backend that does not exist is refused here as by the commands that open it.
    std::string argument;
    if (portio::FindBackend(portio::ChosenBackend(), &argument) == nullptr) {
        return base::FailPortRefused(
            "PORTIO=" + base::Shown(portio::ChosenBackend()) +
            " is not a port backend; accepted: " + portio::AcceptedBackends());
    }
    // Only the simulated board has registers that can be looked at.
    const bool simulated = portio::ChosenBackend() == "sim";
    const std::string path = BoardRecordPath();
    RegisterRecord record;
    std::string problem;
    if (!path.empty()) {
        // Read while another program may hold the port: it replaces the file whole.
        base::Result<RegisterRecord> kept = LoadBoardRecord(path);
        if (kept) {
            record = *kept;
        } else {
            problem = kept.message();
        }
    }
    // The simulated board is read from its state file: the port is neither claimed nor opened.
    std::optional<portio::BoardView> board;
    std::string board_problem;
    if (simulated) {
        if (base::Result<portio::BoardView> kept = portio::ReadSimBoardState(); kept) {
            board = *kept;
        } else {
            board_problem = kept.message();
        }
    }
    ChipStatus status = BuildChipStatus(record, portio::ChosenBackend(), path, simulated, board);
    status.board_problem = board_problem;
    status.record_problem = problem;
    return status;
}

ChipStatus BuildChipStatus(const RegisterRecord& record, const std::string& backend,
                           const std::string& record_path, bool simulated,
                           const std::optional<portio::BoardView>& board) {
    ChipStatus s;
    s.backend = backend;
    s.record_path = record_path;
    s.simulated = simulated;
    if (board) {
        for (int bit = 3; bit >= 0; --bit) s.switches += (board->switches >> bit & 1) ? '1' : '0';
        s.follows_prompts = board->follows_prompts;
    }
    for (const chip::Control& c : chip::kControls) {
        const bool reset = c.kind == chip::ControlKind::kReset;
        ControlStatus row;
        row.name = c.name;
        row.control = &c;
        row.reg = c.reg;
        row.range = RangeText(c);
        row.fallback = reset ? "-" : Decode(c, RegisterResetValue(c.reg));
        const RegisterRecord::Entry& e = record.Get(c.reg);
        row.state = e.state;
        if (const std::optional<std::uint8_t> held = record.Holds(c.reg)) {
            row.written = Decode(c, *held);
            row.when = Iso8601(e.when);
            // Another program's name: shown escaped, whatever a record planted there holds.
            row.by = base::EscapeText(e.by);
        }
        if (board && !reset) {
            // The chip works with the latched value, else with its reset value.
            const std::optional<std::uint8_t> latched = board->latched[chip::Info(c.reg).address];
            row.board = Decode(c, latched.value_or(RegisterResetValue(c.reg)));
            row.differs = !row.written.empty() && *row.board != row.written;
        }
        s.controls.push_back(std::move(row));
    }
    return s;
}

ChipStatus BuildChipStatus(const RegisterRecord& record, const std::string& backend,
                           const std::string& record_path, bool simulated,
                           const portio::BoardOperator* board) {
    std::optional<portio::BoardView> view;
    if (board != nullptr) view = portio::ViewOf(*board);
    return BuildChipStatus(record, backend, record_path, simulated, view);
}

std::string RangeText(const chip::Control& c) {
    switch (c.kind) {
        case chip::ControlKind::kNumber: {
            std::string text = std::to_string(c.min) + ".." + std::to_string(c.max);
            if (c.step != 1) text += " step " + std::to_string(c.step);
            if (*c.unit != '\0') text += std::string(" ") + c.unit;
            return text;
        }
        case chip::ControlKind::kOption:
            return std::string(c.words[0]) + "|" + c.words[1];
        default:
            return "Default Setting";
    }
}

std::string UnwrittenText(const ChipStatus& status) {
    return status.simulated ? "not written since power-on" : "not written since the record began";
}

std::string WrittenText(const ChipStatus& status, const ControlStatus& c) {
    if (c.state == RegisterRecord::Entry::kUnknown) return UnwrittenText(status);
    if (c.state == RegisterRecord::Entry::kDefault) {
        return c.reg == ChipRegister::kFctl ? "pulsed (Default Setting)"
                                            : c.written + " (Default Setting)";
    }
    return c.written;
}

std::string FormatStatusText(const ChipStatus& s) {
    std::string out = "PORTIO=" + s.backend + ": ";
    if (!s.simulated) {
        out += "the chip cannot be read back over this link.\n";
    } else if (s.record_path.empty()) {
        out +=
            "a fresh simulated board for each program (LENSBAY_SIM_STATE is set to "
            "nothing), so nothing written is kept.\n";
    } else {
        out += "the simulated board.\n";
    }
    out +=
        "LAST WRITTEN is what Lensbay's programs on this machine (the window, the console, "
        "lensbay set,\nreset and capture, lensbaysrc) last wrote to the chip";
    out += s.record_path.empty() ? ".\n" : ", kept in " + base::EscapeText(s.record_path) + ".\n";
    if (!s.record_problem.empty()) out += "The record cannot be read: " + s.record_problem + "\n";
    out += "Port writes of other hosts (ocxhost, Windows programs) are not recorded.\n";
    if (s.simulated && !s.board_problem.empty()) {
        out += "The simulated board cannot be read: " + s.board_problem + "\n";
    } else if (s.simulated) {
        out += "BOARD is what the simulated board's chip holds; its switches A[3:0] are at " +
               s.switches + (s.follows_prompts ? ", following the prompts" : ", set by hand") +
               ".\n";
    }
    const std::vector<std::string> heads = {
        "CONTROL", "REGISTER", "A[3:0]", "RANGE", "DEFAULT", "LAST WRITTEN", "WHEN", "BY", "BOARD"};
    std::vector<std::vector<std::string>> rows;
    bool any_differs = false;
    for (const ControlStatus& c : s.controls) {
        std::string board = c.board.value_or("");
        if (c.differs) {
            board += " (differs)";
            any_differs = true;
        }
        rows.push_back({c.name, RegisterName(c.reg), RegisterAddress(c.reg), c.range, c.fallback,
                        WrittenText(s, c), c.when, c.by, board});
    }
    const std::size_t columns = s.simulated && s.board_problem.empty() ? heads.size() : 8;
    std::vector<std::size_t> width(columns, 0);
    for (std::size_t i = 0; i < columns; ++i) {
        width[i] = heads[i].size();
        for (const auto& row : rows) width[i] = std::max(width[i], row[i].size());
    }
    out += "\n";
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t i = 0; i < columns; ++i)
            text += i + 1 < columns ? Pad(cells[i], width[i] + 2) : cells[i];
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
    };
    line(heads);
    for (const auto& row : rows) line(row);
    if (any_differs) {
        out +=
            "\n(differs): the board's chip holds another value than was last written: the "
            "switches selected\nanother register when it was latched, or another host wrote "
            "it.\n";
    }
    return out;
}

std::string FormatStatusJson(const ChipStatus& s) {
    std::string out = "{\n";
    out += "  \"backend\": " + JsonString(s.backend) + ",\n";
    out += "  \"record\": " + (s.record_path.empty() ? "null" : JsonString(s.record_path)) + ",\n";
    out += "  \"read_back\": false,\n";
    out += std::string("  \"simulated\": ") + (s.simulated ? "true" : "false") + ",\n";
    if (s.simulated && s.board_problem.empty()) {
        out += "  \"switches\": " + JsonString(s.switches) + ",\n";
        out +=
            std::string("  \"follows_prompts\": ") + (s.follows_prompts ? "true" : "false") + ",\n";
    } else if (s.simulated) {
        out += "  \"board_problem\": " + JsonString(s.board_problem) + ",\n";
    }
    if (!s.record_problem.empty())
        out += "  \"record_problem\": " + JsonString(s.record_problem) + ",\n";
    out += "  \"controls\": [";
    for (std::size_t i = 0; i < s.controls.size(); ++i) {
        const ControlStatus& c = s.controls[i];
        out += i == 0 ? "\n" : ",\n";
        const chip::Control& control = *c.control;
        // A number control's values are numbers, an option's its words, the reset's "pulsed".
        const bool number = control.kind == chip::ControlKind::kNumber;
        auto value = [&](const std::string& text) { return number ? text : JsonString(text); };
        std::string range = "null";
        if (number) {
            range = "{\"min\": " + std::to_string(control.min) +
                    ", \"max\": " + std::to_string(control.max) +
                    ", \"step\": " + std::to_string(control.step) + ", \"default\": " + c.fallback +
                    "}";
        } else if (control.kind == chip::ControlKind::kOption) {
            range = "[" + JsonString(control.words[0]) + ", " + JsonString(control.words[1]) + "]";
        }
        out +=
            std::string("    {\"name\": ") + JsonString(c.name) +
            ", \"register\": " + JsonString(RegisterName(c.reg)) +
            ", \"address\": " + JsonString(RegisterAddress(c.reg)) + ", \"range\": " + range +
            (*control.unit != '\0' ? ", \"unit\": " + JsonString(control.unit) : "") +
            ", \"default\": " +
            (control.kind == chip::ControlKind::kReset ? std::string("null") : value(c.fallback)) +
            ", \"written\": ";
        if (c.state == RegisterRecord::Entry::kUnknown) {
            out += "null";
        } else {
            out += "{\"value\": " + value(c.written) + ", \"reset\": " +
                   (c.state == RegisterRecord::Entry::kDefault ? "true" : "false") +
                   ", \"time\": " + JsonString(c.when) + ", \"by\": " + JsonString(c.by) + "}";
        }
        out += ", \"board\": " + (c.board ? value(*c.board) : std::string("null"));
        out += std::string(", \"differs\": ") + (c.differs ? "true" : "false") + "}";
    }
    out += "\n  ]\n}\n";
    return out;
}

}  // namespace panel
