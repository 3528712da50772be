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
    // Marks row y and column x (the profiles' row and column) with thin lines; -1 for none.
    void SetMarks(int x, int y);
    QPoint Marks() const { return QPoint(mark_x_, mark_y_); }
    // Shows pixels at 0 in blue and at 255 in red over the picture.
    void SetClipping(bool on);
    bool Clipping() const { return clipping_; }
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
    QImage clipped_;  // the overlay: the clipped pixels coloured, the rest transparent
    int zoom_ = 1;
    int mark_x_ = -1, mark_y_ = -1;
    bool clipping_ = false;
};

// The ticks of an axis from `low` to `high`: multiples of `step` (0: a round step giving at most
// five ticks), and `high` itself when it is no multiple and not close to the last one.
std::vector<double> AxisTicks(double low, double high, double step = 0);
// A count for an axis label: "950", "12k", "1.1M".
QString ShortCount(double v);

// Bars of values from left to right, scaled to the plot area, with a scale on each axis: value i
// at x = first + i along the bottom, counts (or values) up the left side, logarithmic on request.
class PlotView : public QWidget {
public:
    explicit PlotView(QWidget* parent = nullptr);
    void SetValues(std::vector<double> values, double top, bool logarithmic);
    // The x of the first value, the step between x ticks (0: chosen), and the axes' names.
    void SetAxes(double first, double x_step, const QString& x_name, const QString& y_name);
    // A line through the values instead of bars (for profiles).
    void SetLine(bool on) { line_ = on; }
    const std::vector<double>& Values() const { return values_; }
    bool Logarithmic() const { return log_; }
    // The area the bars are drawn in, inside the scales.
    QRect PlotArea() const;
    QSize sizeHint() const override { return QSize(280, 120); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> values_;
    double top_ = 1;
    bool log_ = false;
    double first_ = 0, x_step_ = 0;
    QString x_name_, y_name_;
    bool line_ = false;
};

}  // namespace panel::qt
