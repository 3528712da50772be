#include "panel/picture_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "panel/capture.h"
#include "panel/field_numbers.h"
#include "panel/file_io.h"
#include "panel/frame_layout.h"
#include "panel/save_as.h"
#include "panel/user_interface.h"
#include "platform/base/shown.h"
#include "platform/portio/portio.h"

namespace panel {
namespace {

bool EndsWithNoCase(const std::string& name, const char* suffix) {
    const std::string s(suffix);
    if (name.size() < s.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = name[name.size() - s.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != s[i]) return false;
    }
    return true;
}

// The length of the well-formed UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    std::uint32_t min = 0, cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            const std::size_t n = Utf8Length(text, i);
            if (n == 0) {
                out += "\\ufffd";
            } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
                // A C1 control: escaped, so that printing the JSON drives no terminal.
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x",
                              static_cast<unsigned char>(text[i + 1]) & 0xFF);
                out += escaped;
                ++i;
            } else {
                out.append(text, i, n);
                i += n - 1;
            }
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

bool IsPngName(const std::string& name) { return EndsWithNoCase(name, ".png"); }

std::string RecordPathFor(const std::string& picture_path) {
    if (EndsWithNoCase(picture_path, ".bmp") || EndsWithNoCase(picture_path, ".png")) {
        return picture_path.substr(0, picture_path.size() - 4) + ".json";
    }
    return picture_path + ".json";
}

std::string PortBackendName() { return portio::ChosenBackend(); }

std::string PictureRecordJson(int width, int height, const FormState& state, bool row_skip,
                              const RegisterRecord& registers, const std::string& backend,
                              RegisterRecord::Clock::time_point when, const SeriesFrame* frame) {
    std::string out = "{\n";
    out += "  \"width\": " + std::to_string(width) + ",\n";
    out += "  \"height\": " + std::to_string(height) + ",\n";
    // The window's blocks as numbers (a field that holds none: null).
    auto block = [&](int field) {
        double v = 0;
        if (FAILED(TextToReal(state.text[static_cast<std::size_t>(field)], &v)) ||
            !std::isfinite(v))
            return std::string("null");
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", v);
        return std::string(text);
    };
    out += "  \"window\": {\"h_start\": " + block(kHStartField) +
           ", \"h_end\": " + block(kHEndField) + ", \"v_start\": " + block(kVStartField) +
           ", \"v_end\": " + block(kVEndField) + "},\n";
    out += std::string("  \"row_skip\": ") + (row_skip ? "true" : "false") + ",\n";
    out += "  \"registers\": {";
    for (int i = 0; i < kChipRegisterCount; ++i) {
        const auto r = static_cast<ChipRegister>(i);
        const RegisterRecord::Entry& e = registers.Get(r);
        out += i == 0 ? "\n" : ",\n";
        out += std::string("    \"") + RegisterName(r) + "\": ";
        // The value the register holds, a number (the reset value after a reset), or null
        // when unknown.
        if (const std::optional<std::uint8_t> held = registers.Holds(r)) {
            out += "{\"value\": " + std::to_string(*held) + ", \"reset\": " +
                   (e.state == RegisterRecord::Entry::kDefault ? "true" : "false") +
                   ", \"time\": " + JsonString(Iso8601(e.when)) + "}";
        } else {
            out += "{\"value\": null, \"reset\": false, \"time\": null}";
        }
    }
    out += "\n  },\n";
    out += "  \"backend\": " + JsonString(backend) + ",\n";
    out += "  \"time\": " + JsonString(Iso8601(when));
    if (frame) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", frame->seconds);
        out += ",\n  \"frame\": {\"number\": " + std::to_string(frame->number) +
               ", \"of\": " + std::to_string(frame->count) +
               ", \"time\": " + JsonString(Iso8601Millis(frame->when)) +
               ", \"seconds\": " + seconds + "}";
    }
    out += "\n}\n";
    return out;
}

base::Result<> WriteBytesFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return base::Fail("Can't open " + base::Shown(path) + ".");
    }
    const base::Result<> r = WriteWholeFile(path, data, size);
    if (!r.ok() && r.error().Is(base::FileStep::kWrite))
        return r.error().Reworded("Can't write " + base::Shown(path) + ": " + r.message() + ".");
    if (!r.ok())
        return r.error().Reworded("Can't open " + base::Shown(path) + ": " + r.message() + ".");
    return {};
}

base::Result<> WriteRecordFile(const std::string& path, const std::string& text) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return base::Fail("Can't open " + base::Shown(path) + ".");
    }
    const base::Result<> r =
        WriteWholeFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                       LinkInPlace::kRefuse);
    if (!r.ok() && r.error().Is(base::FileStep::kWrite))
        return r.error().Reworded("Can't write " + base::Shown(path) + ": " + r.message() + ".");
    if (!r.ok())
        return r.error().Reworded("Can't open " + base::Shown(path) + ": " + r.message() + ".");
    return {};
}

bool IsPictureRecord(std::string_view text) {
    // The fields in the order and layout PictureRecordJson writes them; a user's own JSON file
    // of the same name has other keys or another layout.
    static constexpr std::string_view kKeys[] = {
        "{\n  \"width\": ",   "\n  \"height\": ",     "\n  \"window\": {\"h_start\": ",
        "\n  \"row_skip\": ", "\n  \"registers\": {", "\n  \"backend\": ",
        "\n  \"time\": "};
    if (!text.starts_with(kKeys[0]) || !text.ends_with("}\n")) return false;
    std::size_t at = 0;
    for (const std::string_view key : kKeys) {
        at = text.find(key, at);
        if (at == std::string_view::npos) return false;
        at += key.size();
    }
    return true;
}

namespace {

bool WriteRecord(const std::string& path, const std::string& json, UserInterface& ui) {
    const base::Result<> r = WriteRecordFile(path, json);
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
    // A symbolic link is kept whatever it names (a file of another's, or none yet); anything else
    // but a regular file is refused by the writing itself, with what it is.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return base::Fail(base::Shown(path) +
                          " is a symbolic link, which is not followed, and was kept as it is.");
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
            ui.MessageBox(kLensbayTitle, picture.error().Is(base::FileStep::kMissing)
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
