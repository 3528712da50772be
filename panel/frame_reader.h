// The one frame read over the camera link: the set-up, ByteCount bytes each taken as it is
// sampled and followed by its handshake pulse, and the closing control write, with one error
// text. Where the bytes go is the sink's: the stream as it comes (Capture's image.raw, the live
// view), or picture rows with the line-end bytes dropped (the GStreamer buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "panel/camera_link.h"
#include "panel/frame_layout.h"
#include "platform/base/result.h"

namespace panel {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Where the `width` pixel bytes of stream row r (0: the first row read) go.
    virtual std::uint8_t* Row(int r) = 0;
    // Where the byte at `offset` of the stream goes when it belongs to no row's pixels (a row's
    // line-end byte, the bytes after the last row).
    virtual std::uint8_t* Other(std::size_t offset) = 0;
    // Every byte is in; the closing control write comes after this. An error ends the read here,
    // without it (Capture's file errors leave the port at 0x2B).
    virtual base::Result<> Complete() { return {}; }
};

// The stream as it comes, in one buffer of ByteCount bytes (and `extra` zero bytes after them).
class StreamSink : public FrameSink {
public:
    // Fails with "Not enough memory for the frame." when the buffer cannot be had.
    base::Result<> Prepare(const FrameGeometry& g, std::size_t extra = 0);
    std::uint8_t* Row(int r) override { return bytes_.data() + layout_.RowOffset(r); }
    std::uint8_t* Other(std::size_t offset) override { return bytes_.data() + offset; }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    FrameStreamLayout layout_;
    std::vector<std::uint8_t> bytes_;
};

// The picture's rows, top-down as the monitor shows them, into a caller's buffer `stride` bytes
// apart (each row's padding after its `width` bytes zeroed); the bytes that belong to no row (the
// row-skip byte, the tail) are read and dropped. The element's buffers and the Python module's
// arrays are filled this way, in place.
class PictureRowsSink : public FrameSink {
public:
    PictureRowsSink(const FrameGeometry& g, std::uint8_t* dest, std::size_t stride)
        : layout_(StreamLayoutOf(g)), dest_(dest), stride_(stride) {}
    std::uint8_t* Row(int r) override;
    std::uint8_t* Other(std::size_t) override { return &dropped_; }

private:
    FrameStreamLayout layout_;
    std::uint8_t* dest_;
    std::size_t stride_;
    std::uint8_t dropped_ = 0;
};

// Reads one frame of geometry `g` into `sink`: BeginFrameRead, ByteCount x ReadPixelByte,
// sink.Complete(), EndFrameRead. A port failure ends it at once with "The port object failed:
// <which access>."; an error of Complete() comes back as it is.
base::Result<> ReadFrame(CameraLink& link, const FrameGeometry& g, FrameSink& sink);

}  // namespace panel
