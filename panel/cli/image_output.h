// The command line's capture output: a captured frame (image.raw's and image.bmp's bytes, kept in
// memory) written under the user's name in the format its extension names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panel/picture_files.h"
#include "platform/base/result.h"

namespace panel::cli {

enum class ImageFormat { kBmp, kRaw, kPng, kPgm };

// The format a file name's extension names (any case), or an error listing the known ones.
base::Result<ImageFormat> FormatOf(const std::string& path);

// The name of frame `number` (from 1) of a series: a printf-style "%d" / "%0Nd" in `pattern` is
// replaced by the whole number, padded with zeros to N digits (N at most 99); without one, "-NNNN"
// goes before the extension. "%%" is a '%' wherever it stands. Fails when the pattern holds
// another '%' conversion or a wider width.
base::Result<std::string> FrameName(const std::string& pattern, int number);

// Writes `path` in `format` from a frame's bitmap and raw bytes (as image.bmp and image.raw hold
// them): .bmp and .raw are byte copies; .png and .pgm are 8-bit grey, rows top-down as the monitor
// shows them. A PNG is made by `png`, the encoder the window's Save As uses (null in a build
// without Qt: then .png fails).
base::Result<> WriteImage(const std::string& path, ImageFormat format,
                          const std::vector<std::uint8_t>& bmp,
                          const std::vector<std::uint8_t>& raw, PngEncoder* png);

}  // namespace panel::cli
