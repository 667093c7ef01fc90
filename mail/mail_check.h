// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"

// Checks one account by its protocol: POP3 ("0" or empty) or IMAP ("1").
// Any other value makes no connection: an error line and -1, as an unknown Security does. Results as pop3_check.
// An OAuth2 account gets its access token here, and a renewed one and one more try when the server refuses it.
// With ids, also which messages make up the count, for the acknowledge and the notification. With outcome, also how
// the check ended beside the line it wrote (mail/core/check_outcome.h): the step, the kind of failure and the error
// number; a refusal that gives 0 says so there, and a check that worked leaves it ok.
struct CheckIds;
struct CheckOutcome;
int mail_check(const Account& account, CheckIds* ids = nullptr, CheckOutcome* outcome = nullptr);

// The checks of the account at index (0 to 2) as the settings record holds it now (read_account), for the monitor
// and the diagnosis; any other index gives -1. A keyring that does not give the password, or an OAuth2 source that
// cannot say where the mail is, fails the check with its line, as one that could not reach the server.
int mail_check(int index, CheckOutcome* outcome = nullptr);
int pop3_check(int index);
int imap_check(int index);

// The account at index read for a check as mail_check(index) reads it: 0, or -1 with its line written and what went
// wrong in *outcome.
int read_account_for_check(int index, Account& account, CheckOutcome* outcome = nullptr);
