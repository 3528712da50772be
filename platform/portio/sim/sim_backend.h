// The simulated board as a backend of the port I/O service. Only the service (which opens it for
// PORTIO=sim) and tests reach it by name; front ends see its operator side through
// portio::Operator().
#pragma once

#include <memory>

#include "platform/portio/portio.h"

namespace sim {
class Board;
}

namespace portio {

// The simulated board at base 0x378. A word cycle reaches the board as two byte cycles, the low
// byte at the port and the high byte at the port + 1, as the ISA bus splits it.
PORTIO_EXPORT std::unique_ptr<Backend> OpenSim();

// The simulated board when the service runs the sim backend, else null. Opens the service if it
// is not open yet (without exiting when that fails).
PORTIO_EXPORT sim::Board* SimulatedBoard();

}  // namespace portio
