// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_icons.h"

#include <QImage>

#include <algorithm>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 32;
const QColor kRed(0xe0, 0x20, 0x20);
const QColor kYellow(0xf0, 0xc8, 0x10);
const QColor kGreen(0x20, 0xb0, 0x30);

const QColor kGrey(0x9a, 0x9a, 0x9a);

// A 32 x 32 image drawn by draw on a transparent, antialiased canvas.
template <typename Draw> QImage painted_image(Draw draw) {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image;
}

template <typename Draw> QIcon painted(Draw draw) {
    return QIcon(QPixmap::fromImage(painted_image(draw)));
}

// The tray's row: red, then yellow, then green, as on the lamp itself; accounts are red, green, yellow.
constexpr double kRowLeft[3] = {1.5, 21.5, 11.5};
constexpr double kRowTop = 4.5, kRowLamp = 9.0;

// A dark lamp keeps a trace of its colour, so that which one is which can still be seen; a grey one says nothing.
void draw_flat_lamp(QPainter& p, const QColor& colour, QRectF box) {
    p.setPen(QPen(colour.darker(150), 1.0));
    p.setBrush(colour);
    p.drawEllipse(box);
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

QImage tray_image(const std::array<LampLook, 3>& look, int frame) {
    return painted_image([&look, frame](QPainter& p) {
        const QColor colours[3] = {kRed, kGreen, kYellow};
        for (std::size_t i = 0; i < look.size(); ++i) {
            QRectF box(kRowLeft[i], kRowTop, kRowLamp, kRowLamp);
            switch (look[i]) {
            case LampLook::lit:
                draw_lamp(p, colours[i], box);
                break;
            case LampLook::dark:
                draw_flat_lamp(p, colours[i].darker(300), box);
                break;
            case LampLook::grey:
                draw_flat_lamp(p, kGrey, box);
                break;
            }
        }
        draw_chevrons(p, frame % kTrayFrameCount);
    });
}

QIcon tray_icon(const std::array<LampLook, 3>& look, int frame) {
    return QIcon(QPixmap::fromImage(tray_image(look, frame)));
}

QImage lamp_image(int account, int size) {
    const QColor colours[3] = {kRed, kGreen, kYellow};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw_lamp(p, colours[std::clamp(account, 0, 2)], QRectF(1.5, 1.5, size - 3.0, size - 3.0));
    p.end();
    return image;
}

QPoint tray_lamp_centre(int account) {
    auto i = static_cast<std::size_t>(account);
    return QPoint(static_cast<int>(kRowLeft[i] + kRowLamp / 2), static_cast<int>(kRowTop + kRowLamp / 2));
}
