// The control UI of a GUI build: dialogs through platform/ui; windows and device contexts are the
// widgets and painters platform/ui's handles name; pictures are QImages drawn with a QPainter.
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QThread>
#include <QWidget>
#include <algorithm>

#include "platform/ctl/control_ui.h"
#include "platform/ctl/picture.h"
#include "platform/ui/window_handles.h"

namespace ctl {
namespace {

QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, std::max<LONG>(r.right - r.left, 0),
                 std::max<LONG>(r.bottom - r.top, 0));
}

class QtPicture : public Picture {
public:
    explicit QtPicture(QImage image) : image_(std::move(image)) {}
    LONG Width() const override { return image_.width(); }
    LONG Height() const override { return image_.height(); }
    // A painter's target has no window bounds of its own.
    void Render(CDC* dc, const RECT& target, const RECT&) override {
        QPainter* painter = dc ? ui::PainterOfHandle(dc->GetSafeHdc()) : nullptr;
        if (painter) painter->drawImage(ToQRect(target), image_);
    }

private:
    QImage image_;
};

// A control's own window: everything it shows is what the control paints.
class ControlWidget : public QWidget {
public:
    ControlWidget(QWidget* parent, PaintHandler paint) : QWidget(parent), paint_(std::move(paint)) {
        setObjectName(QStringLiteral("control"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ui::DeviceContext dc(&painter);
        CDC cdc(dc.handle());
        paint_(&cdc, RECT{0, 0, width(), height()});
    }

private:
    PaintHandler paint_;
};

class QtWindow : public Window {
public:
    explicit QtWindow(QWidget* widget) : widget_(widget), handle_(ui::HandleOfWidget(widget)) {}
    ~QtWindow() override { delete widget_.data(); }
    HWND Handle() const override { return widget_ ? handle_ : nullptr; }
    void Move(const RECT& rect) override {
        if (!widget_) return;
        const QRect r = ToQRect(rect);
        widget_->setGeometry(r);
    }
    void Show(bool visible) override {
        if (widget_) widget_->setVisible(visible);
    }

private:
    QPointer<QWidget> widget_;
    HWND handle_;
};

// The widget `parent` names, on this thread; the error when there is none to use.
HRESULT ParentWidget(HWND parent, QWidget** widget) {
    *widget = ui::WidgetOfHandle(parent);
    if (*widget == nullptr) return OLE_E_INVALIDHWND;
    if ((*widget)->thread() != QThread::currentThread()) return E_UNEXPECTED;
    return S_OK;
}

class QtControlUi : public ControlUi {
public:
    bool HaveDialogs() const override { return true; }
    int RunModalDialog(const DialogTemplate& dialog, const ui::IconLookup& icons) override {
        return ui::RunModalDialog(dialog, icons);
    }
    HRESULT CreateControlWindow(HWND parent, const RECT& rect, PaintHandler paint,
                                std::unique_ptr<Window>* window) override {
        QWidget* host = nullptr;
        if (HRESULT hr = ParentWidget(parent, &host); FAILED(hr)) return hr;
        auto* widget = new ControlWidget(host, std::move(paint));
        widget->setGeometry(ToQRect(rect));
        widget->show();
        *window = std::make_unique<QtWindow>(widget);
        return S_OK;
    }
    HRESULT CreateChildDialog(HWND parent, const RECT& rect, const DialogTemplate& dialog,
                              const ui::IconLookup& icons,
                              std::unique_ptr<Window>* window) override {
        QWidget* host = nullptr;
        if (HRESULT hr = ParentWidget(parent, &host); FAILED(hr)) return hr;
        QWidget* page = ui::CreateChildDialog(host, dialog, icons);
        // At the rectangle's place and of its size, as the frame gives it: a page area larger
        // than the template holds the template's items where the template puts them, with the
        // page's background around them, never a page cut to the template's size.
        const QRect placed = ToQRect(rect);
        page->setMinimumSize(0, 0);
        page->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        if (placed.width() > 0 && placed.height() > 0)
            page->setGeometry(placed);
        else
            page->move(placed.topLeft());  // no size given: the template's
        *window = std::make_unique<QtWindow>(page);
        return S_OK;
    }
    SIZE DialogSize(const DialogTemplate& dialog) override {
        int width = 0, height = 0;
        if (!ui::DialogSizeInPixels(dialog, &width, &height)) return StandardDialogSize(dialog);
        return SIZE{width, height};
    }
    std::unique_ptr<Picture> DecodeBitmap(const std::string& bmpFile) override {
        QImage image;
        if (bmpFile.empty() || !image.loadFromData(reinterpret_cast<const uchar*>(bmpFile.data()),
                                                   static_cast<int>(bmpFile.size()), "BMP"))
            return nullptr;
        return std::make_unique<QtPicture>(std::move(image));
    }
    HRESULT DrawOn(HDC hdc, const std::function<void()>& draw) override {
        QPainter* painter = ui::PainterOfHandle(hdc);
        if (painter == nullptr || !painter->isActive()) return E_INVALIDARG;
        painter->save();
        try {
            draw();
        } catch (...) {
            painter->restore();
            throw;
        }
        painter->restore();
        return S_OK;
    }
};

}  // namespace

ControlUi& TheControlUi() {
    static QtControlUi ui;
    return ui;
}

}  // namespace ctl
