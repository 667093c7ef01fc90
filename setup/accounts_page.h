// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "platform/secret.h"
#include "settings/account_secret.h"
#include "settings/settings.h"

#include <string>

class QCheckBox;
class QLineEdit;

// Tab " 账户 ": the three POP3 accounts (red, green and yellow LED). The password edits are masked. A password
// goes into the desktop keyring where there is one, else into the settings file in its scrambled form; the page
// says so once, the first time a password goes to the file.
//
// The option program saves parts of an account too (a server from 按地址填写, a sign-in that moves the password to
// the keyring), and either program may stay open while the other saves. So Apply writes only what was edited on
// this page since it was filled, over the account as the file has it then, and refresh() shows what was saved
// elsewhere in the fields that were not edited.
class CAccountsPage : public Page {
    Q_OBJECT
public:
    explicit CAccountsPage(QWidget* parent);

    void apply();
    void refresh() override;

    // The text of the message box that says a password was kept in the settings file, and why.
    static std::string kept_in_file_message(SecretResult keyring);
    // The text of the message box that says a new server name or ID was not saved for these accounts (numbers
    // from 1, in a list such as "第1个、第3个"), since the password in the keyring could not follow it, and why.
    static std::string name_kept_message(const std::string& accounts, SecretResult keyring);

private:
    struct AccountRow {
        QCheckBox* enabled;
        QLineEdit* server;
        QLineEdit* id;
        QLineEdit* password;
    };
    // What the fields of an account showed when they were last filled from the file or applied: a field whose
    // text differs from it now was edited by the user.
    struct Shown {
        bool enabled = false;
        std::string server;
        std::string id;
        SecretBuffer<sizeof g_settings.user[0].Password> password;
    };

    void show_stored(int account, bool with_password);
    int apply_account(int account, PasswordSave& save);

    AccountRow rows_[kAccountCount];
    Shown shown_[kAccountCount];
    AccountPassword passwords_[kAccountCount];
    bool told_kept_in_file_ = false;
};
