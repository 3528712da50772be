// The simulated board as a backend of the port I/O service. Only the service (which opens it for
// PORTIO=sim) and tests reach it by name; front ends see its operator side through
// portio::Operator().
#pragma once

#include <memory>
#include <string>

#include "platform/portio/portio.h"

namespace sim {
class Board;
}

namespace portio {

// The simulated board at base 0x378. A word cycle reaches the board as two byte cycles, the low
// byte at the port and the high byte at the port + 1, as the ISA bus splits it.
// A fresh board, kept by nothing.
PORTIO_EXPORT std::unique_ptr<Backend> OpenSim();
// The board kept in the state file `state_path` (see sim/board_state_file.h; "" a fresh board):
// read when it opens, written back after each change and when it closes.
PORTIO_EXPORT base::Result<std::unique_ptr<Backend>> OpenSim(const std::string& state_path);
// The board kept where the environment says (sim::StateFilePath); with LENSBAY_SIM_STATE set to
// nothing, a fresh board, said once on standard error.
PORTIO_EXPORT base::Result<std::unique_ptr<Backend>> OpenSimFromEnvironment();
// PowerCycleSimState (portio.h) is defined with the sim backend.

// The simulated board when the service runs the sim backend, else null. Opens the service if it
// is not open yet (without exiting when that fails).
PORTIO_EXPORT sim::Board* SimulatedBoard();

}  // namespace portio
