// A captured frame written under a name the user gave, in the format its extension names, with
// its record beside it: what `lensbay capture -o` and the Python module's capture_file write.
// Nothing is read back: the picture comes from the frame in memory (CaptureToMemory).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panel/capture.h"
#include "panel/form_state.h"
#include "panel/frame_layout.h"
#include "panel/picture_files.h"
#include "panel/register_record.h"
#include "platform/base/result.h"

namespace panel {

enum class ImageFormat { kBmp, kRaw, kPng, kPgm };

// The format a file name's extension names (any case), or an error listing the known ones.
base::Result<ImageFormat> FormatOf(const std::string& path);

// Writes `path` in `format` from a frame's bitmap and raw bytes (as image.bmp and image.raw hold
// them): .bmp and .raw are byte copies; .png and .pgm are 8-bit grey, rows top-down as the monitor
// shows them. A PNG is made by `png`, the encoder the window's Save As uses (null in a build
// without Qt: then .png fails).
base::Result<> WriteImage(const std::string& path, ImageFormat format,
                          const std::vector<std::uint8_t>& bmp,
                          const std::vector<std::uint8_t>& raw, PngEncoder* png);

// The record beside a picture written under a name of the user's: its name with ".json" for the
// extension ("shot.png" -> "shot.json", "frame-0001.pgm" -> "frame-0001.json").
std::string RecordNameFor(const std::string& picture);

// What writing under the user's names needs before the first frame: the working directory (the
// names are taken as it sees them, and messages name the whole path) and the bytes of its header
// file, "bmphead1" (none when it has none).
struct OutputFolder {
    std::string here;
    std::vector<std::uint8_t> header;
    // A name as the working directory sees it.
    std::string FromHere(const std::string& path) const;
};
base::Result<OutputFolder> PrepareOutputFolder();

// The record of the frame `series` beside a picture (`shown_picture`: its name as the user gave
// it, for messages): a file of the record's name that is no picture record is kept, and the error
// says so.
base::Result<> WritePictureRecord(const std::string& record, const std::string& shown_picture,
                                  const FormState& state, const RegisterRecord& registers,
                                  const SeriesFrame& series, const FrameGeometry& g);

// The picture `name` (as the user gave it, relative to `folder`) in `format` and its record
// beside it, both in one flush of the folder.
base::Result<> WritePictureWithRecord(const OutputFolder& folder, const std::string& name,
                                      ImageFormat format, const CapturedFrame& frame,
                                      const FormState& state, const RegisterRecord& registers,
                                      const SeriesFrame& series, const FrameGeometry& g,
                                      PngEncoder* png);

}  // namespace panel
