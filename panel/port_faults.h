// A port fault handler for a library in another program's process (the Python module): a port
// cycle the backend refuses is not run, and instead of ending the process the first such fault is
// noted, so that the operation it spoiled ends with its message as an error.
#pragma once

#include <string>

#include "platform/base/result.h"

namespace panel {

// For OpenSession's `on_fault`: notes the fault (the first one since the last TakePortFault).
void RecordPortFault(const base::Error& fault);
// The noted fault's message, and forgets it; "" when there was none.
std::string TakePortFault();

}  // namespace panel
