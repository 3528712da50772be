// ocxhost's window in a build without the GUI: there is none.
#include "tools/ocxhost/host_window.h"

namespace ocxhost {

std::unique_ptr<HostWindow> HostWindow::Create(int, int) { return nullptr; }

HRESULT HostWindow::DrawToFile(IViewObject*, int, int, const std::string&, std::string* why) {
    *why = "no pictures without the GUI";
    return E_NOTIMPL;
}

}  // namespace ocxhost
