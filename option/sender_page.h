// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/settings.h"

class QLineEdit;
class QListWidget;

// Tab " 特定邮件 ": for each account (red, green, yellow LED) up to three sender addresses and one match condition,
// which the mail check uses for the account's new mail. The one condition is stored in all three SpecialSearch
// keys of the account.
//
// Controls: "address<account><n>" (account and address 1 to 3), "condition<account>", "apply".
class CSenderPage : public Page {
    Q_OBJECT
public:
    explicit CSenderPage(QWidget* parent);

    void apply();

    struct AccountTemplate;

private:
    struct AccountRow {
        QLineEdit* address[3];
        QListWidget* condition;
    };

    void add_account(int account, const AccountTemplate& t);

    AccountRow rows_[kAccountCount];
};
