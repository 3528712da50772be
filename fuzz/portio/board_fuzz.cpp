// Drives the simulated board with arbitrary port traffic and switch moves: no access may read
// outside the frame, and the lines must read back what the PC drives whenever it drives them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/portio/sim/board.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Board board;
    std::uint8_t driven = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const std::uint8_t op = data[i], value = data[i + 1];
        switch (op % 6) {
            case 0:
                board.Write(sim::kDataPort, value);
                driven = value;
                break;
            case 1:
                board.Write(sim::kControlPort, value);
                break;
            case 2:
                board.Write(sim::kEcrPort, value);
                break;
            case 3:
                board.SetSwitches(value);
                break;
            case 4: {
                const std::uint8_t read = board.Read(sim::kDataPort);
                if (!(board.Control() & 0x20) && read != driven) std::abort();
                break;
            }
            default:
                // A burst of pixel handshakes, as a frame read makes them.
                for (int n = 0; n < value * 8; ++n) {
                    board.Write(sim::kControlPort, 0x2A);
                    board.Write(sim::kControlPort, 0x2B);
                    (void)board.Read(sim::kDataPort);
                }
                break;
        }
    }
    return 0;
}
