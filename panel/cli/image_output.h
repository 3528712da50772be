// The command line's capture output: the names of a numbered series (the writing itself is
// panel/capture_output.h's, which the Python module shares).
#pragma once

#include <string>

#include "panel/capture_output.h"
#include "platform/base/result.h"

namespace panel::cli {

using panel::FormatOf;
using panel::ImageFormat;

// The name of frame `number` (from 1) of a series: a printf-style "%d" / "%0Nd" in `pattern` is
// replaced by the whole number, padded with zeros to N digits (N at most 99); without one, "-NNNN"
// goes before the extension. "%%" is a '%' wherever it stands. Fails when the pattern holds
// another '%' conversion or a wider width.
base::Result<std::string> FrameName(const std::string& pattern, int number);

}  // namespace panel::cli
