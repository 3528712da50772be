// The control UI of a GUI build: dialogs and the property frame through platform/ui, pictures
// as QImages drawn with a QPainter.
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QRect>

#include "platform/ctl/control_ui.h"
#include "platform/ctl/picture.h"

namespace ctl {
namespace {

class QtPicture : public Picture {
public:
    explicit QtPicture(QImage image) : image_(std::move(image)) {}
    LONG Width() const override { return image_.width(); }
    LONG Height() const override { return image_.height(); }
    void Render(CDC* dc, const RECT& target) override {
        if (!dc || !dc->GetPainter()) return;
        const QRect rect(target.left, target.top, target.right - target.left,
                         target.bottom - target.top);
        dc->GetPainter()->drawImage(rect, image_);
    }

private:
    QImage image_;
};

class QtControlUi : public ControlUi {
public:
    bool HaveDialogs() const override { return true; }
    int RunModalDialog(const DialogTemplate& dialog, const ui::IconLookup& icons) override {
        return ui::RunModalDialog(dialog, icons);
    }
    bool RunPropertyFrame(const std::string& objectName,
                          const std::vector<ui::PropertyPageView>& pages,
                          const std::function<void()>& onApply, bool* shown) override {
        return ui::RunPropertyFrame(objectName, pages, onApply, shown);
    }
    std::unique_ptr<Picture> DecodeBitmap(const std::string& bmpFile) override {
        QImage image;
        if (bmpFile.empty() || !image.loadFromData(reinterpret_cast<const uchar*>(bmpFile.data()),
                                                   static_cast<int>(bmpFile.size()), "BMP"))
            return nullptr;
        return std::make_unique<QtPicture>(std::move(image));
    }
    HRESULT DrawOnRaster(LONG width, LONG height, DWORD* pixels,
                         const std::function<void(CDC*)>& draw) override {
        QImage image(reinterpret_cast<uchar*>(pixels), width, height, width * 4,
                     QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        CDC dc(&painter);
        draw(&dc);
        painter.end();
        return S_OK;
    }
};

}  // namespace

ControlUi& TheControlUi() {
    static QtControlUi ui;
    return ui;
}

}  // namespace ctl
