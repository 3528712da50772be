// Capture: one frame from the board's video port into "image.raw" and "image.bmp", then the
// monitor window reopened on the new bitmap.
#pragma once

#include <cstdint>
#include <string>

#include "panel/camera_link.h"
#include "panel/form_state.h"
#include "panel/frame_layout.h"
#include "panel/user_interface.h"
#include "platform/base/result.h"

namespace panel {

// Blocks of 24 columns and 18 rows, 16 of each across the sensor.
using chip::kBlockColumns;
using chip::kBlockRows;
using chip::kBlocks;
// A window larger than this many bytes to read is refused (the full frame reads 110,880).
constexpr std::int64_t kMaxByteCount = 16 * 1024 * 1024;

// The frame geometry from the window fields Text4 .. Text7 (start and end blocks, horizontal
// then vertical), in double arithmetic rounded halves to even. When the end block is not after
// the start block the window runs to the sensor's edge (horizontally with RowSkip). An error with
// a message naming the field when a field is not a usable number or the window is empty or too
// large.
base::Result<FrameGeometry> ComputeFrameGeometry(const std::string& t4, const std::string& t5,
                                                 const std::string& t6, const std::string& t7);

// The same for a window given as blocks of the chip's range (0..15 each, checked before): never
// empty, never too large.
FrameGeometry BlockGeometry(int h_start, int h_end, int v_start, int v_end);

// The Capture button. Returns true when the frame was read, both files were written in full and
// the monitor was reopened; every failure has been reported in a box.
bool Capture(const FormState& state, CameraLink& link, UserInterface& ui);

}  // namespace panel
