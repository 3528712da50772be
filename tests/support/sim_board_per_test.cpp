// Built into every test program: a test that opens the simulated board in its own process keeps
// it in a state file of its own, so that tests running side by side never share a board and
// never touch the user's own ($XDG_RUNTIME_DIR/lensbay/sim-board); and the claims of the
// hardware backends' ports (over their fakes) go to a lock folder of the program's own, never to
// the machine's /run/lock, where another test program or a real one would meet them.
#include <sys/stat.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

struct BoardOfThisTest {
    BoardOfThisTest() {
        if (!dir.path().empty()) ::setenv("LENSBAY_SIM_STATE", dir.File("sim-board").c_str(), 1);
        // Open to every user, as /run/lock is, for the programs a test runs as "nobody".
        if (!locks.path().empty() && ::chmod(locks.path().c_str(), 01777) == 0)
            ::setenv("LENSBAY_LOCK_DIR", locks.path().c_str(), 1);
    }
    test_support::TempDir dir{"sim-board"};
    test_support::TempDir locks{"port-locks"};
};

const BoardOfThisTest board_of_this_test;

}  // namespace
