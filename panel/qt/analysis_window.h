// The inspector: a picture (the monitor's "image.bmp" or the live view's) with its histogram
// (linear or logarithmic), statistics, the value under the pointer, whole-factor zoom, the
// profiles of a chosen row and column (marked on the picture; a new picture's start at its
// centre), each plot with its scales, and an overlay of the clipped pixels on request.
#pragma once

#include <QWidget>

#include "panel/picture.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace panel::qt {

class PictureView;
class PlotView;

class InspectorWindow : public QWidget {
public:
    enum Source { kMonitorPicture = 0, kLivePicture = 1 };

    explicit InspectorWindow(QWidget* parent = nullptr);

    // Reads "image.bmp" afresh (the monitor's picture); false with the reason shown.
    bool LoadMonitorPicture(const std::string& path = "image.bmp");
    // A live frame: shown when the live picture is the chosen source.
    void LiveFrame(const Picture& picture);
    void SetSource(Source source);
    Source CurrentSource() const;

    void SetZoom(int zoom);
    void SetLogarithmic(bool on);
    void SetProfileRow(int y);
    void SetProfileColumn(int x);
    void SetClipping(bool on);

    PictureView* View() const { return view_; }
    PlotView* Histogram() const { return histogram_; }
    PlotView* RowProfile() const { return row_profile_; }
    PlotView* ColumnProfile() const { return column_profile_; }
    QString StatsText() const;
    QString PointerText() const;

private:
    void Show(const Picture& picture);
    void Hover(int x, int y, int value);
    void UpdateHistogram();
    void UpdateProfiles();

    QComboBox* source_;
    QLabel* stats_;
    QLabel* pointer_;
    QCheckBox* log_;
    QCheckBox* clipping_;
    QSpinBox* zoom_;
    QSpinBox* row_;
    QSpinBox* column_;
    PictureView* view_;
    PlotView* histogram_;
    PlotView* row_profile_;
    PlotView* column_profile_;
    PictureStats stats_values_;
};

}  // namespace panel::qt
