// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/credential.h"
#include "mail/core/sender_filters.h"
#include "mail/net/tls_settings.h"

#include <string>

// One mail account as a check sees it: everything the protocol code needs, read once per pass from the settings
// (read_account in mail/account_settings.h), so that the protocol code never looks at the settings itself.
struct Account {
    int index = 0;          // 0 to 2: the LED, and the number the error lines give
    std::string server;     // ServerName: "host", "host:port" or "[v6]:port"
    std::string user;       // ID
    Credential credential;  // the password, or what stands for it
    MailProtocol protocol = MailProtocol::pop3;
    MailSecurity security = MailSecurity::plain;
    std::string fingerprint; // TlsFingerprint: the pinned certificate's SHA-256, or empty
    std::string folder;      // Folder (IMAP): empty means INBOX
    std::string folders;     // Folders (IMAP): empty, Folder alone; "*", every folder; or a list (folder_choice.h)
    SenderFilters filters;   // SpecialAddress1 to 3 with SpecialSearch1 to 3
    // An OAuth2 account's token source (OAuthSource): 1 the sign-in in the browser, 2 the desktop's online accounts,
    // 3 the token command, which is then token_command (TokenCommand).
    OAuthSource oauth_source = OAuthSource::unknown;
    std::string token_command;
};
