// The console's workbench commands: inspect, probe, live, registers, status, save-settings and
// load-settings.
#include <charconv>
#include <optional>
#include <string>

#include "panel/capture.h"
#include "panel/chip_status.h"
#include "panel/console/console_commands.h"
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

base::Result<> ParseProbe(const ConsoleCommand&, CommandArguments args, Command* out) {
    const auto space = args.rest.find(' ');
    if (!args.given || space == std::string_view::npos ||
        !ParseInteger(args.rest.substr(0, space), &out->x) ||
        !ParseInteger(args.rest.substr(space + 1), &out->y)) {
        return base::Fail(
            "bad point; usage: probe X Y (whole numbers, x from the left, y from the top)");
    }
    return {};
}

base::Result<> ParseLive(const ConsoleCommand&, CommandArguments args, Command* out) {
    if (!args.given || !ParseInteger(args.rest, &out->x) || out->x < 1 || out->x > kMaxLiveFrames) {
        return base::Fail("bad frame count; usage: live N (N from 1 to " +
                          std::to_string(kMaxLiveFrames) + ")");
    }
    return {};
}

// save-settings FILE, load-settings FILE.
base::Result<> ParseFile(const ConsoleCommand& self, CommandArguments args, Command* out) {
    if (!args.given || args.rest.empty())
        return base::Fail("missing file name; usage: " + self.Usage());
    out->value = std::string(args.rest);
    return {};
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

namespace {

// The picture in "image.bmp", or null after the error event that says why there is none.
std::optional<Picture> MonitorPicture(ConsoleSession& session) {
    base::Result<Picture> picture = ReadBitmapPicture("image.bmp");
    if (!picture.ok()) {
        session.Error(picture.message());
        return std::nullopt;
    }
    return std::move(*picture);
}

}  // namespace

void RunInspect(const Command&, ConsoleSession& session) {
    const std::optional<Picture> picture = MonitorPicture(session);
    if (!picture) return;
    const PictureStats s = ComputeStats(*picture);
    session.write("stats\t" + std::to_string(s.width) + "\t" + std::to_string(s.height) + "\t" +
                  std::to_string(s.min) + "\t" + std::to_string(s.max) + "\t" +
                  TwoDecimals(s.mean) + "\t" + TwoDecimals(s.stddev) + "\t" +
                  std::to_string(s.zeros) + "\t" + std::to_string(s.saturated));
    std::string line = "histogram\t";
    for (std::size_t v = 0; v < s.histogram.size(); ++v) {
        if (v > 0) line += ' ';
        line += std::to_string(s.histogram[v]);
    }
    session.write(line);
}

void RunProbe(const Command& cmd, ConsoleSession& session) {
    const std::optional<Picture> picture = MonitorPicture(session);
    if (!picture) return;
    const base::Result<std::uint8_t> v = Probe(*picture, cmd.x, cmd.y);
    if (!v.ok()) return session.Error(v.message());
    session.write("pixel\t" + std::to_string(cmd.x) + "\t" + std::to_string(cmd.y) + "\t" +
                  std::to_string(*v));
}

void RunLive(const Command& cmd, ConsoleSession& session) {
    Panel& panel = session.panel;
    const FormState& st = panel.State();
    const base::Result<FrameGeometry> geometry = ComputeFrameGeometry(
        st.text[kHStartField], st.text[kHEndField], st.text[kVStartField], st.text[kVEndField]);
    if (!geometry.ok()) return session.Error(geometry.message());
    const FrameGeometry& g = *geometry;
    FrameReader reader(panel.Pinbus1(), panel.Pinbus2());
    Picture picture;
    for (long long i = 1; i <= cmd.x; ++i) {
        const base::Result<> r = reader.Read(g, &picture);
        if (!r.ok()) return session.Error(r.message());
        const PictureStats s = ComputeStats(picture);
        session.write("frame\t" + std::to_string(i) + "\t" + std::to_string(s.width) + "\t" +
                      std::to_string(s.height) + "\t" + std::to_string(s.min) + "\t" +
                      std::to_string(s.max) + "\t" + TwoDecimals(s.mean));
    }
}

void RunRegisters(const Command&, ConsoleSession& session) {
    for (int i = 0; i < kChipRegisterCount; ++i) {
        const auto r = static_cast<ChipRegister>(i);
        session.write(std::string("register\t") + RegisterName(r) + "\t" +
                      session.panel.Registers().Text(r));
    }
}

void RunStatus(const Command&, ConsoleSession& session) {
    WriteStatusEvents(session.panel, session.board, session.write);
}

void RunSaveSettings(const Command& cmd, ConsoleSession& session) {
    const base::Result<> r = SaveSettingsFile(cmd.value, session.panel.State());
    if (!r.ok()) session.Error(r.message());
}

void RunLoadSettings(const Command& cmd, ConsoleSession& session) {
    const base::Result<Settings> s = LoadSettingsFile(cmd.value);
    if (!s.ok()) return session.Error(s.message());
    session.panel.Apply(*s);
}

}  // namespace panel::console
