// `lensbay status` (what was written to the chip) and `lensbay power-cycle` (the simulated board
// off and on): neither runs a port cycle.
#include <cstdio>
#include <memory>
#include <string>

#include "panel/board_record.h"
#include "panel/chip_status.h"
#include "panel/cli/task.h"
#include "platform/base/shown.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/port_claim.h"
#include "platform/portio/portio.h"

namespace panel::cli {
namespace {

// Only the simulated board has registers that can be looked at; a real port is not opened at all.
bool Simulated() { return portio::ChosenBackend() == "sim"; }

}  // namespace

int RunStatus(const Arguments& a, const Context&) {
    base::Result<ChipStatus> status = ReadChipStatus();
    if (!status) {
        std::fprintf(stderr, "lensbay status: %s\n", status.message().c_str());
        return ExitStatusFor(status.error());
    }
    // A damaged board state and a damaged record are said alike: on standard error, in the
    // table or the JSON, and with the same exit status.
    for (const std::string* said : {&status->board_problem, &status->record_problem})
        if (!said->empty()) std::fprintf(stderr, "lensbay status: %s\n", said->c_str());
    const std::string text = a.json ? FormatStatusJson(*status) : FormatStatusText(*status);
    std::fputs(text.c_str(), stdout);
    return status->record_problem.empty() && status->board_problem.empty() ? kExitOk : kExitFailed;
}

int RunPowerCycle(const Arguments&, const Context&) {
    if (!Simulated()) {
        std::fprintf(stderr,
                     "lensbay power-cycle: only the simulated board can be turned off and on "
                     "from here (PORTIO=%s)\n",
                     portio::ChosenBackend().c_str());
        return kExitFailed;
    }
    // Not under a program that holds the board: it would write its own state back over this.
    const base::Result<std::unique_ptr<portio::PortClaim>> claim = portio::ClaimPort();
    if (!claim) {
        std::fprintf(stderr, "lensbay power-cycle: %s\n", claim.message().c_str());
        return ExitStatusFor(claim.error());
    }
    const base::Result<std::string> path = portio::PowerCycleSimState();
    if (!path) {
        std::fprintf(stderr, "lensbay power-cycle: %s\n", path.message().c_str());
        return ExitStatusFor(path.error());
    }
    if (path->empty()) {
        std::fputs(
            "lensbay power-cycle: LENSBAY_SIM_STATE is set to nothing, so each program's "
            "simulated board is fresh already\n",
            stderr);
        return kExitOk;
    }
    // Nothing is written to a chip just powered on.
    if (const std::string record = BoardRecordPath(); !record.empty()) {
        if (base::Result<> saved = SaveBoardRecord(record, RegisterRecord{}); !saved) {
            std::fprintf(stderr, "lensbay power-cycle: %s\n", saved.message().c_str());
            return ExitStatusFor(saved.error());
        }
    }
    return kExitOk;
}

}  // namespace panel::cli
