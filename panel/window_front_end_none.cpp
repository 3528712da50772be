// A build without Qt has no windowed front end.
#include "panel/window_front_end.h"

namespace panel {

std::unique_ptr<WindowFrontEnd> MakeWindowFrontEnd() { return nullptr; }

}  // namespace panel
