#include "platform/portio/sim/board.h"

#include <vector>

#include "platform/portio/sim/scene.h"

namespace sim {

namespace {

constexpr std::array<std::uint8_t, 256> MakeReverseTable() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = ReverseBits(static_cast<std::uint8_t>(i));
    return table;
}
constexpr std::array<std::uint8_t, 256> kReversed = MakeReverseTable();

}  // namespace

StreamWindow WindowOf(std::uint8_t hwctl, std::uint8_t vwctl) {
    StreamWindow w;
    const int hs = chip::ValueIn(chip::kControls[chip::kHStart], hwctl);
    const int he = chip::ValueIn(chip::kControls[chip::kHEnd], hwctl);
    const int vs = chip::ValueIn(chip::kControls[chip::kVStart], vwctl);
    const int ve = chip::ValueIn(chip::kControls[chip::kVEnd], vwctl);
    w.first_column = hs * kBlockColumns;
    w.line_end = he <= hs;
    w.width = (w.line_end ? kBlocks - hs : he - hs) * kBlockColumns;
    w.first_row = vs * kBlockRows;
    w.height = (ve > vs ? ve - vs : kBlocks - vs) * kBlockRows;
    return w;
}

struct Board::Frame {
    std::vector<std::uint8_t> image =
        std::vector<std::uint8_t>(static_cast<std::size_t>(kSensorWidth) * kSensorHeight);
    // The largest stream: full width with line-end bytes, all rows, then the blanking byte.
    std::vector<std::uint8_t> stream = std::vector<std::uint8_t>(
        static_cast<std::size_t>(kSensorWidth + 1) * kSensorHeight + 1, kReversed[kBlankingValue]);
};

Board::Board() : frame_(new Frame) {}

Board::~Board() { delete frame_; }

void Board::OnControlRise(std::uint8_t rising) {
    if (!(control_ & Board::kDataInput)) {
        // The PC drives the data lines: bit 0 is the register strobe.
        if (rising & Board::kStrobe) Latch();
        return;
    }
    if (switches_ != VPORT) return;
    if (rising & Board::kFrameStart) {
        // A frame start presents the first byte; a pulse in the same write does not advance it.
        StartFrame();
        return;
    }
    if (stream_ != nullptr && pos_ < length_) ++pos_;
}

void Board::SetSwitches(std::uint8_t a) {
    switches_ = a & 0x0F;
    Changed();
}

void Board::SetFollowsPrompts(bool on) {
    follow_ = on;
    if (state_listener_) state_listener_();
}

BoardState Board::State() const {
    BoardState s;
    s.switches = switches_;
    s.follows_prompts = follow_;
    s.agc = agc_;
    s.reset_requested = reset_requested_;
    s.latched = latched_;
    s.frames = frames_;
    s.scene_time = scene_time_;
    s.next_time = next_time_;
    return s;
}

void Board::Restore(const BoardState& s) {
    switches_ = s.switches & 0x0F;
    follow_ = s.follows_prompts;
    agc_ = s.agc;
    reset_requested_ = s.reset_requested;
    latched_ = s.latched;
    frames_ = s.frames;
    scene_time_ = s.scene_time;
    next_time_ = s.next_time;
    stream_ = nullptr;
    pos_ = length_ = 0;
    Changed();
}

void Board::PowerCycle() {
    BoardState fresh;
    fresh.switches = switches_;
    fresh.follows_prompts = follow_;
    Restore(fresh);
}

std::uint8_t Board::DefaultValue(Register r) {
    const chip::RegisterInfo* info = chip::RegisterAt(r);
    return info != nullptr ? info->reset : 0x00;
}

std::uint8_t Board::RegisterValue(Register r) const {
    const auto& v = latched_[r & 0x0F];
    return v ? *v : DefaultValue(r);
}

void Board::Latch() {
    const std::uint8_t address = switches_;
    if (address < FCTL || address > VWCTL) return;  // VPORT and unused addresses latch nothing
    const std::uint8_t value = kReversed[data_];
    latched_[address] = value;
    if (address == EXCTL) agc_ = false;
    if (address == FCTL) {
        // Releasing the reset request (bit 0 from 1 to 0) resets the chip.
        const bool request = value & chip::kResetRequestBit;
        if (reset_requested_ && !request) ResetChip();
        reset_requested_ = request;
    }
    Changed();
}

void Board::ResetChip() {
    for (Register r : {EXCTL, GCTL, FRCTL, MCTL, HWCTL, VWCTL}) latched_[r] = DefaultValue(r);
    agc_ = true;
}

void Board::StartFrame() {
    const SceneSettings settings = SettingsOf(*this);
    scene_time_ = next_time_;
    next_time_ += static_cast<std::uint64_t>(settings.divider) + 1;
    ++frames_;
    RenderScene(settings, scene_time_, frame_->image.data());

    const StreamWindow w = WindowOf(RegisterValue(HWCTL), RegisterValue(VWCTL));
    std::uint8_t* out = frame_->stream.data();
    for (int row = w.first_row; row < w.first_row + w.height; ++row) {
        const std::uint8_t* in = &frame_->image[static_cast<std::size_t>(row) * kSensorWidth];
        for (int column = w.first_column; column < w.first_column + w.width; ++column) {
            *out++ = kReversed[in[column]];
        }
        if (w.line_end) *out++ = kReversed[kLineEndValue];
    }
    *out = kReversed[kBlankingValue];
    length_ = static_cast<std::uint32_t>(w.Bytes());
    stream_ = frame_->stream.data();
    pos_ = 0;
}

void Board::Changed() {
    if (listener_) listener_();
    if (state_listener_) state_listener_();
}

}  // namespace sim
