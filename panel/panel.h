// Lensbay's panel: one handler per window control and button, on top of the form state, the
// camera link and the front end's UserInterface. It knows nothing of Qt.
#pragma once

#include <memory>
#include <string>

#include "panel/board_record.h"
#include "panel/form_state.h"
#include "panel/live_frames.h"
#include "panel/picture_files.h"
#include "panel/register_record.h"
#include "panel/settings_file.h"
#include "panel/user_interface.h"

struct IDispatch;

namespace panel {

class Panel {
public:
    // pinbus1 performs every write, pinbus2 every read; both are held (AddRef) for the panel's
    // life.
    Panel(IDispatch* pinbus1, IDispatch* pinbus2, UserInterface& ui);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Window load: the port-mode set-up and the "Operation Notice" prompt.
    void FormLoad();

    // A mouse click in TextN (n = 1..8): empties and marks it as the window's handlers do.
    void TextClick(int n);
    // The field's text became `text` by typing (no mark).
    void SetText(int n, const std::string& text);
    // Item `item` (0 or 1) of OptionN (group = 1..4) was selected.
    void OptionClick(int group, int item);

    void Command1Click();  // Set Register
    void CaptureClick();   // Capture
    void SaveAsClick();    // Save As
    void Command2Click();  // Default Setting

    const FormState& State() const { return state_; }

    // What this session wrote to the chip's registers.
    const RegisterRecord& Registers() const;
    // The board's record (what every program wrote; not owned): each write of this panel's is
    // noted there too, under `writer`'s name ("lensbay window"). Null: none.
    void SetBoardRecord(KeptBoardRecord* kept, const std::string& writer);
    // The board's record when there is one, else this session's.
    const RegisterRecord& BoardRegisters() const;
    // Where the board's record is kept ("" with none, or for a fresh simulated board).
    std::string BoardRecordPath() const;
    // The port's ownership: every button's handler holds it while it runs.
    PortArbiter& Port();
    // The port objects, for a FrameReader of the live view.
    IDispatch* Pinbus1() const;
    IDispatch* Pinbus2() const;
    // Save As to a ".png" name uses it; not owned (null: such a Save As says it cannot).
    void SetPngEncoder(PngEncoder* encoder);
    // A loaded settings file, as clicks and typing in its fields and option selections.
    void Apply(const Settings& settings);

private:
    struct Impl;
    FormState state_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace panel
