#pragma once

#include "gui/page.h"
#include "settings/settings.h"

class QLineEdit;
class QListWidget;

// Tab " 连接 ": for each account (red, green, yellow LED) how the mail check reaches its server: the protocol
// (POP3 or IMAP), in clear, STLS/STARTTLS or TLS from the first byte, the SHA-256 fingerprint of a server
// certificate to trust although no authority vouches for it, and the IMAP folder to watch.
//
// Controls: "protocol<account>", "security<account>", "folder<account>", "fingerprint<account>" (account 1 to 3),
// "apply".
class CConnectionPage : public Page {
    Q_OBJECT
public:
    explicit CConnectionPage(QWidget* parent);

    void apply();

private:
    struct ConnectionRow {
        QListWidget* protocol;
        QListWidget* security;
        QLineEdit* folder;
        QLineEdit* fingerprint;
    };

    ConnectionRow rows_[kAccountCount];
};
