// ocxhost's window in a GUI build: a plain widget, through the handles platform/ui gives widgets;
// and pictures drawn through a painter's device context.
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QWidget>

#include "platform/ui/window_handles.h"
#include "tools/ocxhost/host_window.h"

namespace ocxhost {
namespace {

class QtHostWindow : public HostWindow {
public:
    QtHostWindow(int width, int height) {
        widget_.setObjectName(QStringLiteral("ocxhost"));
        widget_.setWindowTitle(QStringLiteral("ocxhost"));
        widget_.resize(width, height);
        widget_.show();
    }
    HWND Handle() const override { return ui::HandleOfWidget(const_cast<QWidget*>(&widget_)); }
    void ProcessEvents() override { QCoreApplication::processEvents(); }

private:
    QWidget widget_;
};

}  // namespace

std::unique_ptr<HostWindow> HostWindow::Create(int width, int height) {
    // The window (and the object's) stays open between commands: the application must too.
    if (!ui::KeepApplication()) return nullptr;
    return std::make_unique<QtHostWindow>(width, height);
}

HRESULT HostWindow::DrawToFile(IViewObject* view, int width, int height, const std::string& path,
                               std::string* why) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    HRESULT hr = S_OK;
    {
        QPainter painter(&image);
        ui::DeviceContext dc(&painter);
        const RECTL bounds{0, 0, width, height};
        hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.handle(), &bounds,
                        nullptr, nullptr, 0);
    }
    if (FAILED(hr)) return hr;
    QImageWriter writer(QString::fromStdString(path), "png");
    if (!writer.write(image)) {
        *why = path + ": " + writer.errorString().toStdString();
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace ocxhost
