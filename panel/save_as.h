// Save As: a copy of "image.bmp" under the name typed in Text8.
#pragma once

#include "panel/form_state.h"
#include "panel/user_interface.h"

namespace panel {

// Copies "image.bmp", byte for byte and whole, to the file named by Text8 (as typed, relative to
// the current directory), creating or truncating it, then puts "filename.bmp" back into Text8.
// The source is read whole before the target is opened, so saving onto "image.bmp" itself keeps
// it. Every failure is reported in a box and leaves Text8 as it is. Returns true when saved.
bool SaveAs(FormState& state, UserInterface& ui);

}  // namespace panel
