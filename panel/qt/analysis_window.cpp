#include "panel/qt/analysis_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "panel/qt/app_icon.h"
#include "panel/qt/picture_view.h"

namespace panel::qt {

InspectorWindow::InspectorWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("InspectorWindow"));
    setWindowTitle(QStringLiteral("Lensbay Inspector"));
    setWindowIcon(LensbayIcon());
    setAttribute(Qt::WA_QuitOnClose, false);

    source_ = new QComboBox;
    source_->addItem(QStringLiteral("Monitor picture (image.bmp)"));
    source_->addItem(QStringLiteral("Live picture"));
    auto* reload = new QPushButton(QStringLiteral("&Reload"));
    zoom_ = new QSpinBox;
    zoom_->setRange(1, 16);
    zoom_->setSuffix(QStringLiteral("x"));
    zoom_->setObjectName(QStringLiteral("Zoom"));
    log_ = new QCheckBox(QStringLiteral("&Logarithmic"));
    clipping_ = new QCheckBox(QStringLiteral("&Clipping: 0 blue, 255 red"));
    clipping_->setObjectName(QStringLiteral("Clipping"));
    row_ = new QSpinBox;
    column_ = new QSpinBox;
    row_->setRange(0, 0);
    column_->setRange(0, 0);

    view_ = new PictureView;
    auto* scroll = new QScrollArea;
    scroll->setWidget(view_);
    scroll->setMinimumSize(400, 310);
    stats_ = new QLabel;
    stats_->setObjectName(QStringLiteral("Stats"));
    stats_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pointer_ = new QLabel(QStringLiteral("Pointer: -"));
    pointer_->setObjectName(QStringLiteral("Pointer"));
    histogram_ = new PlotView;
    histogram_->SetAxes(0, 64, QStringLiteral("grey level"), QStringLiteral("pixels"));
    row_profile_ = new PlotView;
    row_profile_->SetAxes(0, 0, QStringLiteral("x"), QStringLiteral("grey level"));
    row_profile_->SetLine(true);
    column_profile_ = new PlotView;
    column_profile_->SetAxes(0, 0, QStringLiteral("y"), QStringLiteral("grey level"));
    column_profile_->SetLine(true);

    auto* top = new QHBoxLayout;
    top->addWidget(source_);
    top->addWidget(reload);
    top->addStretch();
    top->addWidget(new QLabel(QStringLiteral("Zoom")));
    top->addWidget(zoom_);

    auto* side = new QFormLayout;
    side->addRow(stats_);
    side->addRow(pointer_);
    side->addRow(clipping_);
    side->addRow(QStringLiteral("Histogram"), log_);
    side->addRow(histogram_);
    side->addRow(QStringLiteral("Row profile, y ="), row_);
    side->addRow(row_profile_);
    side->addRow(QStringLiteral("Column profile, x ="), column_);
    side->addRow(column_profile_);

    auto* body = new QHBoxLayout;
    body->addWidget(scroll, 1);
    auto* panel = new QWidget;
    panel->setLayout(side);
    panel->setFixedWidth(300);
    body->addWidget(panel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(body, 1);

    connect(reload, &QPushButton::clicked, this, [this] {
        if (CurrentSource() == kMonitorPicture) LoadMonitorPicture();
    });
    connect(source_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index == kMonitorPicture) LoadMonitorPicture();
    });
    connect(zoom_, &QSpinBox::valueChanged, this, [this](int z) { view_->SetZoom(z); });
    connect(log_, &QCheckBox::toggled, this, [this] { UpdateHistogram(); });
    connect(clipping_, &QCheckBox::toggled, this, [this](bool on) { view_->SetClipping(on); });
    connect(row_, &QSpinBox::valueChanged, this, [this] { UpdateProfiles(); });
    connect(column_, &QSpinBox::valueChanged, this, [this] { UpdateProfiles(); });
    view_->on_hover = [this](int x, int y, int value) { Hover(x, y, value); };
    view_->on_click = [this](int x, int y) {
        column_->setValue(x);
        row_->setValue(y);
    };
    Show(Picture{});
}

