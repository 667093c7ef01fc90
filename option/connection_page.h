// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/settings.h"

class FingerprintEdit;
class QComboBox;
class QLineEdit;

// Tab " 连接 ": for each account (red, green, yellow LED) how the mail check reaches its server: the protocol
// (POP3 or IMAP), in clear, STLS/STARTTLS or TLS from the first byte, the SHA-256 fingerprint of a server
// certificate to trust although no authority vouches for it, and the IMAP folder to watch. The two small choices
// are drop-down lists under a header line that names the columns; the fingerprint field wraps the whole value.
//
// Controls: "protocol<account>", "security<account>", "folder<account>", "fingerprint<account>" (account 1 to 3),
// "apply".
class CConnectionPage : public Page {
    Q_OBJECT
public:
    explicit CConnectionPage(QWidget* parent);

    void apply();

private:
    QComboBox* add_choice(const char* name, const QStringList& items, int x, int y, int width, int height);

    struct ConnectionRow {
        QComboBox* protocol;
        QComboBox* security;
        QLineEdit* folder;
        FingerprintEdit* fingerprint;
    };

    ConnectionRow rows_[kAccountCount];
};
