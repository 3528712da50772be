#include "panel/frame_layout.h"

#include <algorithm>
#include <cstring>

#include "panel/bitmap_template.h"

namespace panel {

BitmapLayout LayoutFor(const FrameGeometry& g) {
    BitmapLayout layout;
    const auto width = static_cast<std::size_t>(g.FrameWidth);
    const auto height = static_cast<std::size_t>(g.FrameHeight);
    layout.row_bytes = (width + 3) / 4 * 4;
    layout.pixel_area = layout.row_bytes * height;
    layout.file_size = kBitmapHeaderSize + layout.pixel_area + height + 1;
    return layout;
}

FrameStreamLayout StreamLayoutOf(const FrameGeometry& g) {
    FrameStreamLayout s;
    s.width = static_cast<std::size_t>(std::max(g.FrameWidth, 0));
    s.rows = std::max(g.FrameHeight, 0);
    s.row_step = s.width + (g.RowSkip ? 1 : 0);
    s.tail = g.RowSkip ? 0 : static_cast<std::size_t>(s.rows);
    return s;
}

void FillPixelArea(const FrameGeometry& g, const BitmapLayout& layout, const std::uint8_t* raw,
                   std::uint8_t* bitmap) {
    // The bitmap stores the bottom row first too: stream row r is stored row r.
    const FrameStreamLayout stream = StreamLayoutOf(g);
    const std::size_t padding = layout.row_bytes - stream.width;
    std::uint8_t* target = bitmap + kBitmapHeaderSize;
    for (int r = 0; r < stream.rows; ++r) {
        std::memcpy(target, raw + stream.RowOffset(r), stream.width);
        std::memset(target + stream.width, 0, padding);
        target += layout.row_bytes;
    }
}

}  // namespace panel
