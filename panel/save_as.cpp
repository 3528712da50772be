#include "panel/save_as.h"

#include <vector>

#include "panel/file_io.h"
#include "panel/picture_files.h"

namespace panel {

bool SaveAs(FormState& state, UserInterface& ui) {
    std::vector<std::uint8_t> copy;
    if (!ReadWholeFile(kBitmapFile, &copy).ok()) {
        ui.MessageBox(kLensbayTitle, "Can't find the .bmp file.");
        return false;
    }
    const std::string& target = state.text[kFileNameField];
    // A name with a NUL in it would open some other file than the one typed.
    if (target.find('\0') != std::string::npos) {
        ui.MessageBox(kLensbayTitle, "Can't open the .bmp file to save.");
        return false;
    }
    const base::Result<> r = WriteWholeFile(target, copy.data(), copy.size());
    if (!r && r.error().Is(base::FileStep::kWrite)) {
        ui.MessageBox(kLensbayTitle, "Can't write the .bmp file to save: " + r.message() + ".");
        return false;
    }
    if (!r.ok()) {
        ui.MessageBox(kLensbayTitle, "Can't open the .bmp file to save.");
        return false;
    }
    state.text[kFileNameField] = FormState{}.text[kFileNameField];
    return true;
}

}  // namespace panel
