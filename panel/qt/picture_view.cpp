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

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().dark());
    if (image_.isNull()) return;
    // Nearest neighbour: each pixel a zoom x zoom square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(0, 0, image_.width() * zoom_, image_.height() * zoom_), image_);
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

PlotView::PlotView(QWidget* parent) : QWidget(parent) { setMinimumSize(128, 64); }

void PlotView::SetValues(std::vector<double> values, double top, bool logarithmic) {
    values_ = std::move(values);
    top_ = top;
    log_ = logarithmic;
    update();
}

void PlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::lightGray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (values_.empty()) return;
    const double top = log_ ? std::log1p(top_) : top_;
    if (top <= 0) return;
    const double w = static_cast<double>(width()) / static_cast<double>(values_.size());
    const int h = height() - 2;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const double v = log_ ? std::log1p(std::max(0.0, values_[i])) : values_[i];
        const int bar = static_cast<int>(std::lround(v / top * h));
        if (bar <= 0) continue;
        const int x0 = static_cast<int>(static_cast<double>(i) * w);
        const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<double>(i + 1) * w));
        painter.fillRect(QRect(x0, height() - 1 - bar, x1 - x0, bar), QColor(40, 70, 140));
    }
}

}  // namespace panel::qt
