#include "platform/portio/sim/sim_backend.h"

#include "platform/portio/sim/board.h"
#include "platform/portio/sim/board_operator.h"

namespace portio {

namespace {

class SimBackend final : public Backend {
public:
    std::uint8_t In8(std::uint16_t port) override { return board_.Read(port); }
    std::uint16_t In16(std::uint16_t port) override {
        const std::uint8_t low = board_.Read(port);
        const std::uint8_t high = board_.Read(static_cast<std::uint16_t>(port + 1));
        return static_cast<std::uint16_t>(low | high << 8);
    }
    void Out8(std::uint16_t port, std::uint8_t value) override { board_.Write(port, value); }
    void Out16(std::uint16_t port, std::uint16_t value) override {
        board_.Write(port, static_cast<std::uint8_t>(value));
        board_.Write(static_cast<std::uint16_t>(port + 1), static_cast<std::uint8_t>(value >> 8));
    }
    // The board answers every port (one it does not decode floats), so no cycle is refused.
    int CheckedIn8(std::uint16_t port) override { return In8(port); }
    std::int32_t CheckedIn16(std::uint16_t port) override { return In16(port); }
    bool CheckedOut8(std::uint16_t port, std::uint8_t value) override {
        Out8(port, value);
        return true;
    }
    bool CheckedOut16(std::uint16_t port, std::uint16_t value) override {
        Out16(port, value);
        return true;
    }
    BoardOperator* Operator() override { return &operator_; }

private:
    sim::Board board_;
    sim::SimBoardOperator operator_{board_};
};

}  // namespace

std::unique_ptr<Backend> OpenSim() { return std::make_unique<SimBackend>(); }

sim::Board* SimulatedBoard() {
    // The sim backend is the only one whose operator side is the simulated board's.
    auto* op = dynamic_cast<sim::SimBoardOperator*>(Operator());
    return op != nullptr ? &op->SimulatedBoard() : nullptr;
}

}  // namespace portio
