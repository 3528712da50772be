#include "panel/qt/monitor_window.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "panel/qt/app_icon.h"
#include "platform/base/files.h"
#include "platform/ui/twips.h"

namespace panel::qt {
namespace {

// A window needs at least one pixel and cannot exceed the window system's largest size; a
// header with a negative or absurd size must not break the window.
int ClientPixels(int twips) { return std::clamp(ui::TwipsToPixels(twips), 1, QWIDGETSIZE_MAX); }

}  // namespace

MonitorWidget::MonitorWidget() {
    setObjectName(QStringLiteral("SX540_Monitor"));
    setWindowTitle(QStringLiteral("SX540 Monitor"));
    setWindowIcon(LensbayIcon());
    setAttribute(Qt::WA_DeleteOnClose);       // closing unloads it
    setAttribute(Qt::WA_QuitOnClose, false);  // only the main window ends the program
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(ui::TwipsToPixels(4680), ui::TwipsToPixels(3195));  // design size
}

void MonitorWidget::SetPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void MonitorWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    // At its own size from the top-left corner: never scaled, cut off at the client edge.
    if (!picture_.isNull()) painter.drawImage(QPoint(0, 0), picture_);
}

QtMonitorWindow::~QtMonitorWindow() { delete widget_.data(); }

MonitorWidget* QtMonitorWindow::Ensure() {
    if (widget_.isNull()) widget_ = new MonitorWidget;
    return widget_;
}

void QtMonitorWindow::Close() {
    if (widget_.isNull()) return;
    MonitorWidget* old = widget_;
    widget_ = nullptr;
    old->hide();
    old->deleteLater();  // it may be inside one of its own events
}

void QtMonitorWindow::SetHeightTwips(int twips) {
    MonitorWidget* w = Ensure();
    w->resize(w->width(), ClientPixels(twips));
}

void QtMonitorWindow::SetWidthTwips(int twips) {
    MonitorWidget* w = Ensure();
    w->resize(ClientPixels(twips), w->height());
}

bool QtMonitorWindow::LoadPicture(const std::string& path) {
    MonitorWidget* w = Ensure();
    QImage picture;
    // Held in memory from here on: later changes to the file do not alter the window. Read
    // without blocking: a FIFO or device in the file's place is no picture.
    const base::Result<std::string> bytes = base::ReadRegularFile(path);
    if (!bytes || !picture.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                        static_cast<int>(bytes->size()))) {
        w->SetPicture(QImage());
        return false;
    }
    w->SetPicture(std::move(picture));
    return true;
}

void QtMonitorWindow::Show() {
    MonitorWidget* w = Ensure();
    w->show();
    w->raise();
}

}  // namespace panel::qt
