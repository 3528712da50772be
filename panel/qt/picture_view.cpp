#include "panel/qt/picture_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace panel::qt {

QImage ToImage(const Picture& picture) {
    if (picture.width < 1 || picture.height < 1) return QImage();
    QImage image(picture.width, picture.height, QImage::Format_Grayscale8);
    if (image.isNull()) return image;
    const auto w = static_cast<std::size_t>(picture.width);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(image.scanLine(y), picture.pixels.data() + static_cast<std::size_t>(y) * w, w);
    }
    return image;
}

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetPicture(const Picture& picture) {
    const bool resized = picture.width != picture_.width || picture.height != picture_.height;
    picture_ = picture;
    image_ = ToImage(picture_);
    clipped_ = QImage();
    if (resized) {
        updateGeometry();
        resize(sizeHint());
    }
    update();
}

void PictureView::SetZoom(int zoom) {
    zoom_ = std::clamp(zoom, 1, 16);
    updateGeometry();
    resize(sizeHint());
    update();
}

QSize PictureView::sizeHint() const {
    return QSize(std::max(1, picture_.width * zoom_), std::max(1, picture_.height * zoom_));
}

bool PictureView::PixelAt(QPoint point, int* x, int* y) const {
    if (point.x() < 0 || point.y() < 0) return false;
    const int px = point.x() / zoom_, py = point.y() / zoom_;
    if (px >= picture_.width || py >= picture_.height) return false;
    *x = px;
    *y = py;
    return true;
}

void PictureView::SetMarks(int x, int y) {
    if (x == mark_x_ && y == mark_y_) return;
    mark_x_ = x;
    mark_y_ = y;
    update();
}

void PictureView::SetClipping(bool on) {
    clipping_ = on;
    update();
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().dark());
    if (image_.isNull()) return;
    // Nearest neighbour: each pixel a zoom x zoom square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect shown(0, 0, image_.width() * zoom_, image_.height() * zoom_);
    painter.drawImage(shown, image_);
    if (clipping_) {
        if (clipped_.isNull()) {
            clipped_ = QImage(image_.size(), QImage::Format_ARGB32);
            clipped_.fill(Qt::transparent);
            for (int y = 0; y < picture_.height; ++y) {
                for (int x = 0; x < picture_.width; ++x) {
                    const int v = picture_.At(x, y);
                    if (v == 0) clipped_.setPixel(x, y, qRgb(40, 90, 255));
                    if (v == 255) clipped_.setPixel(x, y, qRgb(255, 40, 40));
                }
            }
        }
        painter.drawImage(shown, clipped_);
    }
    // The profiles' row and column, through the middle of their pixels.
    painter.setPen(QPen(QColor(255, 200, 0, 200), 1));
    if (mark_y_ >= 0 && mark_y_ < picture_.height) {
        const int y = mark_y_ * zoom_ + zoom_ / 2;
        painter.drawLine(0, y, shown.width() - 1, y);
    }
    if (mark_x_ >= 0 && mark_x_ < picture_.width) {
        const int x = mark_x_ * zoom_ + zoom_ / 2;
        painter.drawLine(x, 0, x, shown.height() - 1);
    }
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    int x = 0, y = 0;
    if (PixelAt(event->position().toPoint(), &x, &y)) {
        if (on_hover) on_hover(x, y, picture_.At(x, y));
    } else if (on_hover) {
        on_hover(-1, -1, 0);
    }
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    int x = 0, y = 0;
    if (event->button() == Qt::LeftButton && PixelAt(event->position().toPoint(), &x, &y)) {
        if (on_click) on_click(x, y);
    }
}

void PictureView::leaveEvent(QEvent*) {
    if (on_hover) on_hover(-1, -1, 0);
}

std::vector<double> AxisTicks(double low, double high, double step) {
    std::vector<double> ticks;
    if (!(high > low)) return {low};
    if (step <= 0) {
        const double raw = (high - low) / 4;
        const double power = std::pow(10.0, std::floor(std::log10(raw)));
        step = power * 10;
        for (double m : {1.0, 2.0, 5.0, 10.0}) {
            if (power * m >= raw) {
                step = power * m;
                break;
            }
        }
    }
    for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step)
        ticks.push_back(t);
    if (ticks.empty() || high - ticks.back() > step / 2) ticks.push_back(high);
    return ticks;
}

