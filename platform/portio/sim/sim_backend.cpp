#include "platform/portio/sim/sim_backend.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/portio/backend_registry.h"
#include "platform/portio/ending.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/sim/board.h"
#include "platform/portio/sim/board_operator.h"
#include "platform/portio/sim/board_state_file.h"

namespace portio {

namespace {

class SimBackend final : public Backend {
public:
    SimBackend() = default;
    // A board kept powered in `state_path`: its state as the file holds it, written back after
    // every change of the registers or switches, and with the scene clock when it closes.
    SimBackend(std::string state_path, const sim::BoardState& state)
        : state_path_(std::move(state_path)), saved_(state) {
        board_.Restore(state);
        board_.SetStateListener([this] { Save(); });
    }
    ~SimBackend() override {
        if (!state_path_.empty()) {
            board_.SetStateListener(nullptr);
            Save();
        }
    }
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

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
    void Save() {
        const sim::BoardState now = board_.State();
        if (now == saved_) return;
        if (base::Result<> saved = sim::SaveBoardState(state_path_, now); !saved) {
            // The board goes on; only its memory between programs is lost. Said once.
            if (!save_failed_.exchange(true)) std::fprintf(stderr, "%s\n", saved.message().c_str());
            return;
        }
        saved_ = now;
    }

    sim::Board board_;
    sim::SimBoardOperator operator_{board_};
    std::string state_path_;
    sim::BoardState saved_;
    std::atomic<bool> save_failed_{false};
};

base::Result<std::unique_ptr<Backend>> OpenChosen(const std::string&) {
    return OpenSimFromEnvironment();
}

// The lock lies beside the state file; a fresh board is this program's alone.
base::Result<PortLock> Lock(const std::string&) {
    base::Result<std::string> state = sim::StateFilePath();
    if (!state) return state.error();
    if (state->empty()) return PortLock{PortName() + " (a fresh simulated board)", ""};
    return PortLock{PortName() + " (the simulated board kept in " + *state + ")", *state + ".port"};
}

const BackendRegistrar kRegistrar({
    .name = "sim",
    .argument = nullptr,
    .help = "the simulated SX540 evaluation board",
    .open = OpenChosen,
    .lock = Lock,
});

}  // namespace

std::unique_ptr<Backend> OpenSim() { return std::make_unique<SimBackend>(); }

base::Result<std::unique_ptr<Backend>> OpenSim(const std::string& state_path) {
    if (state_path.empty()) return std::unique_ptr<Backend>(std::make_unique<SimBackend>());
    base::Result<sim::BoardState> state = sim::LoadBoardState(state_path);
    if (!state) return state.error();
    return std::unique_ptr<Backend>(std::make_unique<SimBackend>(state_path, *state));
}

base::Result<std::unique_ptr<Backend>> OpenSimFromEnvironment() {
    // A signal ends the program at once, never after another program's hold on the state's lock.
    sim::SetLockWaitAbandoned(&EndingPending);
    base::Result<std::string> kept = sim::StateFilePath();
    if (!kept) return kept.error();
    const std::string path = std::move(kept).value();
    if (path.empty()) {
        std::fprintf(stderr,
                     "simulated board: LENSBAY_SIM_STATE is set to nothing, so the board starts "
                     "fresh and forgets its registers when this program ends\n");
    }
    return OpenSim(path);
}

base::Result<std::string> PowerCycleSimState() {
    base::Result<std::string> where = sim::StateFilePath();
    if (!where || where->empty()) return where;
    const std::string path = std::move(where).value();
    // The switches are set by hand and stay; a damaged state gives them their defaults.
    base::Result<sim::BoardState> kept = sim::LoadBoardState(path);
    sim::BoardState fresh;
    if (kept) {
        fresh.switches = kept->switches;
        fresh.follows_prompts = kept->follows_prompts;
    }
    if (base::Result<> saved = sim::SaveBoardState(path, fresh); !saved) return saved.error();
    return path;
}

base::Result<BoardView> ReadSimBoardState() {
    base::Result<std::string> where = sim::StateFilePath();
    if (!where) return where.error();
    sim::BoardState kept;
    if (!where->empty()) {
        base::Result<sim::BoardState> loaded = sim::LoadBoardState(*where);
        if (!loaded) return loaded.error();
        kept = *loaded;
    }
    return BoardView{kept.switches, kept.follows_prompts, kept.latched};
}

sim::Board* SimulatedBoard() {
    // The sim backend is the only one whose operator side is the simulated board's.
    auto* op = dynamic_cast<sim::SimBoardOperator*>(Operator());
    return op != nullptr ? &op->SimulatedBoard() : nullptr;
}

}  // namespace portio
