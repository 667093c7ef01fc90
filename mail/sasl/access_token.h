// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"

#include <functional>
#include <string>

// The access token of an OAuth2 account, from the source its oauth_source names: 1 the sign-in in the browser (a
// refresh token kept by the setup side), 2 GNOME Online Accounts, 3 the token command. The first two need the
// desktop (Qt); the notifier plugs them in with set_token_source. The token command runs here. Every failure writes
// its one "check mail ---> " line and says what went wrong in a CheckOutcome: its step (token, or secret for a
// keyring that keeps a refresh token), its kind (sign_in_again, no_token, keyring, settings, unreachable) and its
// error number, so that a reader decides on the kind and never on the line's words.

// A source: the token for account index into token; renew asks for a new one because the server refused the last
// (a source may then refresh, at most once per check: the caller asks only once). 0, or -1 with its line written
// and kept in failure (write_failure_line).
using TokenSource = std::function<int(int index, bool renew, std::string& token, CheckOutcome& failure)>;

// Plugs in the source for OAuthSource 1 or 2 (an empty function takes it out again).
void set_token_source(int source, TokenSource fn);

// The token for the account from its source (token wiped first), renewed when a renewal was asked for since the
// last call. 0, or -1 with its line written and, with failure, what went wrong.
int access_token(const Account& account, std::string& token, CheckOutcome* failure = nullptr);

// Asks for a renewed token at the next access_token call: the server refused the last one.
void ask_token_renewal(int index);

// Where an account reads its mail when its source knows better than ServerName and ID: an online account (source 2)
// gives its IMAP host and user. The hook fills in the account's server, user, protocol and, where the account's own
// Security is not set, its security. 0, or -1 with its line written and kept in failure.
using AccountPlace = std::function<int(Account& account, CheckOutcome& failure)>;

// Plugs in the place of OAuthSource 1 or 2 (an empty function takes it out again).
void set_account_place(int source, AccountPlace fn);

// An OAuth2 account moved to where its source says its mail is; others, and sources without a place, are left as
// they are. 0, or -1 with its line written and, with failure, what went wrong.
int place_account(Account& account, CheckOutcome* failure = nullptr);

// An OAuth2 account's credential filled with its source's token (other accounts are left as they are). 0, or -1
// with its line written and, with failure, what went wrong.
int sign_account(Account& account, CheckOutcome* failure = nullptr);