QString ShortCount(double v) {
    if (v < 1000) return QString::number(static_cast<long long>(std::lround(v)));
    if (v < 1e6) return QString::number(std::lround(v / 1000)) + QLatin1Char('k');
    return QString::number(v / 1e6, 'f', 1) + QLatin1Char('M');
}

PlotView::PlotView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 110);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    setFont(small);
}

void PlotView::SetValues(std::vector<double> values, double top, bool logarithmic) {
    values_ = std::move(values);
    top_ = top;
    log_ = logarithmic;
    update();
}

void PlotView::SetAxes(double first, double x_step, const QString& x_name, const QString& y_name) {
    first_ = first;
    x_step_ = x_step;
    x_name_ = x_name;
    y_name_ = y_name;
    update();
}

QRect PlotView::PlotArea() const {
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance(QStringLiteral("0000")) + 8;
    const int bottom = fm.height() + 6;
    const int top = fm.height() + 4;  // the axes' names
    return QRect(left, top, std::max(1, width() - left - 8), std::max(1, height() - top - bottom));
}

void PlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QRect area = PlotArea();
    const QFontMetrics fm(font());
    painter.setPen(Qt::lightGray);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const double top = log_ ? std::log1p(top_) : top_;
    const auto n = static_cast<double>(values_.size());
    if (!values_.empty() && top > 0 && line_) {
        const double w = area.width() / n;
        const int h = area.height() - 1;
        QPolygonF points;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const double v = log_ ? std::log1p(std::max(0.0, values_[i])) : values_[i];
            points << QPointF(area.left() + (static_cast<double>(i) + 0.5) * w,
                              area.bottom() - v / top * h);
        }
        painter.setPen(QPen(QColor(40, 70, 140), 1));
        painter.drawPolyline(points);
    } else if (!values_.empty() && top > 0) {
        const double w = area.width() / n;
        const int h = area.height() - 1;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const double v = log_ ? std::log1p(std::max(0.0, values_[i])) : values_[i];
            const int bar = static_cast<int>(std::lround(v / top * h));
            if (bar <= 0) continue;
            const int x0 = area.left() + static_cast<int>(static_cast<double>(i) * w);
            const int x1 = std::max(x0 + 1, area.left() + static_cast<int>((i + 1) * w));
            painter.fillRect(QRect(x0, area.bottom() - bar, x1 - x0, bar), QColor(40, 70, 140));
        }
    }
    painter.setPen(Qt::black);
    // The x scale: value i sits at the middle of its bar.
    if (!values_.empty()) {
        const double last = first_ + n - 1;
        for (double t : AxisTicks(first_, last, x_step_)) {
            const int x = area.left() + static_cast<int>((t - first_ + 0.5) * area.width() / n);
            painter.drawLine(x, area.bottom() + 1, x, area.bottom() + 3);
            const QString label = QString::number(static_cast<long long>(t));
            const int lw = fm.horizontalAdvance(label);
            painter.drawText(std::clamp(x - lw / 2, 0, width() - lw),
                             area.bottom() + 4 + fm.ascent(), label);
        }
    }
    // The y scale: counts (or values) at round steps, or the powers of ten from 1 on the
    // logarithmic one.
    std::vector<double> ys;
    if (log_) {
        for (double p = 1; p <= top_; p *= 10) ys.push_back(p);
    } else if (top_ > 0) {
        ys = AxisTicks(0, top_);
    }
    for (double t : ys) {
        const double v = log_ ? std::log1p(t) : t;
        const int y = area.bottom() -
                      (top > 0 ? static_cast<int>(std::lround(v / top * (area.height() - 1))) : 0);
        painter.drawLine(area.left() - 3, y, area.left() - 1, y);
        const QString label = ShortCount(t);
        painter.drawText(area.left() - 5 - fm.horizontalAdvance(label), y + fm.ascent() / 2, label);
    }
    // The axes' names above the plot: up the left side, along the bottom.
    painter.setPen(Qt::darkGray);
    const int names = area.top() - fm.descent() - 2;
    if (!y_name_.isEmpty())
        painter.drawText(area.left(), names, QStringLiteral("\u2191 ") + y_name_);
    if (!x_name_.isEmpty()) {
        const QString text = x_name_ + QStringLiteral(" \u2192");
        painter.drawText(area.right() - fm.horizontalAdvance(text), names, text);
    }
}

}  // namespace panel::qt
