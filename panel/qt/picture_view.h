// Widgets the workbench windows share: a picture zoomed by whole factors (nearest neighbour)
// that reports the pixel under the pointer, and a plot of 8-bit values (histogram, profile).
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "panel/picture.h"

namespace panel::qt {

// The picture as an 8-bit grey image (a deep copy).
QImage ToImage(const Picture& picture);

class PictureView : public QWidget {
public:
    explicit PictureView(QWidget* parent = nullptr);
    void SetPicture(const Picture& picture);
    const Picture& Shown() const { return picture_; }
    // 1..16; other values are brought into that range.
    void SetZoom(int zoom);
    int Zoom() const { return zoom_; }
    // The picture's pixel at a point of the widget; false outside the picture.
    bool PixelAt(QPoint point, int* x, int* y) const;
    QSize sizeHint() const override;

    // The pointer is over pixel (x, y) holding value; x = -1 when it left the picture.
    std::function<void(int x, int y, int value)> on_hover;
    // A left click on pixel (x, y).
    std::function<void(int x, int y)> on_click;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Picture picture_;
    QImage image_;
    int zoom_ = 1;
};

// Bars of values from left to right, scaled to the widget; logarithmic on request.
class PlotView : public QWidget {
public:
    explicit PlotView(QWidget* parent = nullptr);
    void SetValues(std::vector<double> values, double top, bool logarithmic);
    const std::vector<double>& Values() const { return values_; }
    bool Logarithmic() const { return log_; }
    QSize sizeHint() const override { return QSize(256, 100); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> values_;
    double top_ = 1;
    bool log_ = false;
};

}  // namespace panel::qt
