#include "panel/console/console_front_end.h"

#include <istream>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/board_record.h"
#include "panel/console/console_commands.h"
#include "panel/file_io.h"
#include "panel/panel.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"
#include "platform/ui/message_box.h"

namespace panel::console {

namespace {

class ConsoleMonitor : public MonitorWindow {
public:
    explicit ConsoleMonitor(const std::function<void(const std::string&)>& write) : write_(write) {}
    void Close() override {}
    void SetHeightTwips(int twips) override { height_ = twips; }
    void SetWidthTwips(int twips) override { width_ = twips; }
    bool LoadPicture(const std::string& path) override {
        std::vector<std::uint8_t> bytes;
        picture_ = ReadWholeFile(path, &bytes).ok() && IsLoadableBitmap(bytes.data(), bytes.size());
        return picture_;
    }
    void Show() override {
        write_("monitor\t" + std::to_string(width_) + "\t" + std::to_string(height_) + "\t" +
               (picture_ ? "picture" : "nopicture"));
    }

private:
    const std::function<void(const std::string&)>& write_;
    int width_ = 0, height_ = 0;
    bool picture_ = false;
};

class ConsoleUserInterface : public UserInterface {
public:
    ConsoleUserInterface(const ConsoleOptions& options,
                         const std::function<void(const std::string&)>& write)
        : options_(options), write_(write), monitor_(write) {}
    void MessageBox(const std::string& title, const std::string& text) override {
        write_("box\t" + EscapeField(title) + "\t" + EscapeField(text));
        if (options_.interactive && options_.in) {
            // Enter (or the end of input) is the OK button.
            std::string line;
            std::getline(*options_.in, line);
        }
        ui::NotifyMessageBoxAcknowledged(title, text);
    }
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor_; }

private:
    const ConsoleOptions& options_;
    const std::function<void(const std::string&)>& write_;
    ConsoleMonitor monitor_;
};

}  // namespace

int RunConsoleFrontEnd(IDispatch* pinbus1, IDispatch* pinbus2, const ConsoleOptions& options) {
    const std::function<void(const std::string&)> out =
        options.write_line ? options.write_line
                           : std::function<void(const std::string&)>(portio::WriteStdoutLine);
    // Any error event, whichever command wrote it, makes the exit status 1.
    bool errors = false;
    const std::function<void(const std::string&)> write = [&](const std::string& line) {
        if (line.rfind("error\t", 0) == 0) errors = true;
        out(line);
    };
    ConsoleUserInterface ui(options, write);
    portio::BoardOperator* board = options.board;
    // The switches follow each acknowledged register-selection prompt from the very first one.
    const std::unique_ptr<portio::BoardOperator::PromptWatch> watch =
        board ? board->WatchPrompts() : nullptr;
    Panel panel(pinbus1, pinbus2, ui);
    panel.SetPngEncoder(options.png_encoder);
    panel.SetBoardRecord(options.board_record, "lensbay --console");
    panel.FormLoad();
    if (!options.in) return 0;

    ConsoleSession session{panel, board, options, write};
    std::string line;
    while (std::getline(*options.in, line)) {
        const base::Result<Command> parsed = ParseCommand(line);
        if (!parsed) {
            session.Error(parsed.message());
            continue;
        }
        const ConsoleCommand* command = ConsoleCommandOf(parsed->kind);
        if (!command) continue;    // a blank line or a comment
        if (!command->run) break;  // quit
        command->run(*parsed, session);
    }
    return errors ? 1 : 0;
}

}  // namespace panel::console
