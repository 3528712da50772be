// Files written beside pictures: the `.json` record of a capture or a saved picture, and PNG
// export of the picture in "image.bmp". PNG encoding comes from the front end (the panel's logic
// has no image library of its own).
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

}  // namespace panel
