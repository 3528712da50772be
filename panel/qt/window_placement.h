// Where the windows that open beside the main window go: never over the main window nor the
// board's window, each whole on the screen where it fits, the ones placed first nearest the top
// left.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

namespace panel::qt {

// The gap between two windows side by side.
inline constexpr int kWindowGap = 8;

// Places windows of `sizes` (frames included), in that order, on `screen` beside the rectangles
// of `taken` (the main window's frame, the board window's) and beside each other: the first
// position, top to bottom and then left to right, right of or below a window already there, where
// the new window lies wholly on the screen and covers none. Where none is free, the window goes
// where it covers least of the windows already there, kept on the screen. Gives their top-left
// corners.
std::vector<QPoint> PlaceBeside(const QRect& screen, std::vector<QRect> taken,
                                const std::vector<QSize>& sizes);

}  // namespace panel::qt
