// The simulated SX540 evaluation board on the parallel port at base 0x378.
// A strobe on control bit 0 (rising while bit 5 is clear) latches the bit-reversed data byte into
// the register selected by the A[3:0] switches. With VPORT (1000) selected and the data lines set
// as inputs (control bit 5), a rising edge of control bit 3 starts a frame and each pulse of
// control bit 0 presents the next bit-reversed pixel byte.
//
// The chip's registers, their addresses and reset values are platform/chip/sx540.h's; this board
// models them so (chip values, after the bit reversal):
//   FCTL   bit 0 is the reset request: latching 1 and then 0 (the panel's default-setting pulse)
//          puts every register back to its reset value and turns AGC on.
//   EXCTL  exposure; any write turns AGC off.
//   GCTL   gain, bits 2..0: 0 dB .. 18 dB in equal steps; used only while AGC is off.
//   FRCTL  frame-rate divider minus one: the scene clock advances by (value + 1) per frame.
//   MCTL   the option bits: gamma 0.45 (else 1.0), mirror, indoor (else outdoor: mains flicker
//          bands roll through the picture), backlight compensation (lifts dark areas).
//   HWCTL  horizontal window: start block and end block (24 columns each).
//   VWCTL  vertical window: start block and end block (18 rows each).
//
// The video stream of a frame: the window's rows, first row first, where sensor row 0 is the
// BOTTOM row of the picture (the panel stores the first row read as the bottom row of its
// bitmap, so the picture comes out upright) and column 0 the left one. When the end block lies
// after the start block a row is exactly the window's columns; otherwise the window runs to the
// right edge and each row ends with one line-end byte (pixel value 0). Rows likewise run to the
// top edge when the vertical end block does not lie after the start block. After the last row
// every further pulse presents the blanking value 0 until the next frame starts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/chip/sx540.h"
#include "platform/portio/port_addresses.h"

#define SIM_EXPORT __attribute__((visibility("default")))

namespace sim {

using portio::kControlPort;
using portio::kDataPort;
using portio::kEcrPort;
using portio::kStatusPort;

// The status register's fixed value (no status line is wired to the chip).
constexpr std::uint8_t kStatusValue = 0x7F;
// Sensor size, and the blocks the capture window is given in.
using chip::kBlockColumns;
using chip::kBlockRows;
using chip::kBlocks;
using chip::kSensorHeight;
using chip::kSensorWidth;
// Pixel value of the line-end byte and of the blanking after the last row.
constexpr std::uint8_t kLineEndValue = 0x00;
constexpr std::uint8_t kBlankingValue = 0x00;

// Register addresses on A[3:0], as the chip's description gives them.
enum Register : std::uint8_t {
    FCTL = chip::Info(chip::Register::kFctl).address,
    EXCTL = chip::Info(chip::Register::kExctl).address,
    GCTL = chip::Info(chip::Register::kGctl).address,
    FRCTL = chip::Info(chip::Register::kFrctl).address,
    MCTL = chip::Info(chip::Register::kMctl).address,
    HWCTL = chip::Info(chip::Register::kHwctl).address,
    VWCTL = chip::Info(chip::Register::kVwctl).address,
    VPORT = chip::kVideoPortAddress,
};
// The registers' addresses run from FCTL to VWCTL without a gap.
static_assert(VWCTL - FCTL + 1 == chip::kRegisterCount);

// The register's name at an address from FCTL to VWCTL.
inline const char* RegisterName(unsigned address) { return chip::RegisterAt(address)->name; }

using chip::ReverseBits;

// The window of the video stream as the HWCTL and VWCTL chip values give it.
struct StreamWindow {
    int first_column = 0;
    int width = 0;          // pixels per row
    bool line_end = false;  // one extra byte after each row
    int first_row = 0;      // sensor row, 0 = bottom of the picture
    int height = 0;         // rows
    int BytesPerRow() const { return width + (line_end ? 1 : 0); }
    int Bytes() const { return BytesPerRow() * height; }
};
SIM_EXPORT StreamWindow WindowOf(std::uint8_t hwctl, std::uint8_t vwctl);

// What a powered board keeps between programs: the chip's registers and reset request, AGC, the
// switches and whether they follow the prompts, and the scene clock. The PC's own port registers
// (data, control, ECR) are not the board's and start afresh with each program.
struct BoardState {
    std::uint8_t switches = VPORT;
    bool follows_prompts = true;
    bool agc = true;
    bool reset_requested = false;
    std::array<std::optional<std::uint8_t>, 16> latched{};
    std::uint64_t frames = 0;
    std::uint64_t scene_time = 0;
    std::uint64_t next_time = 0;
    bool operator==(const BoardState&) const = default;
};

class SIM_EXPORT Board {
public:
    Board();
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Port side. Ports other than the four of the board float: reads 0xFF, writes ignored.
    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);

