// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QWidget;

// The tools' keyboard rule: in their window and its pages Enter never presses a button or closes anything. Enter
// is swallowed before any widget sees it, with a trace line naming the page it was pressed in. Escape is left to
// the window (TabWindow keeps it from cancelling).
class KeyFilter : public QObject {
    Q_OBJECT
public:
    // Filters the key events of window and every widget inside it.
    explicit KeyFilter(QWidget* window);
    ~KeyFilter() override;

    // The trace line for an Enter key pressed in the page with this trace number (0: the window itself).
    static QByteArray trace_line(int trace_number);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
};
