#include "platform/ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <cmath>

namespace ui {

QFont DialogFont(const std::string& family, int pointSize) {
    const QStringList installed = QFontDatabase::families();
    QString chosen = QString::fromStdString(family);
    if (chosen.isEmpty() || !installed.contains(chosen, Qt::CaseInsensitive)) {
        chosen.clear();
        for (const char* alike : {"Liberation Sans", "DejaVu Sans"}) {
            if (installed.contains(QString::fromLatin1(alike), Qt::CaseInsensitive)) {
                chosen = QString::fromLatin1(alike);
                break;
            }
        }
    }
    QFont font;
    if (!chosen.isEmpty()) {
        font.setFamily(chosen);
    } else {
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPointSize(pointSize > 0 ? pointSize : 8);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width + 26) / 52, metrics.height()};
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
    auto map = [](int du, int base, int divisor) {
        return static_cast<int>(std::lround(static_cast<double>(du) * base / divisor));
    };
    // Both edges are mapped, as the window system maps a rectangle, so adjacent items still meet.
    const int left = map(x, units.x, 4);
    const int top = map(y, units.y, 8);
    return QRect(left, top, map(x + cx, units.x, 4) - left, map(y + cy, units.y, 8) - top);
}

}  // namespace ui
