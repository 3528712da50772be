// The console's workbench commands: inspect, probe, live, registers, save-settings and
// load-settings.
#include <charconv>
#include <string>

#include "panel/capture.h"
#include "panel/chip_status.h"
#include "panel/console/console_front_end.h"
#include "panel/live_frames.h"
#include "panel/panel.h"
#include "panel/picture.h"
#include "panel/settings_file.h"

namespace panel::console {
namespace {

// The most frames one `live` reads.
constexpr long long kMaxLiveFrames = 1000000;

bool ParseInteger(std::string_view text, long long* out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

std::optional<base::Result<Command>> ParseWorkbenchCommand(const std::string& word,
                                                           std::string_view rest, bool has_rest) {
    Command out;
    auto fail = [](const std::string& message) {
        return std::optional<base::Result<Command>>(base::Fail(message));
    };
    auto done = [&](Command::Kind kind) {
        out.kind = kind;
        return std::optional<base::Result<Command>>(out);
    };
    if (word == "inspect" || word == "registers" || word == "status") {
        if (has_rest) return fail(word + " takes no argument");
        return done(word == "inspect"     ? Command::kInspect
                    : word == "registers" ? Command::kRegisters
                                          : Command::kStatus);
    }
    if (word == "probe") {
        const auto space = rest.find(' ');
        if (!has_rest || space == std::string_view::npos ||
            !ParseInteger(rest.substr(0, space), &out.x) ||
            !ParseInteger(rest.substr(space + 1), &out.y)) {
            return fail(
                "bad point; usage: probe X Y (whole numbers, x from the left, y from "
                "the top)");
        }
        return done(Command::kProbe);
    }
    if (word == "live") {
        if (!has_rest || !ParseInteger(rest, &out.x) || out.x < 1 || out.x > kMaxLiveFrames) {
            return fail("bad frame count; usage: live N (N from 1 to " +
                        std::to_string(kMaxLiveFrames) + ")");
        }
        return done(Command::kLive);
    }
    if (word == "save-settings" || word == "load-settings") {
        if (!has_rest || rest.empty()) return fail("missing file name; usage: " + word + " FILE");
        out.value = std::string(rest);
        return done(word == "save-settings" ? Command::kSaveSettings : Command::kLoadSettings);
    }
    return std::nullopt;
}

void WriteStatusEvents(const Panel& panel, const portio::BoardOperator* board,
                       const std::function<void(const std::string&)>& write) {
    const ChipStatus status = BuildChipStatus(panel.BoardRegisters(), PortBackendName(),
                                              panel.BoardRecordPath(), board != nullptr, board);
    auto field = [](const std::string& text) { return text.empty() ? "-" : EscapeField(text); };
    for (const ControlStatus& c : status.controls) {
        write(std::string("status\t") + c.name + "\t" + RegisterName(c.reg) + "\t" + c.range +
              "\t" + field(c.fallback) + "\t" + field(WrittenText(status, c)) + "\t" +
              field(c.when) + "\t" + field(c.by) + "\t" +
              field(c.board ? *c.board + (c.differs ? " (differs)" : "") : ""));
    }
}

void RunWorkbenchCommand(const Command& cmd, Panel& panel,
                         const std::function<void(const std::string&)>& write) {
    auto error = [&](const std::string& text) { write("error\t" + EscapeField(text)); };
    switch (cmd.kind) {
        case Command::kInspect:
        case Command::kProbe: {
            const base::Result<Picture> picture = ReadBitmapPicture("image.bmp");
            if (!picture.ok()) return error(picture.message());
            if (cmd.kind == Command::kProbe) {
                const base::Result<std::uint8_t> v = Probe(*picture, cmd.x, cmd.y);
                if (!v.ok()) return error(v.message());
                write("pixel\t" + std::to_string(cmd.x) + "\t" + std::to_string(cmd.y) + "\t" +
                      std::to_string(*v));
                return;
            }
            const PictureStats s = ComputeStats(*picture);
            write("stats\t" + std::to_string(s.width) + "\t" + std::to_string(s.height) + "\t" +
                  std::to_string(s.min) + "\t" + std::to_string(s.max) + "\t" +
                  TwoDecimals(s.mean) + "\t" + TwoDecimals(s.stddev) + "\t" +
                  std::to_string(s.zeros) + "\t" + std::to_string(s.saturated));
            std::string line = "histogram\t";
            for (std::size_t v = 0; v < s.histogram.size(); ++v) {
                if (v > 0) line += ' ';
                line += std::to_string(s.histogram[v]);
            }
            write(line);
            return;
        }
        case Command::kLive: {
            const FormState& st = panel.State();
            const base::Result<FrameGeometry> geometry =
                ComputeFrameGeometry(st.text[kHStartField], st.text[kHEndField],
                                     st.text[kVStartField], st.text[kVEndField]);
            if (!geometry.ok()) return error(geometry.message());
            const FrameGeometry& g = *geometry;
            FrameReader reader(panel.Pinbus1(), panel.Pinbus2());
            Picture picture;
            for (long long i = 1; i <= cmd.x; ++i) {
                const base::Result<> r = reader.Read(g, &picture);
                if (!r.ok()) return error(r.message());
                const PictureStats s = ComputeStats(picture);
                write("frame\t" + std::to_string(i) + "\t" + std::to_string(s.width) + "\t" +
                      std::to_string(s.height) + "\t" + std::to_string(s.min) + "\t" +
                      std::to_string(s.max) + "\t" + TwoDecimals(s.mean));
            }
            return;
        }
        case Command::kRegisters:
            for (int i = 0; i < kChipRegisterCount; ++i) {
                const auto r = static_cast<ChipRegister>(i);
                write(std::string("register\t") + RegisterName(r) + "\t" +
                      panel.Registers().Text(r));
            }
            return;
        case Command::kSaveSettings: {
            const base::Result<> r = SaveSettingsFile(cmd.value, panel.State());
            if (!r.ok()) error(r.message());
            return;
        }
        case Command::kLoadSettings: {
            const base::Result<Settings> s = LoadSettingsFile(cmd.value);
            if (!s.ok()) return error(s.message());
            panel.Apply(*s);
            return;
        }
        default:
            return;
    }
}

}  // namespace panel::console
