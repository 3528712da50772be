// The picture files: a capture's files in the current directory ("image.raw", the bytes as read;
// the header template "bmphead1"; the 8-bit bitmap "image.bmp"; its record "image.json"), the
// `.json` record beside a captured or saved picture, and Save As to a PNG file of the picture in
// "image.bmp". PNG encoding comes from the front end (the panel's logic has no image library of
// its own).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "panel/form_state.h"
#include "panel/picture.h"
#include "panel/register_record.h"
#include "platform/base/result.h"

namespace panel {

class UserInterface;

inline constexpr char kRawFile[] = "image.raw";
inline constexpr char kTemplateFile[] = "bmphead1";
inline constexpr char kBitmapFile[] = "image.bmp";
// The title of the file messages.
inline constexpr char kLensbayTitle[] = "Lensbay";

inline constexpr char kCaptureRecordFile[] = "image.json";

// Turns a picture into the bytes of an 8-bit grey PNG file, rows top-down.
class PngEncoder {
public:
    virtual ~PngEncoder() = default;
    virtual base::Result<std::vector<std::uint8_t>> EncodePng(const Picture& picture) = 0;
};

// Whether Save As writes a PNG for this name: it ends in ".png", in any case.
bool IsPngName(const std::string& name);
// The record's name beside a picture: NAME.json for NAME.bmp or NAME.png (any case), else the
// whole name with ".json" added.
std::string RecordPathFor(const std::string& picture_path);

// Whether a file's text is a record PictureRecordJson wrote (or "image.json" copied), so that
// writing a record over it loses nothing of the user's.
bool IsPictureRecord(std::string_view text);

// A JSON string; bytes that are not UTF-8 become U+FFFD, so that the file stays valid JSON.
std::string JsonString(const std::string& text);

// The port backend as chosen by PORTIO ("sim" when unset).
std::string PortBackendName();

// A frame of a series (`lensbay capture --count N`): its number from 1, the series' length, and
// the time it was read.
struct SeriesFrame {
    int number = 1;
    int count = 1;
    RegisterRecord::Clock::time_point when{};
    double seconds = 0;  // since the series' first frame began
};

// The record as JSON: width, height, the four window fields, the row-skip flag, the register
// record, the port backend and the time (ISO 8601, UTC); with `frame`, then its number, the
// series' length, its time to the millisecond and its seconds into the series.
std::string PictureRecordJson(int width, int height, const FormState& state, bool row_skip,
                              const RegisterRecord& registers, const std::string& backend,
                              RegisterRecord::Clock::time_point when,
                              const SeriesFrame* frame = nullptr);

// Writes the bytes to the file (created or truncated); the error names the file and the cause.
base::Result<> WriteBytesFile(const std::string& path, const std::uint8_t* data, std::size_t size);
inline base::Result<> WriteTextFile(const std::string& path, const std::string& text) {
    return WriteBytesFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Writes a record as WriteTextFile does, but a symbolic link in its place (one to a file that
// does not exist yet included) is neither followed nor replaced: the record is made beside the
// picture, under its own name, or not at all.
base::Result<> WriteRecordFile(const std::string& path, const std::string& text);

// Whether a record may be written at `path`: nothing is there, or a record Lensbay wrote. A
// file of that name that is anything else (the user's own NAME.json, a symbolic link) is kept:
// the error says so ("\"shot.json\" is not a picture record and was kept as it is.").
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
