#include "panel/session.h"

#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/com/combase.h"
#include "platform/com/guid_text.h"
#include "platform/com/registry.h"
#include "platform/portio/ending.h"

namespace panel {

void ExitOnPortFault(const base::Error& fault) {
    std::fprintf(stderr, "%s\n", fault.message.c_str());
    std::exit(kExitPortRefused);
}

Session::~Session() {
    // A signal that came while no port cycle followed (the console between commands, the last
    // frame's files) ends the process here, with the port still open.
    portio::EndIfPending();
    objects_ = PortObjects{};
    if (com_initialized_) CoUninitialize();
}

base::Result<std::unique_ptr<Session>> OpenSession(const std::string& pinbus_hint,
                                                   portio::FaultHandler on_fault,
                                                   SignalEndings signals) {
    if (signals == SignalEndings::kTakeOver) portio::TakeOverEndingSignals();
    // The port is claimed before the backend opens, so that a port in use is said at once and
    // its holder's board is neither read nor touched.
    base::Result<std::unique_ptr<portio::PortClaim>> claim = portio::ClaimPort();
    if (!claim) return claim.error();
    std::unique_ptr<Session> session(new Session);
    session->claim_ = std::move(claim).value();
    // Read only now that the port is this session's: nobody else writes the record meanwhile.
    session->record_ =
        std::make_unique<KeptBoardRecord>(BoardRecordPath(), program_invocation_short_name);
    portio::SetFaultHandler(std::move(on_fault));
    // Opening the backend first says a refused port plainly before anything else happens.
    if (base::Result<> opened = portio::Initialize(); !opened) return opened.error();
    session->board_ = portio::Operator();
    if (const HRESULT init = CoInitialize(nullptr); FAILED(init)) {
        return base::FailNotRegistered("COM initialisation failed (" + HresultToString(init) + ")");
    }
    session->com_initialized_ = true;
    if (base::Result<> registry = CheckClassRegistry(); !registry) return registry.error();
    base::Result<PortObjects> objects = CreatePortObjects(pinbus_hint);
    if (!objects) return objects.error();
    session->objects_ = std::move(objects).value();
    return session;
}

}  // namespace panel
