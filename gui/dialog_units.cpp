// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/dialog_units.h"

#include <QFont>
#include <QFontMetrics>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// value * numerator / denominator, rounded to the nearest pixel, halves away from zero.
int scale(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

} // namespace

DialogUnits DialogUnits::of(const QFont& font) {
    QFontMetrics metrics(font);
    return from_metrics(metrics.horizontalAdvance(QLatin1String(kAlphabet)), metrics.height());
}

DialogUnits DialogUnits::from_metrics(int alphabet_width, int height) {
    // The average of 52 letters, rounded to the nearest pixel.
    return DialogUnits{(alphabet_width / 26 + 1) / 2, height};
}

int DialogUnits::x(int units) const {
    return scale(units, base_x, 4);
}

int DialogUnits::y(int units) const {
    return scale(units, base_y, 8);
}

QRect DialogUnits::rect(int x_units, int y_units, int width, int height) const {
    // Both edges are converted, so controls that touch in units touch in pixels too.
    int left = x(x_units);
    int top = y(y_units);
    return QRect(left, top, x(x_units + width) - left, y(y_units + height) - top);
}
