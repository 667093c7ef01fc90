// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/oauth/online_accounts.h"
#include "mail/core/account.h"
#include "mail/core/check_outcome.h"

#include <string>

// The accounts the desktop's online accounts sign in (OAuthSource 2, the online account's Id in OnlineAccount):
// the desktop keeps and refreshes their tokens, so each check just asks it for one, and a renewal asks again. The
// account's mail is read where the online account says (its IMAP host, ":port" honoured, and user), whatever
// ServerName and ID hold; the account's own Security and TlsFingerprint apply where they are set.

// The account as the online account places it: IMAP at its host as its user, and the online account's TLS where
// security_set is false (TLS from the first byte, else STARTTLS, else none, which the check refuses); pure.
void place_at_online_account(Account& account, const OnlineMailAccount& online, bool security_set);

// The place of OAuthSource 2 (an AccountPlace, mail/sasl/access_token.h).
int online_place(Account& account, CheckOutcome& failure);

// The source for OAuthSource 2 (a TokenSource, mail/sasl/access_token.h).
int online_token(int index, bool renew, std::string& token, CheckOutcome& failure);

// Plugs online_place and online_token in as source 2.
void install_online_token_source();
