// The table of port backends. Each backend registers itself from its own source file with a
// static registrar, so that adding a backend is adding one `<name>_backend.cpp`:
//
//   const portio::BackendRegistrar kRegistrar({.name = "direct", .help = "...", ...});
//
// The service (portio.cpp) opens the backend PORTIO names through the table, the port claim
// (port_claim.cpp) takes its lock from it, and the programs' help lists it. PORTIO holds a name
// alone ("direct"), or, for a backend that takes an argument, the name, a colon and the argument
// ("ppdev:/dev/parport0").
//
// The table is built while the library's static objects are constructed, before any program code
// runs; it is only read after that. Every backend's object file must be linked whole: the library
// is shared (a static archive would let the linker drop a file nothing else refers to, and its
// registrar with it); portio_test lists the table to prove each one is there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "platform/portio/portio.h"

namespace portio {

// What PORTIO holds when it is unset or empty.
inline constexpr char kDefaultBackend[] = "sim";

// The lock through which a port has one user at a time (see port_claim.h).
struct PortLock {
    std::string port;  // as a refusal names it: "0x378", "0x378 (/dev/parport0)"
    std::string path;  // the lock file; "" when only this process can reach the port
};

struct BackendEntry {
    const char* name;      // "direct"
    const char* argument;  // what follows "name:" as help shows it ("/dev/parportN"); null: none
    const char* help;      // what it is, in a few words, for the programs' help
    // Opens the backend with the argument PORTIO gave ("" for a backend that takes none); the
    // message of a failure names the backend, the device and the reason.
    base::Result<std::unique_ptr<Backend>> (*open)(const std::string& argument);
    // The port's lock for a claim, named after the port's base address where the backend reaches
    // a physical port (PortLockPath); fails when the port cannot be told, saying why.
    base::Result<PortLock> (*lock)(const std::string& argument);
};

class PORTIO_EXPORT BackendRegistrar {
public:
    explicit BackendRegistrar(const BackendEntry& entry);
};

// Every registered backend: the default first, then the others by name.
PORTIO_EXPORT std::vector<BackendEntry> RegisteredBackends();

// The entry a PORTIO value names, with its argument in *argument; null when it names none.
PORTIO_EXPORT const BackendEntry* FindBackend(const std::string& choice, std::string* argument);

// "PORTIO=sim (the default when unset), PORTIO=direct or PORTIO=ppdev:/dev/parportN"
PORTIO_EXPORT std::string AcceptedBackends();

// One line per backend, "  sim                   the simulated board (the default)", each
// indented by `indent` spaces, for a program's help.
PORTIO_EXPORT std::string BackendHelp(int indent);

}  // namespace portio
