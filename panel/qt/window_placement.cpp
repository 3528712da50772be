#include "panel/qt/window_placement.h"

#include <algorithm>
#include <limits>

namespace panel::qt {
namespace {

// How much of the windows there `r` covers.
long long Covered(const QRect& r, const std::vector<QRect>& taken) {
    long long area = 0;
    for (const QRect& t : taken) {
        const QRect both = r.intersected(t);
        if (!both.isEmpty()) area += static_cast<long long>(both.width()) * both.height();
    }
    return area;
}

// `r` moved as little as it takes to lie on the screen (its top left first where it is larger).
QRect KeptOn(QRect r, const QRect& screen) {
    r.moveLeft(std::max(screen.left(), std::min(r.left(), screen.right() + 1 - r.width())));
    r.moveTop(std::max(screen.top(), std::min(r.top(), screen.bottom() + 1 - r.height())));
    return r;
}

}  // namespace

std::vector<QPoint> PlaceBeside(const QRect& screen, std::vector<QRect> taken,
                                const std::vector<QSize>& sizes) {
    taken.erase(
        std::remove_if(taken.begin(), taken.end(), [](const QRect& r) { return r.isEmpty(); }),
        taken.end());
    std::vector<QPoint> out;
    for (const QSize& size : sizes) {
        std::vector<QPoint> candidates = {screen.topLeft()};
        for (const QRect& t : taken) {
            candidates.emplace_back(t.right() + 1 + kWindowGap, t.top());
            candidates.emplace_back(t.left(), t.bottom() + 1 + kWindowGap);
            candidates.emplace_back(screen.left(), t.bottom() + 1 + kWindowGap);
        }
        std::sort(candidates.begin(), candidates.end(), [](const QPoint& a, const QPoint& b) {
            return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
        });
        QRect best;
        long long least = std::numeric_limits<long long>::max();
        for (const QPoint& at : candidates) {
            const QRect r(at, size);
            if (screen.contains(r) && Covered(r, taken) == 0) {
                best = r;
                least = 0;
                break;
            }
            const QRect kept = KeptOn(r, screen);
            if (const long long c = Covered(kept, taken); c < least) {
                best = kept;
                least = c;
            }
        }
        out.push_back(best.topLeft());
        taken.push_back(best);
    }
    return out;
}

}  // namespace panel::qt
