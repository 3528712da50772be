// The frame geometry and the register field conversions on arbitrary field texts: no crash, and
// an accepted geometry is usable (the buffers it sizes stay within bounds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/bitmap_template.h"
#include "panel/capture.h"
#include "panel/field_numbers.h"
#include "panel/frame_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Four texts separated by newlines.
    std::string texts[4];
    int field = 0;
    for (std::size_t i = 0; i < size && field < 4; ++i) {
        if (data[i] == '\n') {
            ++field;
        } else {
            texts[field] += static_cast<char>(data[i]);
        }
    }
    const base::Result<panel::FrameGeometry> geometry =
        panel::ComputeFrameGeometry(texts[0], texts[1], texts[2], texts[3]);
    if (geometry) {
        const panel::FrameGeometry& g = *geometry;
        if (g.FrameWidth < 1 || g.FrameHeight < 1 || g.ByteCount > panel::kMaxByteCount ||
            g.ByteCount != (static_cast<std::int64_t>(g.FrameWidth) + 1) * g.FrameHeight) {
            std::abort();
        }
        const panel::BitmapLayout layout = panel::LayoutFor(g);
        if (layout.row_bytes % 4 != 0 ||
            layout.row_bytes < static_cast<std::size_t>(g.FrameWidth) ||
            layout.file_size != panel::kBitmapHeaderSize + layout.pixel_area + g.FrameHeight + 1) {
            std::abort();
        }
    } else if (geometry.message().empty()) {
        std::abort();
    }
    LONG v = 0;
    double d = 0;
    for (const std::string& text : texts) {
        if (FAILED(panel::TextToInteger(text, &v))) panel::FieldErrorText(1, text, E_FAIL);
        if (SUCCEEDED(panel::TextToReal(text, &d))) panel::RealToInteger(d * 16, &v);
    }
    return 0;
}
