// A build without windows: the board has none to open.
#include "platform/portio/sim/board_operator.h"

namespace sim {

std::unique_ptr<portio::BoardOperator::Window> SimBoardOperator::OpenWindow(int, int) {
    return nullptr;
}

}  // namespace sim
