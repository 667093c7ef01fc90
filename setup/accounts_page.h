// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/account_secret.h"
#include "settings/settings.h"

#include <string>

class QCheckBox;
class QLineEdit;

// Tab " 账户 ": the three POP3 accounts (red, green and yellow LED). The password edits are masked. A password
// goes into the desktop keyring where there is one, else into the settings file in its scrambled form; the page
// says so once, the first time a password goes to the file.
class CAccountsPage : public Page {
    Q_OBJECT
public:
    explicit CAccountsPage(QWidget* parent);

    void apply();

    // The text of the message box that says a password was kept in the settings file, and why.
    static std::string kept_in_file_message(SecretResult keyring);

private:
    struct AccountRow {
        QCheckBox* enabled;
        QLineEdit* server;
        QLineEdit* id;
        QLineEdit* password;
    };
    AccountRow rows_[kAccountCount];
    AccountPassword passwords_[kAccountCount];
    bool told_kept_in_file_ = false;
};
