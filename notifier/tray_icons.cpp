// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace {

const QColor kRed(0xe0, 0x20, 0x20);
const QColor kYellow(0xf0, 0xc8, 0x10);
const QColor kGreen(0x20, 0xb0, 0x30);
const QColor kGrey(0x9a, 0x9a, 0x9a);
const QColor kEdge(0x20, 0x20, 0x20, 0xd0); // a contour that a light panel shows
const QColor kMark(0xff, 0xff, 0xff);

const QColor& account_colour(int account) {
    static const QColor colours[3] = {kRed, kGreen, kYellow};
    return colours[std::clamp(account, 0, 2)];
}

// Lamp centres and radius as parts of the icon's side: red top left, yellow top right, green below between them.
constexpr double kRadius = 0.245;
constexpr QPointF kCentre[3] = {{0.25, 0.255}, {0.5, 0.735}, {0.75, 0.255}}; // account order: red, green, yellow
constexpr double kMarkRadius = 0.15;
constexpr QPointF kQuietCorner{0.16, 0.84};
constexpr QPointF kCheckingCorner{0.84, 0.84};

double pen_width(int size) {
    return std::max(1.0, size / 24.0);
}

template <typename Draw> QImage painted_image(int size, Draw draw) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image;
}

void draw_lit(QPainter& p, const QColor& colour, const QRectF& box, double pen) {
    QRadialGradient glow(box.center() - QPointF(box.width() / 5, box.height() / 5), box.width() / 1.6);
    glow.setColorAt(0.0, colour.lighter(160));
    glow.setColorAt(1.0, colour);
    p.setPen(QPen(colour.darker(220), pen));
    p.setBrush(glow);
    p.drawEllipse(box);
}

// A dark lamp keeps its colour in a ring, which a dark panel shows, around a dim face, which a light panel shows.
void draw_dark(QPainter& p, const QColor& colour, const QRectF& box, double pen) {
    p.setPen(QPen(colour.lighter(150), pen * 1.25));
    p.setBrush(colour.darker(330));
    p.drawEllipse(box);
}

void draw_grey(QPainter& p, const QRectF& box, double pen) {
    p.setPen(QPen(kGrey.darker(190), pen));
    p.setBrush(kGrey);
    p.drawEllipse(box);
}

// Late: only the ring is left, a lamp that cannot be sure; its edges are dark so that a light panel shows it too.
void draw_hollow(QPainter& p, const QColor& colour, const QRectF& box, double pen) {
    const QRectF ring = box.adjusted(pen, pen, -pen, -pen);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kEdge, 2 * pen + 2));
    p.drawEllipse(ring);
    p.setPen(QPen(colour, 2 * pen));
    p.drawEllipse(ring);
}

// Needs you: a "!" on the lamp, white with a dark contour, readable on any of the lamp's faces.
void draw_exclamation(QPainter& p, const QRectF& box, double pen) {
    const double r = box.width() / 2;
    const QPointF c = box.center();
    QPainterPath mark;
    const double w = std::max(2.6, r * 0.45);
    // The bar passes through the lamp's centre; at 16 px the dot below it merges with it into one white stroke.
    mark.addRect(QRectF(c.x() - w / 2, c.y() - r * 0.66, w, r * 0.96));
    mark.addEllipse(QPointF(c.x(), c.y() + r * 0.62), w * 0.45, w * 0.45);
    p.setPen(QPen(kEdge, pen * 0.6));
    p.setBrush(kMark);
    p.drawPath(mark);
}

void draw_lamp(QPainter& p, int account, LampLook look, Health health, int size) {
    const QRectF box = tray_lamp_box(account, size);
    const double pen = pen_width(size);
    const QColor colour = look == LampLook::grey ? kGrey : account_colour(account);
    if (health == Health::late) {
        draw_hollow(p, colour, box, pen);
        return;
    }
    switch (look) {
    case LampLook::lit: draw_lit(p, colour, box, pen); break;
    case LampLook::dark: draw_dark(p, colour, box, pen); break;
    case LampLook::grey: draw_grey(p, box, pen); break;
    }
    if (health == Health::needs_you) {
        draw_exclamation(p, box, pen);
    }
}