    // The A[3:0] switches (start at 1000, VPORT).
    std::uint8_t Switches() const { return switches_; }
    void SetSwitches(std::uint8_t a);
    // Whether the switches follow the panel's register-selection prompts (default on).
    bool FollowsPrompts() const { return follow_; }
    void SetFollowsPrompts(bool on);

    // The register values latched so far (as the chip holds them, not as on the wires). The
    // default-setting pulse puts the chip's defaults into EXCTL..VWCTL.
    const std::array<std::optional<std::uint8_t>, 16>& Latched() const { return latched_; }
    std::uint8_t Control() const { return control_; }
    std::uint8_t Ecr() const { return ecr_; }

    // The value the chip works with: the latched value, else the register's default.
    std::uint8_t RegisterValue(Register r) const;
    static std::uint8_t DefaultValue(Register r);
    // Automatic exposure and gain: on at power-up and after the default-setting pulse, off after
    // any EXCTL write.
    bool Agc() const { return agc_; }

    // Frames started so far, and the scene clock of the last one started (the clock advances by
    // the frame-rate divider at every frame start).
    std::uint64_t FramesStarted() const { return frames_; }
    std::uint64_t SceneTime() const { return scene_time_; }

    // Called after every change that a board window would show (latch, switches).
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

    // What the board keeps while powered, and taking it back (a board that was kept powered
    // between programs). Restoring ends any frame in progress.
    BoardState State() const;
    void Restore(const BoardState& state);
    // Off and on again: the chip's reset state (registers at their defaults, nothing latched,
    // AGC on) and the scene clock from zero. The switches stay where they are set by hand.
    void PowerCycle();
    // Called after every change of the registers, the switches or the following of the prompts
    // (not at frame starts: the scene clock is kept when the board is closed).
    void SetStateListener(std::function<void()> listener) { state_listener_ = std::move(listener); }

private:
    static constexpr std::uint8_t kStrobe = chip::kStrobeBit;        // strobe / pixel handshake
    static constexpr std::uint8_t kFrameStart = chip::kSelectInBit;  // rising starts a frame
    static constexpr std::uint8_t kDataInput = chip::kDataInputBit;  // PC's data lines are inputs

    struct Frame;
    void OnControlRise(std::uint8_t rising);
    void Latch();
    void ResetChip();
    void StartFrame();
    void Changed();

    std::uint8_t switches_ = VPORT;
    bool follow_ = true;
    std::uint8_t data_ = 0;     // what the PC last wrote to the data register
    std::uint8_t control_ = 0;  // last control byte
    std::uint8_t ecr_ = 0;
    bool agc_ = true;
    bool reset_requested_ = false;  // FCTL bit 0 as last latched
    std::array<std::optional<std::uint8_t>, 16> latched_{};
    std::function<void()> listener_;
    std::function<void()> state_listener_;

    // The frame being delivered: stream_[pos_] is on the data lines (already bit-reversed);
    // stream_[length_] is the blanking byte that follows the last row.
    Frame* frame_ = nullptr;
    const std::uint8_t* stream_ = nullptr;
    std::uint32_t pos_ = 0;
    std::uint32_t length_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t scene_time_ = 0;
    std::uint64_t next_time_ = 0;
};

// Read and Write run for every port cycle of a frame, so they are inline; the rare events
// (latch, frame start) are out of line.
inline std::uint8_t Board::Read(std::uint16_t port) {
    switch (port) {
        case kDataPort:
            // While the PC drives the lines it reads back its own byte; as inputs they show the
            // video port's byte, or float high when the chip is not driving them.
            if (!(control_ & kDataInput)) return data_;
            if (switches_ == VPORT && stream_ != nullptr) return stream_[pos_];
            return 0xFF;
        case kStatusPort:
            return kStatusValue;
        case kControlPort:
            return control_;
        case kEcrPort:
            return ecr_;
        default:
            return 0xFF;
    }
}

inline void Board::Write(std::uint16_t port, std::uint8_t value) {
    switch (port) {
        case kDataPort:
            data_ = value;
            return;
        case kControlPort: {
            const std::uint8_t rising = value & ~control_;
            control_ = value;
            if (!(rising & (kStrobe | kFrameStart))) return;
            // The pixel handshake, the hot path of a frame read: advance by one byte.
            if ((rising & kFrameStart) == 0 && (value & kDataInput) && switches_ == VPORT) {
                if (pos_ < length_) ++pos_;
                return;
            }
            OnControlRise(rising);
            return;
        }
        case kEcrPort:
            ecr_ = value;
            return;
        default:
            return;
    }
}

}  // namespace sim
