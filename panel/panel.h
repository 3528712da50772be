// Lensbay's panel: one handler per window control and button, on top of the form state, the
// camera link and the front end's UserInterface. It knows nothing of Qt.
#pragma once

#include <memory>
#include <string>

#include "panel/form_state.h"
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

private:
    struct Impl;
    FormState state_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace panel
