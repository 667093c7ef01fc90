// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"

#include <QTimer>

class QLabel;
class QPushButton;

// Tab " 测试 ": starts ("测试开始", request 2) and ends ("测试结束", request 4) the notifier's lamp connection
// test, showing the serial number that was read when the window opened. While mail monitoring runs, the notifier
// would take the test up only after the monitor ended, and 测试结束's stop would end the monitor: so both buttons
// are greyed then and a line ("monitoring") says to stop monitoring first. The page reads that once a second while
// it is shown.
class CTestPage : public Page {
    Q_OBJECT
public:
    explicit CTestPage(QWidget* parent);

    // Reads whether monitoring runs and greys the buttons and shows the line accordingly.
    void refresh_monitoring();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPushButton* start_;
    QPushButton* stop_;
    QLabel* monitoring_;
    QTimer refresh_;
};
