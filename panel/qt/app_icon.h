// The icon of Lensbay's windows: a camera lens, drawn in code, 32 x 32 and 16 x 16 in the
// sixteen standard colours.
#pragma once

#include <QIcon>
#include <QImage>

namespace panel::qt {

// One image of the icon at `size` pixels square: colours from the 16 standard ones, the
// surround fully transparent.
QImage LensbayIconImage(int size);
QIcon LensbayIcon();

}  // namespace panel::qt
