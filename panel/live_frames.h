// Frames for the live view and the console's `live`: Capture's read loop without its files, and
// the port's ownership between the window's handlers and the thread that reads live frames.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "panel/camera_link.h"
#include "panel/frame_layout.h"
#include "panel/frame_reader.h"
#include "panel/picture.h"
#include "platform/base/result.h"

namespace panel {

// Who may use the port. The window's handlers (Set Register, Default Setting, Capture, Save As)
// take it whole; the live view's thread takes it one frame at a time and waits while a handler
// holds or wants it. A frame under way is finished before a handler goes ahead.
class PortArbiter {
public:
    // Held by a handler for its whole run (on the window's thread; nesting is allowed).
    class Exclusive {
    public:
        explicit Exclusive(PortArbiter& arbiter);
        ~Exclusive();
        Exclusive(const Exclusive&) = delete;
        Exclusive& operator=(const Exclusive&) = delete;

    private:
        PortArbiter& arbiter_;
    };

    // The live thread: waits until no handler holds or wants the port, then owns it for one
    // frame. False (without owning it) once `stop` is set; Wake() makes the wait look again.
    bool BeginFrame(const std::atomic<bool>& stop);
    void EndFrame();
    void Wake();
    // Whether a handler holds or wants the port (the live view shows itself paused).
    bool HeldByHandler() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int handlers_ = 0;
    bool frame_ = false;
};

// Reads frames with exactly Capture's read loop: BeginFrameRead, ByteCount x ReadPixelByte,
// EndFrameRead (which leaves the control register at 0x27). It has a link of its own on the
// same two port objects, so it may run on another thread while it owns the port.
class FrameReader {
public:
    FrameReader(IDispatch* pinbus1, IDispatch* pinbus2);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // One frame of geometry g into *out (rows top-down as shown). The buffers are kept between
    // frames, so that a run of frames of one size allocates nothing after the first.
    base::Result<> Read(const FrameGeometry& g, Picture* out);

private:
    struct Silent;
    Silent* silent_;
    CameraLink link_;
    StreamSink stream_;
};

}  // namespace panel
