// Dialog units against pixels, from a dialog template's font: one horizontal unit is a quarter
// of the font's average character width, one vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <string>

#define UI_EXPORT __attribute__((visibility("default")))

namespace ui {

struct DialogBaseUnits {
    int x;  // average width of "A".."Z" "a".."z", rounded
    int y;  // the font's height
};

// The template's font at its point size; when the family is not installed, a metric-alike
// sans serif (Liberation Sans, else DejaVu Sans, else the application's sans font).
UI_EXPORT QFont DialogFont(const std::string& family, int pointSize);
UI_EXPORT DialogBaseUnits BaseUnitsOf(const QFont& font);
// The rectangle (x, y) .. (x + cx, y + cy) in pixels, each edge rounded to the nearest pixel.
UI_EXPORT QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy);

}  // namespace ui
