#include "panel/qt/app_icon.h"

#include <QPainter>
#include <QVector>

namespace panel::qt {
namespace {

// The sixteen colours of the standard 4-bit palette.
QVector<QRgb> SixteenColours() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

// A camera: grey body, viewfinder, yellow lamp and a lens of two rings.
QImage Drawn(int size) {
    QImage canvas(size, size, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(QRectF(2.5, 8.5, 27, 19));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(10.5, 4.5, 11, 4));
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(QRectF(4.5, 10.5, 4, 3));
    p.setBrush(QColor(0, 0, 0));
    p.drawEllipse(QPointF(16.5, 18), 8, 8);
    p.setBrush(QColor(0, 0, 128));
    p.drawEllipse(QPointF(16.5, 18), 5.5, 5.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 255, 255));
    p.drawEllipse(QPointF(14.5, 16), 1.8, 1.8);
    return canvas;
}

}  // namespace

QImage LensbayIconImage(int size) {
    const QImage drawn = Drawn(size);
    const QImage indexed = drawn.convertToFormat(QImage::Format_Indexed8, SixteenColours(),
                                                 Qt::ThresholdDither | Qt::AvoidDither);
    // Back to ARGB so that the surround stays transparent (a 1-bit mask, as icons have).
    QImage icon = indexed.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (qAlpha(drawn.pixel(x, y)) < 128) icon.setPixel(x, y, qRgba(0, 0, 0, 0));
    return icon;
}

QIcon LensbayIcon() {
    QIcon icon;
    for (int size : {16, 32}) icon.addPixmap(QPixmap::fromImage(LensbayIconImage(size)));
    return icon;
}

}  // namespace panel::qt
