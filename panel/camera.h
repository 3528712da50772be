// The camera as one object for a library in another program's process (the Python module): the
// session opened as the programs open it (the same port backend through PORTIO, the same claim),
// the window's load, the chip's controls written through the register plan, the capture window,
// Default Setting, the simulated board's power, and frames read by the one frame reader into a
// caller's buffer or written as `lensbay capture -o` writes them. Unlike a program it leaves the
// host's signals alone and never ends the process: a port cycle the backend refuses becomes the
// error of the operation it spoiled. Every operation holds the camera's lock for its whole run,
// so that two threads on one camera take turns, a frame or a register sequence at a time.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/capture_output.h"
#include "panel/chip_settings.h"
#include "panel/form_state.h"
#include "panel/frame_layout.h"
#include "panel/picture_files.h"
#include "panel/register_record.h"
#include "panel/session.h"
#include "platform/base/result.h"
#include "platform/portio/board_operator.h"

namespace panel {

// Answers a register-selection prompt ("Please select EXCTL register A[3:0]=0010") on a board
// whose switches do not follow the prompts: returns once the switches are set. An error stops the
// sequence before the register's data write (as a field that does not convert stops Set
// Register) and comes back as the operation's error.
using PromptAnswer = std::function<base::Result<>(const std::string& prompt)>;

// The capture window in blocks: h_start, h_end, v_start, v_end.
using BlockWindow = std::array<int, 4>;

class Camera {
public:
    // Opens the session (the writes recorded as `writer`'s) and runs the window's load, its
    // video-port prompt going to `prompt` where the switches do not follow. Errors of the kinds
    // OpenSession gives (kPortRefused: the port in use, naming its holder; kNotRegistered and
    // kRegistry: the advice to register PINBUS.OCX).
    static base::Result<std::unique_ptr<Camera>> Open(const std::string& pinbus_hint,
                                                      const std::string& writer,
                                                      PromptAnswer prompt);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Whether the board's switches follow the register prompts by themselves (then no prompt is
    // answered by anyone).
    bool FollowsPrompts() const;

    // Writes the registers the given controls touch, as `lensbay set` does (the same plan, the
    // same port cycles). `prompt` answers the prompts (null: the camera's own answer).
    base::Result<> SetControls(const ChipSettings& settings, const PromptAnswer& prompt = {});
    // The window the chip sends and the frames are read with; the full frame (0, 0, 0, 0) until
    // set. Setting it writes HWCTL and VWCTL (blocks checked by the caller, ChipSettings).
    BlockWindow Window() const;
    base::Result<> SetWindow(const BlockWindow& window, const PromptAnswer& prompt = {});
    // Default Setting: FCTL's reset pulse; the window back to the full frame.
    base::Result<> Reset(const PromptAnswer& prompt = {});
    // The simulated board off and on (its chip back to its reset state, the record cleared);
    // fails on any other board.
    base::Result<> PowerCycle();

    // The frame the window gives.
    FrameGeometry Geometry() const;
    // Where a frame of `g` goes: FrameHeight rows of FrameWidth bytes, or null when there is no
    // room (the read is not made). Called under the camera's lock, with the geometry the frame is
    // read with.
    using RowsFor = std::function<std::uint8_t*(const FrameGeometry& g)>;
    // One frame, as Capture reads it, into the rows `rows_for` gives, top-down as the monitor
    // shows them. The first frame writes the window's registers first, as `lensbay capture` does,
    // unless the window was set. `frame` gets the frame's number (from 1, counted by this camera:
    // its frames are one series, so `count` is the number too), its time and its seconds since
    // the camera's first frame; `geometry` the frame's size.
    base::Result<> ReadFrame(const RowsFor& rows_for, SeriesFrame* frame, FrameGeometry* geometry);
    // The same into a picture file's bytes, as CaptureToMemory makes them under `header`.
    base::Result<CapturedFrame> ReadCapture(const std::vector<std::uint8_t>& header,
                                            SeriesFrame* frame, FrameGeometry* geometry);
    // The record of a frame read with `geometry`, as a capture's `.json` beside its picture holds
    // it: size, window, row skip, the registers as written, the backend, the time and the number.
    std::string RecordJson(const SeriesFrame& frame, const FrameGeometry& geometry) const;
    // Writes a captured frame as `lensbay capture -o NAME` does, its record beside it.
    base::Result<> WriteCapture(const OutputFolder& folder, const std::string& name,
                                ImageFormat format, const CapturedFrame& captured,
                                const SeriesFrame& frame, const FrameGeometry& geometry,
                                PngEncoder* png) const;

    const RegisterRecord& Registers() const;

private:
    struct Impl;
    explicit Camera(std::unique_ptr<Impl> impl);
    base::Result<> WriteWindowLocked(const BlockWindow& window, const PromptAnswer& prompt);
    base::Result<> RunPlanLocked(const ChipSettings& settings, const PromptAnswer& prompt);
    // Before a frame: the window written once; after it, its number and time.
    base::Result<> BeforeFrameLocked();
    void AfterFrameLocked(SeriesFrame* frame);
    std::unique_ptr<Impl> impl_;
    mutable std::mutex mutex_;
};

}  // namespace panel
