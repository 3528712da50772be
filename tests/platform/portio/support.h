// What the port service's tests share: the opening calls in the shape the cases are written in
// (true or a backend, else the message in *error), and the fault handling of the programs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/portio/backends.h"
#include "platform/portio/portio.h"

namespace portio {

inline bool Initialize(std::string* error) {
    const base::Result<> opened = Initialize();
    if (!opened && error != nullptr) *error = opened.message();
    return opened.ok();
}

inline std::unique_ptr<Backend> Opened(base::Result<std::unique_ptr<Backend>> opened,
                                       std::string* error) {
    if (!opened) {
        *error = opened.message();
        return nullptr;
    }
    return std::move(*opened);
}

inline std::unique_ptr<Backend> OpenDirect(const DirectSyscalls& sys, std::string* error) {
    return Opened(OpenDirect(sys), error);
}

inline std::unique_ptr<Backend> OpenPpdev(const std::string& device, bool exclusive,
                                          const PpdevSyscalls& sys, std::string* error) {
    return Opened(OpenPpdev(device, exclusive, sys), error);
}

}  // namespace portio

namespace portio_test {

// What lensbay does with a port fault: the message on standard error, exit status 3.
[[noreturn]] inline void ExitOnFault(const base::Error& fault) {
    std::fprintf(stderr, "%s\n", fault.message.c_str());
    std::exit(3);
}

}  // namespace portio_test
