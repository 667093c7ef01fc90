// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QFont;

// Dialog templates give positions and sizes in dialog units, which scale with the dialog's font: a horizontal unit
// is a quarter of the font's average character width, a vertical unit an eighth of its character height. Laying
// the controls out this way keeps every text in the room its template gives it, whatever the font's size.
struct DialogUnits {
    int base_x = 0; // average character width, pixels
    int base_y = 0; // character height, pixels

    // The base units of a font: the average width is taken over the 52 Latin letters, as the templates were drawn
    // against, since a CJK font's own average is the width of an ideograph.
    static DialogUnits of(const QFont& font);
    // The same from the measured width of those 52 letters and the character height.
    static DialogUnits from_metrics(int alphabet_width, int height);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
};
