// PNG encoding of the panel's pictures through Qt's image writer. A library of its own, without
// widgets, so that the console front end and the benchmarks can export PNG without a window.
#pragma once

#include "panel/picture_files.h"

namespace panel {

class QtPngEncoder : public PngEncoder {
public:
    base::Result<std::vector<std::uint8_t>> EncodePng(const Picture& picture) override;
};

}  // namespace panel
