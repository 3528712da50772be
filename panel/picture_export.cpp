#include "panel/picture_export.h"

#include <cerrno>
#include <vector>

#include "panel/capture.h"
#include "panel/image_files.h"
#include "panel/save_as.h"

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

}  // namespace

bool WriteCaptureRecord(const FormState& state, const RegisterRecord& registers,
                        UserInterface& ui) {
    const base::Result<FrameGeometry> geometry =
        ComputeFrameGeometry(state.text[4], state.text[5], state.text[6], state.text[7]);
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
    const std::string target = state.text[8];
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
        state.text[8] = FormState{}.text[8];
    }

    // The capture's own record when there is one; else one made now for the saved picture.
    std::vector<std::uint8_t> json;
    if (ReadWholeFile(kCaptureRecordFile, &json).ok() && !json.empty()) {
        return WriteRecord(RecordPathFor(target), std::string(json.begin(), json.end()), ui);
    }
    int width = 0, height = 0;
    bool row_skip = false;
    if (base::Result<Picture> p = ReadBitmapPicture(kBitmapFile); p.ok()) {
        width = p->width;
        height = p->height;
    }
    if (const base::Result<FrameGeometry> g =
            ComputeFrameGeometry(state.text[4], state.text[5], state.text[6], state.text[7]);
        g.ok()) {
        row_skip = g->RowSkip;
    }
    return WriteRecord(RecordPathFor(target),
                       PictureRecordJson(width, height, state, row_skip, registers,
                                         PortBackendName(), RegisterRecord::Clock::now()),
                       ui);
}

}  // namespace panel
