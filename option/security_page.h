#pragma once

#include "gui/page.h"
#include "settings/settings.h"

class QLineEdit;
class QListWidget;

// Tab " 安全 ": for each account (red, green, yellow LED) how the mail check reaches its server (in clear, STLS, or
// TLS from the first byte) and the SHA-256 fingerprint of a server certificate to trust although no authority
// vouches for it.
//
// Controls: "security<account>", "fingerprint<account>" (account 1 to 3), "apply".
class CSecurityPage : public Page {
    Q_OBJECT
public:
    explicit CSecurityPage(QWidget* parent);

    void apply();

private:
    struct SecurityRow {
        QListWidget* security;
        QLineEdit* fingerprint;
    };

    SecurityRow rows_[kAccountCount];
};
