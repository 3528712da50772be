// Frames from the board for the GStreamer element: the port objects created from the class
// registry, the port set up as the main window's load does it, and each frame read exactly as
// Capture reads it, through the panel's camera link (automation on Pinbus, never the port itself).
// Nothing here knows GStreamer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "panel/chip_settings.h"
#include "panel/frame_layout.h"
#include "platform/base/result.h"

namespace lensbay_gst {

// The capture window in blocks, as the panel's four window fields give it, and the other
// controls the element writes: each number -1 (and each option kUnset) when not given.
struct Window {
    int h_start = 0, h_end = 0, v_start = 0, v_end = 0;
    int exposure = -1, gain = -1, divider = -1;
    // The option groups gamma, mirror, mode, backlight (Option1..Option4): the item selected (0:
    // 0.45, on, indoor, on; 1: 1.0, off, outdoor, off), or kUnset.
    static constexpr int kUnset = -1;
    int options[4] = {kUnset, kUnset, kUnset, kUnset};
    // Whether the chip's registers are written at start (false: the user's word that the chip is
    // set already), and whether the board's A[3:0] switches are wired to follow the register
    // prompts (the simulated board says so itself).
    bool set_registers = true;
    bool switches_follow = false;
    bool operator==(const Window&) const = default;
    bool Given() const { return h_start != 0 || h_end != 0 || v_start != 0 || v_end != 0; }
    // Whether a control other than the window is given.
    bool ControlsGiven() const;
    // "exposure=40" for each control given, space-separated ("" for none).
    std::string ControlsText() const;
};

// The properties as the chip's settings: each within its control's range (the chip's
// description), the window always given, a number or option not written left out; the error
// message names the property.
base::Result<panel::ChipSettings> SettingsOf(const Window& window);
// The frame the window gives under the panel's geometry rules (the fallbacks to the sensor's
// edge, the row skip), once SettingsOf has taken the window.
base::Result<panel::FrameGeometry> GeometryOf(const Window& window);

// What must be written to the chip, while frames are read, to go from the controls `applied` to
// `wanted`: only the registers of the controls that changed, each whole (both halves of a window
// register; all four options when one changed, as the window's MCTL is written). A control that
// became -1 (or unset) is left as the chip holds it. Both windows are taken as valid.
panel::ChipSettings ChangesBetween(const Window& applied, const Window& wanted);

// The frame-rate divider in effect: the property when given, else what FRCTL holds as far as the
// board's record tells (`frctl`), else the chip's reset value.
int DividerInEffect(const Window& window, std::optional<std::uint8_t> frctl);

// Bytes of one output row: the frame width rounded up to a multiple of 4 (GStreamer's GRAY8).
std::size_t RowStride(const panel::FrameGeometry& g);

class FrameSource {
public:
    // Opens the port backend (PORTIO), creates the two port objects from the class registry and
    // sets the port up (ECR 0x20, control 0x20, 0x27 and the video-port prompt, which on the
    // simulated board its switches follow). `pinbus_hint` is the PINBUS.OCX path named in the
    // "register it with" advice. An error of the kind base::ErrorKind::kPortRefused when the port
    // cannot be had or will not answer, kNotRegistered when the port objects cannot be made.
    static base::Result<std::unique_ptr<FrameSource>> Open(const std::string& pinbus_hint);
    ~FrameSource();
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // One frame as Capture reads it: Begin, ByteCount x (read, 0x2A, 0x2B), End (control 0x27).
    // Rows go top-down into `dest` (`stride` bytes apart, padding zeroed), the row-skip byte
    // dropped, so that the picture stands as the monitor shows it.
    base::Result<> ReadFrame(const panel::FrameGeometry& g, std::uint8_t* dest, std::size_t stride);

    // Whether the board's switches follow the register prompts by themselves.
    bool BoardFollowsPrompts() const;
    // Writes HWCTL and VWCTL for the window (the full frame included) and every control given,
    // as Set Register does for those fields and options, its prompts acknowledged at once.
    base::Result<> SetRegisters(const Window& window);
    // Writes the registers the given controls touch, and no other, as Set Register does (between
    // two frames: the port at rest), and records them in the board's record.
    base::Result<> Apply(const panel::ChipSettings& settings);

    // Each chip register's value as the board's record says the chip holds it (in
    // chip::kRegisters's order), -1 where unknown.
    using RegisterValues = std::array<int, chip::kRegisterCount>;
    RegisterValues Registers() const;

private:
    struct Impl;
    explicit FrameSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace lensbay_gst
