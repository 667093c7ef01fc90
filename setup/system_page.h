// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"

class QLineEdit;

// Tab " 系统 ": the lamp's serial number, the mail check interval and the buzzer seconds (their factory values 10
// and 1 where the file has none). EntryCount rides along in a hidden field so that Apply writes the whole group
// back together.
class CSystemPage : public Page {
    Q_OBJECT
public:
    explicit CSystemPage(QWidget* parent);

    void apply();

private:
    QLineEdit* serial_;
    QLineEdit* entry_count_;
    QLineEdit* interval_;
    QLineEdit* beep_;
};