QPointF corner(QPointF part, int size) {
    return part * size;
}

// Quiet: a crescent moon.
void draw_quiet(QPainter& p, int size) {
    const double m = kMarkRadius * size;
    const QPointF c = corner(kQuietCorner, size);
    QPainterPath moon;
    moon.addEllipse(c, m, m);
    QPainterPath bite;
    bite.addEllipse(c + QPointF(0.5 * m, -0.4 * m), 0.85 * m, 0.85 * m);
    p.setPen(QPen(kEdge, pen_width(size) * 0.8));
    p.setBrush(QColor(0xf4, 0xee, 0xb8));
    p.drawPath(moon.subtracted(bite));
}

// Checking: a small blue dot with a white ring.
void draw_checking(QPainter& p, int size) {
    const double m = 0.13 * size;
    p.setPen(QPen(kEdge, pen_width(size)));
    p.setBrush(kMark);
    p.drawEllipse(corner(kCheckingCorner, size), m, m);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x70, 0xe0));
    p.drawEllipse(corner(kCheckingCorner, size), m * 0.55, m * 0.55);
}

} // namespace

TrayIconState tray_icon_state(const TrayStatus& status, bool quiet, bool checking) {
    TrayIconState state;
    state.lamps = tray_look(status);
    for (std::size_t i = 0; i < state.health.size(); ++i) {
        const Health h = status.accounts[i].health;
        state.health[i] = status.monitoring && (h == Health::late || h == Health::needs_you) ? h : Health::none;
    }
    state.quiet = quiet;
    state.checking = checking && status.monitoring;
    return state;
}

QRectF tray_lamp_box(int account, int size) {
    const QPointF c = kCentre[std::clamp(account, 0, 2)] * size;
    const double r = kRadius * size;
    return QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r);
}

QPoint tray_lamp_centre(int account, int size) {
    const QPointF c = tray_lamp_box(account, size).center();
    return QPoint(static_cast<int>(c.x()), static_cast<int>(c.y()));
}

QPoint tray_quiet_mark_centre(int size) {
    // A point of the moon's body, clear of its bite.
    const QPointF c = corner(kQuietCorner, size) + QPointF(-0.55, 0.25) * (kMarkRadius * size);
    return QPoint(static_cast<int>(c.x()), static_cast<int>(c.y()));
}

QPoint tray_checking_mark_centre(int size) {
    const QPointF c = corner(kCheckingCorner, size);
    return QPoint(static_cast<int>(c.x()), static_cast<int>(c.y()));
}

QImage tray_image(const TrayIconState& state, int size) {
    return painted_image(size, [&state, size](QPainter& p) {
        for (int i = 0; i < 3; ++i) {
            const auto k = static_cast<std::size_t>(i);
            draw_lamp(p, i, state.lamps[k], state.health[k], size);
        }
        if (state.quiet) {
            draw_quiet(p, size);
        }
        if (state.checking) {
            draw_checking(p, size);
        }
    });
}

QIcon tray_icon(const TrayIconState& state) {
    QIcon icon;
    for (int size : kTraySizes) {
        icon.addPixmap(QPixmap::fromImage(tray_image(state, size)));
    }
    return icon;
}

QIcon application_icon() {
    TrayIconState all;
    all.lamps = {LampLook::lit, LampLook::lit, LampLook::lit};
    return tray_icon(all);
}

QImage lamp_image(int account, int size) {
    return painted_image(size, [account, size](QPainter& p) {
        draw_lit(p, account_colour(account), QRectF(1.5, 1.5, size - 3.0, size - 3.0), 1.0);
    });
}
