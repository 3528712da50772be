// What Capture and Save As write beyond the bitmap: the record beside each picture, and Save As
// to a PNG file.
#pragma once

#include "panel/form_state.h"
#include "panel/picture_files.h"
#include "panel/register_record.h"
#include "panel/user_interface.h"

namespace panel {

// Whether a record may be written at `path`: nothing is there, or a record Lensbay wrote. A
// file of that name that is anything else (the user's own NAME.json) is kept: the error says so
// ("\"shot.json\" is not a picture record and was kept as it is.").
base::Result<> CheckRecordReplaceable(const std::string& path);

// After a capture: "image.json" for the frame of the window fields. A failure is reported in a
// box; false then.
bool WriteCaptureRecord(const FormState& state, const RegisterRecord& registers, UserInterface& ui);

// Save As. A name ending in ".png" (any case) gets a PNG of the picture in "image.bmp" from the
// encoder (a box says so when there is none); any other name the bitmap's bytes as before. Then
// the record beside the target: "image.json" as Capture wrote it, or a fresh one when there is
// none; a file of the record's name that is not a picture record is kept and no record is
// written (a box says so). Every failure is reported in a box; true when the picture and its record
// were written.
bool SaveAsWithRecord(FormState& state, const RegisterRecord& registers, PngEncoder* encoder,
                      UserInterface& ui);

}  // namespace panel
