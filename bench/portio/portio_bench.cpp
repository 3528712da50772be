// The cost of one port cycle through the service on the simulated board (the baseline the
// port object's Invoke is measured against), and of a whole frame's port traffic.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/portio/backends.h"
#include "platform/portio/portio.h"
#include "platform/portio/sim/board.h"
#include "platform/portio/sim/scene.h"
#include "platform/portio/sim/sim_backend.h"

namespace {

constexpr int kFullFrameBytes = 385 * 288;

void UseSimulatedBoard() {
    portio::InstallBackendForTesting(portio::OpenSim());
    portio::Out8(0x77A, 0x20);
    portio::Out8(0x37A, 0x20);
    portio::Out8(0x37A, 0x27);
}

void BM_Out8(benchmark::State& state) {
    UseSimulatedBoard();
    std::uint8_t v = 0x2A;
    for (auto _ : state) {
        portio::Out8(0x37A, v);
        v ^= 1;
    }
}
BENCHMARK(BM_Out8);

void BM_In8(benchmark::State& state) {
    UseSimulatedBoard();
    for (auto _ : state) benchmark::DoNotOptimize(portio::In8(0x378));
}
BENCHMARK(BM_In8);

// One full frame as the panel reads it: set-up, 110,880 x (read, 0x2A, 0x2B), end.
void BM_FrameThroughService(benchmark::State& state) {
    UseSimulatedBoard();
    std::vector<std::uint8_t> raw(kFullFrameBytes);
    for (auto _ : state) {
        portio::Out8(0x37A, 0x27);
        portio::Out8(0x37A, 0x2F);
        portio::Out8(0x37A, 0x2B);
        for (int i = 0; i < kFullFrameBytes; ++i) {
            raw[i] = portio::In8(0x378);
            portio::Out8(0x37A, 0x2A);
            portio::Out8(0x37A, 0x2B);
        }
        portio::Out8(0x37A, 0x27);
        benchmark::DoNotOptimize(raw.data());
    }
    state.SetItemsProcessed(state.iterations() * kFullFrameBytes);
}
BENCHMARK(BM_FrameThroughService)->Unit(benchmark::kMicrosecond);

// The same traffic on the board alone: the board's own time per frame, scene included.
void BM_FrameOnBoard(benchmark::State& state) {
    sim::Board board;
    board.Write(sim::kControlPort, 0x20);
    std::vector<std::uint8_t> raw(kFullFrameBytes);
    for (auto _ : state) {
        board.Write(sim::kControlPort, 0x27);
        board.Write(sim::kControlPort, 0x2F);
        board.Write(sim::kControlPort, 0x2B);
        for (int i = 0; i < kFullFrameBytes; ++i) {
            raw[i] = board.Read(sim::kDataPort);
            board.Write(sim::kControlPort, 0x2A);
            board.Write(sim::kControlPort, 0x2B);
        }
        board.Write(sim::kControlPort, 0x27);
        benchmark::DoNotOptimize(raw.data());
    }
    state.SetItemsProcessed(state.iterations() * kFullFrameBytes);
}
BENCHMARK(BM_FrameOnBoard)->Unit(benchmark::kMicrosecond);

void BM_RenderScene(benchmark::State& state) {
    std::vector<std::uint8_t> image(sim::kSensorWidth * sim::kSensorHeight);
    sim::SceneSettings settings;
    settings.mctl = static_cast<std::uint8_t>(state.range(0));
    std::uint64_t time = 0;
    for (auto _ : state) {
        sim::RenderScene(settings, time++, image.data());
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_RenderScene)->Arg(0x00)->Arg(0xF0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