bool InspectorWindow::LoadMonitorPicture(const std::string& path) {
    base::Result<Picture> p = ReadBitmapPicture(path);
    if (!p.ok()) {
        Show(Picture{});
        stats_->setText(QString::fromStdString(p.message()));
        return false;
    }
    Show(*p);
    return true;
}

void InspectorWindow::LiveFrame(const Picture& picture) {
    if (CurrentSource() == kLivePicture) Show(picture);
}

void InspectorWindow::SetSource(Source source) { source_->setCurrentIndex(source); }

InspectorWindow::Source InspectorWindow::CurrentSource() const {
    return source_->currentIndex() == kLivePicture ? kLivePicture : kMonitorPicture;
}

void InspectorWindow::SetZoom(int zoom) { zoom_->setValue(zoom); }
void InspectorWindow::SetLogarithmic(bool on) { log_->setChecked(on); }
void InspectorWindow::SetProfileRow(int y) { row_->setValue(y); }
void InspectorWindow::SetProfileColumn(int x) { column_->setValue(x); }

QString InspectorWindow::StatsText() const { return stats_->text(); }
QString InspectorWindow::PointerText() const { return pointer_->text(); }

void InspectorWindow::SetClipping(bool on) { clipping_->setChecked(on); }

void InspectorWindow::Show(const Picture& picture) {
    const bool resized =
        picture.width != view_->Shown().width || picture.height != view_->Shown().height;
    view_->SetPicture(picture);
    stats_values_ = ComputeStats(picture);
    const PictureStats& s = stats_values_;
    {
        // The profiles follow once, when both are set.
        const QSignalBlocker row_block(row_), column_block(column_);
        row_->setRange(0, std::max(0, picture.height - 1));
        column_->setRange(0, std::max(0, picture.width - 1));
        // A new size of picture starts its profiles at its centre (its edges are the sensor's
        // dark border).
        if (resized) {
            row_->setValue(picture.height / 2);
            column_->setValue(picture.width / 2);
        }
    }
    if (picture.pixels.empty()) {
        stats_->setText(QStringLiteral("No picture"));
    } else {
        stats_->setText(QStringLiteral("%1 x %2 pixels\nMin %3   Max %4\nMean %5   Std dev %6\n"
                                       "At 0: %7   At 255: %8")
                            .arg(s.width)
                            .arg(s.height)
                            .arg(s.min)
                            .arg(s.max)
                            .arg(QString::fromStdString(TwoDecimals(s.mean)))
                            .arg(QString::fromStdString(TwoDecimals(s.stddev)))
                            .arg(s.zeros)
                            .arg(s.saturated));
    }
    UpdateHistogram();
    UpdateProfiles();
}

void InspectorWindow::Hover(int x, int y, int value) {
    pointer_->setText(x < 0 ? QStringLiteral("Pointer: -")
                            : QStringLiteral("Pointer: x %1, y %2: %3").arg(x).arg(y).arg(value));
}

void InspectorWindow::UpdateHistogram() {
    std::vector<double> values(stats_values_.histogram.begin(), stats_values_.histogram.end());
    const double top = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    histogram_->SetValues(std::move(values), top, log_->isChecked());
}

void InspectorWindow::UpdateProfiles() {
    const Picture& p = view_->Shown();
    auto plot = [](PlotView* view, const std::vector<std::uint8_t>& values) {
        view->SetValues(std::vector<double>(values.begin(), values.end()), 255, false);
    };
    plot(row_profile_, panel::RowProfile(p, row_->value()));
    plot(column_profile_, panel::ColumnProfile(p, column_->value()));
    view_->SetMarks(p.pixels.empty() ? -1 : column_->value(),
                    p.pixels.empty() ? -1 : row_->value());
}

}  // namespace panel::qt
