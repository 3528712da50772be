// The SX540 camera chip on its evaluation board, described once: its control registers (name,
// A[3:0] address, reset value, what feeds each), the controls a person sets (name, range, step,
// default, unit, option words and bits), the parallel port's control-line values of the
// handshake, and the bit order on the data lines. The simulated board, the panel, the element and
// the tools read the chip from here; nothing else writes these facts down.
#pragma once

#include <cstdint>
#include <string>

namespace chip {

// ---- The data lines ----------------------------------------------------------------------------

// Bit i of the result is bit 7 - i of b: register bytes leave, and pixel bytes arrive, in this
// order on the data lines.
constexpr std::uint8_t ReverseBits(std::uint8_t b) {
    b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

// ---- The control lines -------------------------------------------------------------------------

// The PC's control register, bit by bit.
inline constexpr std::uint8_t kStrobeBit = 0x01;     // bit 0: latches a register byte; pixel pulse
inline constexpr std::uint8_t kAutoFeedBit = 0x02;   // bit 1
inline constexpr std::uint8_t kInitBit = 0x04;       // bit 2
inline constexpr std::uint8_t kSelectInBit = 0x08;   // bit 3: its rise starts a frame
inline constexpr std::uint8_t kDataInputBit = 0x20;  // bit 5: the PC's data lines are inputs

// The whole bytes the handshakes write to the control register.
inline constexpr std::uint8_t kControlNone = 0x00;  // FRCTL's opening; between FCTL's pulses
inline constexpr std::uint8_t kControlWrite = kSelectInBit;                // 0x08: strobe off
inline constexpr std::uint8_t kControlStrobe = kSelectInBit | kStrobeBit;  // 0x09: strobe on
inline constexpr std::uint8_t kControlInput = kDataInputBit;  // 0x20: start-up, first write
inline constexpr std::uint8_t kControlVideoPort = kDataInputBit | kAutoFeedBit;  // 0x22
inline constexpr std::uint8_t kControlIdle =
    kDataInputBit | kInitBit | kAutoFeedBit | kStrobeBit;  // 0x27: at rest, frame read's ends
inline constexpr std::uint8_t kControlLeaveWrite = kDataInputBit | kSelectInBit;  // 0x28
inline constexpr std::uint8_t kControlPixelPulse =
    kDataInputBit | kSelectInBit | kAutoFeedBit;  // 0x2A: next pixel byte
inline constexpr std::uint8_t kControlPixelHold = kControlPixelPulse | kStrobeBit;  // 0x2B
inline constexpr std::uint8_t kControlFrameSetup = kControlPixelHold | kInitBit;    // 0x2F
// The extended control register's mode field (bits 7..5) at 001: byte-wide bidirectional.
inline constexpr std::uint8_t kEcrByteMode = 0x20;

// ---- The sensor ------------------------------------------------------------------------------

// The picture, and the blocks the capture window is given in (16 each way).
inline constexpr int kSensorWidth = 384;
inline constexpr int kSensorHeight = 288;
inline constexpr int kBlocks = 16;
inline constexpr int kBlockColumns = kSensorWidth / kBlocks;  // 24
inline constexpr int kBlockRows = kSensorHeight / kBlocks;    // 18
// Frames a second the sensor makes at divider 1; FRCTL's divider sends every n-th of them.
inline constexpr int kFramesPerSecond = 50;

// ---- The registers -----------------------------------------------------------------------------

// In the order the records list them.
enum class Register : std::uint8_t { kFctl, kExctl, kGctl, kFrctl, kMctl, kHwctl, kVwctl };

struct RegisterInfo {
    Register id;
    const char* name;      // as the prompts name it
    std::uint8_t address;  // on A[3:0]
    std::uint8_t reset;    // after power-on and after FCTL's reset pulse
    const char* fed_by;    // the controls (or the operation) that make its value
};
inline constexpr RegisterInfo kRegisters[] = {
    {Register::kFctl, "FCTL", 0x1, 0x00, "Default Setting's reset pulse"},
    {Register::kExctl, "EXCTL", 0x2, 0x40, "exposure (64: automatic exposure on)"},
    {Register::kGctl, "GCTL", 0x3, 0x00, "gain"},
    {Register::kFrctl, "FRCTL", 0x4, 0x00, "divider, minus one"},
    {Register::kMctl, "MCTL", 0x5, 0x00, "gamma, mirror, mode, backlight (bits 7..4)"},
    {Register::kHwctl, "HWCTL", 0x6, 0x00, "h_start (bits 7..4) OR h_end (bits 3..0)"},
    {Register::kVwctl, "VWCTL", 0x7, 0x00, "v_start (bits 7..4) OR v_end (bits 3..0)"},
};
inline constexpr int kRegisterCount = sizeof kRegisters / sizeof kRegisters[0];
// The video port: selected for capture, never written.
inline constexpr std::uint8_t kVideoPortAddress = 0x8;
inline constexpr char kVideoPortName[] = "VPORT";

constexpr const RegisterInfo& Info(Register r) { return kRegisters[static_cast<int>(r)]; }
constexpr bool TableInOrder() {
    for (int i = 0; i < kRegisterCount; ++i)
        if (static_cast<int>(kRegisters[i].id) != i) return false;
    return true;
}
static_assert(TableInOrder(), "kRegisters lists the registers in Register's order");

// The register at `address` on A[3:0]; null for an address that selects none (VPORT included).
constexpr const RegisterInfo* RegisterAt(unsigned address) {
    for (const RegisterInfo& r : kRegisters)
        if (r.address == address) return &r;
    return nullptr;
}

// An A[3:0] setting as the switches read, A3 first ("0010").
struct AddressBits {
    char text[5];
};
constexpr AddressBits AddressText(std::uint8_t address) {
    AddressBits bits{};
    for (int bit = 0; bit < 4; ++bit) bits.text[bit] = (address >> (3 - bit)) & 1 ? '1' : '0';
    return bits;
}

// The prompt that asks for a register's selection: "Please select EXCTL register A[3:0]=0010".
// Its "A[3:0]=" marker is what the simulated board's switches follow.
inline std::string SelectPrompt(const char* name, std::uint8_t address) {
    return std::string("Please select ") + name + " register A[3:0]=" + AddressText(address).text;
}
inline std::string SelectPrompt(Register r) { return SelectPrompt(Info(r).name, Info(r).address); }
// The prompt that sends the user back to the video port after register writes (its wording is
// the program's own, without "select").
inline std::string ReturnPrompt() {
    return std::string("Please ") + kVideoPortName +
           " register A[3:0]=" + AddressText(kVideoPortAddress).text;
}

// Set Register's order and each block's opening control write (FRCTL's alone is 0x00). VWCTL has
// no closing write of its own: the next block's opening write stands for it.
struct WriteStep {
    Register reg;
    std::uint8_t opening;
    bool closing;
};
inline constexpr WriteStep kWriteOrder[] = {
    {Register::kExctl, kControlWrite, true},  {Register::kGctl, kControlWrite, true},
    {Register::kFrctl, kControlNone, true},   {Register::kHwctl, kControlWrite, true},
    {Register::kVwctl, kControlWrite, false}, {Register::kMctl, kControlWrite, true},
};
// Default Setting's two FCTL bytes, put on the data lines as they stand (not reversed).
inline constexpr std::uint8_t kResetPulseFirst = 0x80;
inline constexpr std::uint8_t kResetPulseSecond = 0x00;
// The chip reads them as FCTL's reset request (bit 0) set, then released: the release resets it.
inline constexpr std::uint8_t kResetRequestBit = 0x01;
static_assert(ReverseBits(kResetPulseFirst) == kResetRequestBit);
static_assert(ReverseBits(kResetPulseSecond) == 0);

// ---- The controls ------------------------------------------------------------------------------

enum class ControlKind : std::uint8_t {
    kNumber,  // the register holds (value - offset) << shift, within `part`
    kOption,  // one bit of the register: set for words[0], clear for words[1]
    kReset,   // FCTL's pulse: no value
};

struct Control {
    const char* name;  // the settings key
    Register reg;
    ControlKind kind;
    int min, max, step;    // kNumber: the range a value is taken in
    int offset;            // kNumber: subtracted before the shift (the divider's one)
    int shift;             // kNumber: the value's place in the register (a start block's 4)
    std::uint8_t part;     // the register's bits that hold it
    const char* unit;      // "" or "blocks"
    const char* words[2];  // kOption: the word for the bit set, and for the bit clear
};

// In the order of the window: the number fields, the options, the capture window; then FCTL.
inline constexpr Control kControls[] = {
    {"exposure", Register::kExctl, ControlKind::kNumber, 0, 127, 1, 0, 0, 0xFF, "", {}},
    {"gain", Register::kGctl, ControlKind::kNumber, 0, 7, 1, 0, 0, 0xFF, "", {}},
    {"divider", Register::kFrctl, ControlKind::kNumber, 1, 128, 1, 1, 0, 0xFF, "", {}},
    {"gamma", Register::kMctl, ControlKind::kOption, 0, 1, 1, 0, 0, 0x80, "", {"0.45", "1.0"}},
    {"mirror", Register::kMctl, ControlKind::kOption, 0, 1, 1, 0, 0, 0x40, "", {"on", "off"}},
    {"mode", Register::kMctl, ControlKind::kOption, 0, 1, 1, 0, 0, 0x20, "", {"indoor", "outdoor"}},
    {"backlight", Register::kMctl, ControlKind::kOption, 0, 1, 1, 0, 0, 0x10, "", {"on", "off"}},
    {"h_start", Register::kHwctl, ControlKind::kNumber, 0, 15, 1, 0, 4, 0xF0, "blocks", {}},
    {"h_end", Register::kHwctl, ControlKind::kNumber, 0, 15, 1, 0, 0, 0x0F, "blocks", {}},
    {"v_start", Register::kVwctl, ControlKind::kNumber, 0, 15, 1, 0, 4, 0xF0, "blocks", {}},
    {"v_end", Register::kVwctl, ControlKind::kNumber, 0, 15, 1, 0, 0, 0x0F, "blocks", {}},
    {"reset", Register::kFctl, ControlKind::kReset, 0, 0, 0, 0, 0, 0x00, "", {}},
};
inline constexpr int kControlCount = sizeof kControls / sizeof kControls[0];

// The controls by their place in kControls.
enum ControlIndex : int {
    kExposure,
    kGain,
    kDivider,
    kGamma,
    kMirror,
    kMode,
    kBacklight,
    kHStart,
    kHEnd,
    kVStart,
    kVEnd,
    kReset,
};
inline constexpr int kOptionCount = 4;  // kGamma .. kBacklight

// A number control's value as its register holds it; an option's item (0: words[0], bit set).
constexpr int ValueIn(const Control& c, std::uint8_t reg) {
    switch (c.kind) {
        case ControlKind::kNumber:
            return ((reg & c.part) >> c.shift) + c.offset;
        case ControlKind::kOption:
            return reg & c.part ? 0 : 1;
        default:
            return 0;
    }
}
// The register bits of a number value, or of an option's item.
constexpr std::uint8_t PartOf(const Control& c, int value) {
    if (c.kind == ControlKind::kOption) return value == 0 ? c.part : 0;
    return static_cast<std::uint8_t>(((value - c.offset) << c.shift) & c.part);
}
// What a control holds after power-on and FCTL's reset.
constexpr int DefaultOf(const Control& c) { return ValueIn(c, Info(c.reg).reset); }

}  // namespace chip
