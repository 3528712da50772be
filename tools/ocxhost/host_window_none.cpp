// ocxhost's window in a build without the GUI: there is none.
#include "tools/ocxhost/host_window.h"

namespace ocxhost {

std::unique_ptr<HostWindow> HostWindow::Create(int, int) { return nullptr; }

}  // namespace ocxhost
