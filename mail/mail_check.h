// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/account.h"

// Checks one account by its protocol: POP3 ("0" or empty) or IMAP ("1").
// Any other value makes no connection: an error line and -1, as an unknown Security does. Results as pop3_check.
// An OAuth2 account gets its access token here, and a renewed one and one more try when the server refuses it.
// With ids, also which messages make up the count, for the acknowledge and the notification.
struct CheckIds;
int mail_check(const Account& account, CheckIds* ids = nullptr);

// The checks of the account at index (0 to 2) as the settings record holds it now (read_account), for the monitor
// and the diagnosis; any other index gives -1.
int mail_check(int index);
int pop3_check(int index);
int imap_check(int index);
