// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

// The desktop's file chooser. A test answers the next one in advance instead of a user.
class FileDialog {
public:
    // A modal chooser owned by parent for one existing file, opening on start (a file or directory; empty for
    // the chooser's own choice) with filter ("Name (*.ext);;All files (*)"). Returns the full path of the chosen
    // file, or an empty text when the user cancelled.
    static QString get_open_file_name(QWidget* parent, const QString& start, const QString& filter);

    // The next chooser is not shown: it returns name at once (an empty name stands for Cancel). Used once.
    static void set_next_file_name(const QString& name);
    // The start and filter of the last chooser asked for, answered or shown.
    static QString last_start();
    static QString last_filter();
};
