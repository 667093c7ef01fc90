// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/dialog_units.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// One page of a tab window: a child dialog of 200 x 200 dialog units whose controls sit where its template puts
// them. The helpers create a control, place it in dialog units of the page's font and name it, so tests can find
// it by name.
class Page : public QWidget {
    Q_OBJECT
public:
    // trace_number names the page in the trace line of a swallowed Enter key.
    Page(QWidget* parent, int trace_number);

    int trace_number() const { return trace_number_; }

    // Reads the page's keys again when its window comes to the front, and shows what another program saved since
    // in the fields the user has not edited; what was typed and not applied stays. Pages whose keys only their
    // own program writes need none.
    virtual void refresh() {}
    const DialogUnits& units() const { return units_; }

protected:
    enum class EditStyle { normal, read_only, password };

    QGroupBox* add_group(const char* text, int x, int y, int width, int height);
    QLabel* add_static(const char* text, int x, int y, int width, int height);
    QLabel* add_centred(const char* text, int x, int y, int width, int height);
    // limit: typed limit in bytes; 0 for none.
    QLineEdit* add_edit(const char* name, int x, int y, int width, int height, int limit,
                        EditStyle style = EditStyle::normal);
    QPushButton* add_button(const char* name, const char* text, int x, int y, int width, int height);
    // A check box without a caption; the static beside it says what it means.
    QCheckBox* add_check(const char* name, int x, int y, int width, int height);
    QListWidget* add_list(const char* name, const QStringList& items, int x, int y, int width, int height);

    // Runs action when button is pressed. When a settings write made by it fails (another program holds the file
    // locked, or the file cannot be read), a message box tells the user that the settings could not be saved; the
    // page keeps what was typed, so pressing the button again tries again.
    void on_click_saving(QPushButton* button, std::function<void()> action);

public:
    // The text of that message box, with the reason of the last failed write: the lock held by another program,
    // the file unreadable, or else where to look (kd5lite --check).
    static QString unsaved_message();

private:
    void place(QWidget* widget, int x, int y, int width, int height);

    int trace_number_;
    DialogUnits units_;
};
