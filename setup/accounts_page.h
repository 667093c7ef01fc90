#pragma once

#include "gui/page.h"
#include "settings/settings.h"

class QCheckBox;
class QLineEdit;

// Tab " 账户 ": the three POP3 accounts (red, green and yellow LED). The password edits are masked and the
// password reaches the settings file only in its scrambled form.
class CAccountsPage : public Page {
    Q_OBJECT
public:
    explicit CAccountsPage(QWidget* parent);

    void apply();

private:
    struct AccountRow {
        QCheckBox* enabled;
        QLineEdit* server;
        QLineEdit* id;
        QLineEdit* password;
    };
    AccountRow rows_[kAccountCount];
};
