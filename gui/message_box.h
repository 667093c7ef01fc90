// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>

// The tools' message boxes. A test answers the next one in advance instead of a user.
class MessageBox {
public:
    // A modal question owned by parent with the information icon and the given buttons; returns the button chosen.
    static QMessageBox::StandardButton question(QWidget* parent, const char* caption, const char* text,
                                                QMessageBox::StandardButtons buttons);

    // The next box is not shown: it answers this at once. Each answer is used once.
    static void set_next_answer(QMessageBox::StandardButton answer);
    // Caption and text of the last box asked for, answered or shown.
    static QString last_caption();
    static QString last_text();
    // How many boxes were asked for so far: a box that must come only once is counted.
    static int asked();
};
