#include "panel/capture_output.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "panel/file_io.h"
#include "panel/picture.h"
#include "platform/base/files.h"
#include "platform/base/shown.h"

namespace panel {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every output is made in memory first, then written as Capture writes its files: beside the
// target and renamed over it, so that a signal or a full disk keeps the previous file, and a
// name that is no regular file (a FIFO, a device, a link to one) is refused without blocking.
base::Result<> WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const base::Result<> r = WriteWholeFile(path, bytes.data(), bytes.size());
    if (r.ok()) return {};
    return r.error().Reworded("cannot write " + base::Shown(path) + ": " + r.message());
}

std::vector<std::uint8_t> EncodePgm(const Picture& p) {
    char header[64];
    const int n = std::snprintf(header, sizeof header, "P5\n%d %d\n255\n", p.width, p.height);
    std::vector<std::uint8_t> out(header, header + n);
    out.insert(out.end(), p.pixels.begin(), p.pixels.end());  // rows top-down, as shown
    return out;
}

}  // namespace

base::Result<ImageFormat> FormatOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string ext = Lower(path.substr(dot));
        if (ext == ".bmp") return ImageFormat::kBmp;
        if (ext == ".raw") return ImageFormat::kRaw;
        if (ext == ".png") return ImageFormat::kPng;
        if (ext == ".pgm") return ImageFormat::kPgm;
    }
    return base::Fail(base::Shown(path) + ": the name must end in .bmp, .png, .pgm or .raw");
}

base::Result<> WriteImage(const std::string& path, ImageFormat format,
                          const std::vector<std::uint8_t>& bmp,
                          const std::vector<std::uint8_t>& raw, PngEncoder* png) {
    switch (format) {
        case ImageFormat::kBmp:
            return WriteBytes(path, bmp);
        case ImageFormat::kRaw:
            return WriteBytes(path, raw);
        case ImageFormat::kPng:
        case ImageFormat::kPgm:
            break;
    }
    const base::Result<Picture> picture = DecodeBitmap(bmp.data(), bmp.size());
    if (!picture) return base::Fail("image.bmp: " + picture.message());
    if (format == ImageFormat::kPgm) return WriteBytes(path, EncodePgm(*picture));
    if (png == nullptr)
        return base::Fail(base::Shown(path) +
                          ": this build of lensbay writes no PNG (it has no Qt)");
    base::Result<std::vector<std::uint8_t>> encoded = png->EncodePng(*picture);
    if (!encoded) return base::Fail("cannot write " + base::Shown(path) + ": " + encoded.message());
    return WriteBytes(path, *encoded);
}

std::string RecordNameFor(const std::string& picture) {
    const auto dot = picture.rfind('.');
    const auto slash = picture.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return picture + ".json";
    return picture.substr(0, dot) + ".json";
}

std::string OutputFolder::FromHere(const std::string& path) const {
    return !path.empty() && path[0] == '/' ? path : here + "/" + path;
}

base::Result<OutputFolder> PrepareOutputFolder() {
    OutputFolder folder;
    std::error_code ec;
    folder.here = std::filesystem::current_path(ec).string();
    if (ec) return base::Fail("cannot read the working directory: " + ec.message());
    const base::Result<> r = ReadWholeFile(kTemplateFile, &folder.header);
    if (r.ok()) return folder;
    folder.header.clear();
    if (!r.error().Is(base::FileStep::kMissing))
        return r.error().Reworded("cannot read bmphead1: " + r.message());
    return folder;
}

base::Result<> WritePictureRecord(const std::string& record, const std::string& shown_picture,
                                  const FormState& state, const RegisterRecord& registers,
                                  const SeriesFrame& series, const FrameGeometry& g) {
    if (base::Result<> free = CheckRecordReplaceable(record); !free)
        return free.error().Reworded("the picture " + base::Shown(shown_picture) +
                                     " was written, but no record: " + free.message());
    const std::string json = PictureRecordJson(g.FrameWidth, g.FrameHeight, state, g.RowSkip,
                                               registers, PortBackendName(), series.when, &series);
    if (base::Result<> w = WriteRecordFile(record, json); !w)
        return w.error().Reworded("the picture " + base::Shown(shown_picture) +
                                  " was written, but its record was not: " + w.message());
    return {};
}

base::Result<> WritePictureWithRecord(const OutputFolder& folder, const std::string& name,
                                      ImageFormat format, const CapturedFrame& frame,
                                      const FormState& state, const RegisterRecord& registers,
                                      const SeriesFrame& series, const FrameGeometry& g,
                                      PngEncoder* png) {
    // The picture and its record land in one folder: one flush of it for both.
    base::FolderFlushGroup flush_folder_once;
    if (base::Result<> w = WriteImage(folder.FromHere(name), format, frame.bitmap, frame.raw, png);
        !w)
        return w;
    return WritePictureRecord(folder.FromHere(RecordNameFor(name)), name, state, registers, series,
                              g);
}

}  // namespace panel
