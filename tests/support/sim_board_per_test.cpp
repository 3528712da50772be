// Built into every test program: a test that opens the simulated board in its own process keeps
// it in a state file of its own, so that tests running side by side never share a board and
// never touch the user's own ($XDG_RUNTIME_DIR/lensbay/sim-board).
#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

struct BoardOfThisTest {
    BoardOfThisTest() {
        if (!dir.path().empty()) ::setenv("LENSBAY_SIM_STATE", dir.File("sim-board").c_str(), 1);
    }
    test_support::TempDir dir{"sim-board"};
};

const BoardOfThisTest board_of_this_test;

}  // namespace
