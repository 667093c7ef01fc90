#include "notifier/tray_icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 32;
const QColor kRed(0xe0, 0x20, 0x20);
const QColor kYellow(0xf0, 0xc8, 0x10);
const QColor kGreen(0x20, 0xb0, 0x30);

// A 32 x 32 icon drawn by draw on a transparent, antialiased canvas.
template <typename Draw> QIcon painted(Draw draw) {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

void draw_lamp(QPainter& p, const QColor& colour, QRectF box) {
    p.setPen(QPen(colour.darker(170), 1.0));
    QRadialGradient glow(box.center() - QPointF(box.width() / 5, box.height() / 5), box.width() / 1.6);
    glow.setColorAt(0.0, colour.lighter(160));
    glow.setColorAt(1.0, colour);
    p.setBrush(glow);
    p.drawEllipse(box);
}

// Chevrons 7 pixels apart, so that a shift by 7 pixels is the same picture and the seven frames loop smoothly.
void draw_chevrons(QPainter& p, int shift) {
    constexpr int kPitch = kTrayFrameCount;
    constexpr double kTop = 21.0, kBottom = 30.0;
    QPainterPath path;
    for (int x = shift - kPitch; x < kSize; x += kPitch) {
        path.moveTo(x, kTop);
        path.lineTo(x + 4.0, (kTop + kBottom) / 2);
        path.lineTo(x, kBottom);
    }
    p.setPen(QPen(QColor(0x30, 0x60, 0xc0), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.setClipRect(0, 0, kSize, kSize);
    p.drawPath(path);
}

} // namespace

QIcon application_icon() {
    return painted([](QPainter& p) {
        draw_lamp(p, kRed, QRectF(2.5, 2.5, 13, 13));
        draw_lamp(p, kYellow, QRectF(16.5, 2.5, 13, 13));
        draw_lamp(p, kGreen, QRectF(9.5, 16.5, 13, 13));
    });
}

std::array<QIcon, kTrayFrameCount> tray_frames() {
    std::array<QIcon, kTrayFrameCount> frames;
    for (int k = 0; k < kTrayFrameCount; ++k) {
        frames[static_cast<std::size_t>(k)] = painted([k](QPainter& p) {
            draw_lamp(p, kRed, QRectF(1.5, 4.5, 9, 9));
            draw_lamp(p, kYellow, QRectF(11.5, 4.5, 9, 9));
            draw_lamp(p, kGreen, QRectF(21.5, 4.5, 9, 9));
            draw_chevrons(p, k);
        });
    }
    return frames;
}
