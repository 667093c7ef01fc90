// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "option/connection_page.h"
#include "tests/support/widgets.h"

#include <QComboBox>
#include <QTest>
#include <string>

// The 连接 tab's controls of one account (0 to 2), by the names the page gives them.
template <typename Control> Control* control(const CConnectionPage& page, const char* name, int account) {
    return child<Control>(&page, (name + std::to_string(account + 1)).c_str());
}

inline QComboBox* choice(const CConnectionPage& page, const char* name, int account) {
    return control<QComboBox>(page, name, account);
}

// Chooses an entry the way a user does from the keyboard: the list gets the focus and the arrow keys move in it.
inline void pick(QComboBox* combo, int row) {
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < row; ++i) {
        QTest::keyClick(combo, Qt::Key_Down);
    }
}

// Shows the account's controls the way a user does, with the chooser at the top of the page.
inline void choose_account(const CConnectionPage& page, int account) {
    pick(child<QComboBox>(&page, "account"), account);
}
