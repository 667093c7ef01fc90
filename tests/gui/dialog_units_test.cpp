// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/dialog_units.h"

#include <gtest/gtest.h>

// Catches a horizontal unit taken as an eighth or a vertical one as a quarter, truncating instead of rounding,
// and edges that drift apart from sizes converted on their own.
TEST(DialogUnits, ConvertsWithTheFontsBaseUnits) {
    // 52 letters 361 pixels wide average 6.9: the base is 7. A 17-pixel-high font.
    DialogUnits units = DialogUnits::from_metrics(361, 17);
    EXPECT_EQ(units.base_x, 7);
    EXPECT_EQ(units.base_y, 17);
    EXPECT_EQ(units.x(4), 7);
    EXPECT_EQ(units.y(8), 17);
    EXPECT_EQ(units.x(186), 326); // 325.5 rounds up
    EXPECT_EQ(units.y(255), 542); // 541.875
    EXPECT_EQ(units.x(-4), -7);

    QRect r = units.rect(7, 7, 219, 223);
    EXPECT_EQ(r.left(), 12);
    EXPECT_EQ(r.top(), 15);
    // The right edge is that of 226 units, not 7 units plus a separately rounded width.
    EXPECT_EQ(r.left() + r.width(), units.x(226));
    EXPECT_EQ(r.top() + r.height(), units.y(230));
}

TEST(DialogUnits, AverageWidthRoundsToTheNearestPixel) {
    EXPECT_EQ(DialogUnits::from_metrics(337, 17).base_x, 6); // 6.48
    EXPECT_EQ(DialogUnits::from_metrics(338, 17).base_x, 7); // 6.5
    EXPECT_EQ(DialogUnits::from_metrics(390, 17).base_x, 8); // 7.5
}
