#include "panel/picture_export.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "panel/capture.h"
#include "panel/image_files.h"
#include "panel/save_as.h"
#include "platform/base/shown.h"

namespace panel {
namespace {

bool WriteRecord(const std::string& path, const std::string& json, UserInterface& ui) {
    const base::Result<> r = WriteTextFile(path, json);
    if (!r.ok()) {
        ui.MessageBox(kLensbayTitle,
                      "The picture was saved, but its record was not: " + r.message());
        return false;
    }
    return true;
}

// The record beside a saved picture replaces only a record: a file of that name that this
// program did not write (the user's own NAME.json) is kept, and the box says so.
bool WriteSavedRecord(const std::string& path, const std::string& json, UserInterface& ui) {
    if (base::Result<> free = CheckRecordReplaceable(path); !free) {
        ui.MessageBox(kLensbayTitle,
                      "The picture was saved, but no record was written: " + free.message());
        return false;
    }
    return WriteRecord(path, json, ui);
}

}  // namespace

base::Result<> CheckRecordReplaceable(const std::string& path) {
    // Anything but a regular file is refused by the writing itself, with what it is.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    constexpr std::size_t kLargestRecord = 64 * 1024;
    std::vector<std::uint8_t> old(kLargestRecord + 1);
    std::size_t got = 0;
    const base::Result<> r = ReadFileStart(path, old.data(), old.size(), &got);
    if (!r.ok()) {
        return base::Fail("can't read " + base::Shown(path) + " to see what it is: " + r.message() +
                          ".");
    }
    if (got > kLargestRecord ||
        !IsPictureRecord(std::string_view(reinterpret_cast<const char*>(old.data()), got))) {
        return base::Fail(base::Shown(path) + " is not a picture record and was kept as it is.");
    }
    return {};
}

bool WriteCaptureRecord(const FormState& state, const RegisterRecord& registers,
                        UserInterface& ui) {
    const base::Result<FrameGeometry> geometry =
        ComputeFrameGeometry(state.text[kHStartField], state.text[kHEndField],
                             state.text[kVStartField], state.text[kVEndField]);
    if (!geometry.ok()) {
        ui.MessageBox(kLensbayTitle, geometry.message());
        return false;
    }
    const FrameGeometry& g = *geometry;
    return WriteRecord(kCaptureRecordFile,
                       PictureRecordJson(g.FrameWidth, g.FrameHeight, state, g.RowSkip, registers,
                                         PortBackendName(), RegisterRecord::Clock::now()),
                       ui);
}

bool SaveAsWithRecord(FormState& state, const RegisterRecord& registers, PngEncoder* encoder,
                      UserInterface& ui) {
    const std::string target = state.text[kFileNameField];
    if (!IsPngName(target)) {
        if (!SaveAs(state, ui)) return false;
    } else {
        base::Result<Picture> picture = ReadBitmapPicture(kBitmapFile);
        if (!picture.ok()) {
            ui.MessageBox(kLensbayTitle, picture.error().code == ENOENT
                                             ? std::string("Can't find the .bmp file.")
                                             : "Can't export a PNG: " + picture.message() + ".");
            return false;
        }
        if (!encoder) {
            ui.MessageBox(kLensbayTitle, "Can't export a PNG: this build has no PNG encoder.");
            return false;
        }
        base::Result<std::vector<std::uint8_t>> png = encoder->EncodePng(*picture);
        if (!png.ok()) {
            ui.MessageBox(kLensbayTitle, "Can't export a PNG: " + png.message());
            return false;
        }
        const base::Result<> written = WriteBytesFile(target, png->data(), png->size());
        if (!written.ok()) {
            ui.MessageBox(kLensbayTitle, written.message());
            return false;
        }
        state.text[kFileNameField] = FormState{}.text[kFileNameField];
    }

    // The capture's own record when there is one; else one made now for the saved picture.
    std::vector<std::uint8_t> json;
    if (ReadWholeFile(kCaptureRecordFile, &json).ok() && !json.empty()) {
        return WriteSavedRecord(RecordPathFor(target), std::string(json.begin(), json.end()), ui);
    }
    int width = 0, height = 0;
    bool row_skip = false;
    if (base::Result<Picture> p = ReadBitmapPicture(kBitmapFile); p.ok()) {
        width = p->width;
        height = p->height;
    }
    if (const base::Result<FrameGeometry> g =
            ComputeFrameGeometry(state.text[kHStartField], state.text[kHEndField],
                                 state.text[kVStartField], state.text[kVEndField]);
        g.ok()) {
        row_skip = g->RowSkip;
    }
    return WriteSavedRecord(RecordPathFor(target),
                            PictureRecordJson(width, height, state, row_skip, registers,
                                              PortBackendName(), RegisterRecord::Clock::now()),
                            ui);
}

}  // namespace panel
