// SX540_Monitor: shows "image.bmp" as its background picture, at the picture's own size from
// the top-left corner, in a client area sized from the bitmap header (twips / 15 pixels).
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "panel/user_interface.h"

namespace panel::qt {

// The window itself; created afresh by each capture, destroyed when closed.
class MonitorWidget : public QWidget {
public:
    MonitorWidget();
    void SetPicture(QImage picture);
    const QImage& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

class QtMonitorWindow : public MonitorWindow {
public:
    QtMonitorWindow() = default;
    ~QtMonitorWindow() override;
    QtMonitorWindow(const QtMonitorWindow&) = delete;
    QtMonitorWindow& operator=(const QtMonitorWindow&) = delete;

    void Close() override;
    // The sizes are of the client area: the picture is never cut by the frame.
    void SetHeightTwips(int twips) override;
    void SetWidthTwips(int twips) override;
    bool LoadPicture(const std::string& path) override;
    void Show() override;

    // The open window, or null when it is closed (by Close or by the user).
    MonitorWidget* Widget() const { return widget_; }

private:
    MonitorWidget* Ensure();
    QPointer<MonitorWidget> widget_;
};

}  // namespace panel::qt
