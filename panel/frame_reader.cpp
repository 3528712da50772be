#include "panel/frame_reader.h"

#include <cstring>
#include <new>

namespace panel {

base::Result<> StreamSink::Prepare(const FrameGeometry& g, std::size_t extra) {
    layout_ = StreamLayoutOf(g);
    try {
        bytes_.assign(static_cast<std::size_t>(g.ByteCount) + extra, 0);
    } catch (const std::bad_alloc&) {
        return base::Fail("Not enough memory for the frame.");
    }
    return {};
}

std::uint8_t* PictureRowsSink::Row(int r) {
    std::uint8_t* out = dest_ + static_cast<std::size_t>(layout_.PictureRow(r)) * stride_;
    if (stride_ > layout_.width) std::memset(out + layout_.width, 0, stride_ - layout_.width);
    return out;
}

base::Result<> ReadFrame(CameraLink& link, const FrameGeometry& g, FrameSink& sink) {
    auto failed = [&] { return base::Fail("The port object failed: " + link.LastFailure() + "."); };
    if (FAILED(link.BeginFrameRead())) return failed();
    // The bytes in stream order: each row's pixels, its line-end byte if any, then the tail.
    const FrameStreamLayout layout = StreamLayoutOf(g);
    for (int r = 0; r < layout.rows; ++r) {
        std::uint8_t* row = sink.Row(r);
        for (std::size_t x = 0; x < layout.width; ++x) {
            if (FAILED(link.ReadPixelByte(row + x))) return failed();
        }
        for (std::size_t x = layout.width; x < layout.row_step; ++x) {
            if (FAILED(link.ReadPixelByte(sink.Other(layout.RowOffset(r) + x)))) return failed();
        }
    }
    const std::size_t tail_start = static_cast<std::size_t>(layout.rows) * layout.row_step;
    for (std::size_t n = 0; n < layout.tail; ++n) {
        if (FAILED(link.ReadPixelByte(sink.Other(tail_start + n)))) return failed();
    }
    if (base::Result<> done = sink.Complete(); !done) return done;
    if (FAILED(link.EndFrameRead())) return failed();
    return {};
}

}  // namespace panel
