// The simulated SX540 evaluation board on the parallel port at base 0x378.
// A strobe on control bit 0 (rising while bit 5 is clear) latches the bit-reversed data byte into
// the register selected by the A[3:0] switches. With VPORT (1000) selected and the data lines set
// as inputs (control bit 5), a rising edge of control bit 3 starts a frame and each pulse of
// control bit 0 presents the next bit-reversed pixel byte.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#define SIM_EXPORT __attribute__((visibility("default")))

namespace sim {

constexpr std::uint16_t kDataPort = 0x378;
constexpr std::uint16_t kStatusPort = 0x379;
constexpr std::uint16_t kControlPort = 0x37A;
constexpr std::uint16_t kEcrPort = 0x77A;

// Register addresses on A[3:0].
enum Register : std::uint8_t {
    FCTL = 0x1,
    EXCTL = 0x2,
    GCTL = 0x3,
    FRCTL = 0x4,
    MCTL = 0x5,
    HWCTL = 0x6,
    VWCTL = 0x7,
    VPORT = 0x8,
};

class SIM_EXPORT Board {
public:
    Board();
    ~Board();

    // Port side. Ports other than the four of the board float: reads 0xFF, writes ignored.
    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);

    // The A[3:0] switches (start at 1000, VPORT).
    std::uint8_t Switches() const { return switches_; }
    void SetSwitches(std::uint8_t a);
    // Whether the switches follow the panel's register-selection prompts (default on).
    bool FollowsPrompts() const { return follow_; }
    void SetFollowsPrompts(bool on) { follow_ = on; }

    // The register values latched so far (as the chip holds them, not as on the wires).
    const std::array<std::optional<std::uint8_t>, 16>& Latched() const { return latched_; }
    std::uint8_t Control() const { return control_; }

    // Called after every change that a board window would show (latch, switches).
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    struct Frame;
    void Latch();
    void StartFrame();
    std::uint8_t NextPixel();

    std::uint8_t switches_ = VPORT;
    bool follow_ = true;
    std::uint8_t data_ = 0;     // what the PC last wrote to the data register
    std::uint8_t control_ = 0;  // last control byte
    std::uint8_t ecr_ = 0;
    std::array<std::optional<std::uint8_t>, 16> latched_{};
    std::function<void()> listener_;
    Frame* frame_ = nullptr;
};

}  // namespace sim
