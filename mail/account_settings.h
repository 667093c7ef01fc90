// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/secret_store.h"
#include "mail/core/account.h"
#include "mail/core/check_outcome.h"

// The account at index (0 to 2) as the settings record holds it now. The plain password is copied into the
// account's credential, which wipes it when the account goes. A password kept in the desktop keyring (SecretStore
// "1") is not in the record: this leaves the credential empty, and the overload below looks it up.
Account read_account(int index);

// read_account, with a password kept in the desktop keyring looked up there: on the calling thread (a check's, never
// the notifier's window thread), within the keyring wait of the timing record, and never asking the user to unlock
// the keyring (an OAuth2 account's password is not looked up: it signs in with a token). -1 when the keyring did
// not give the password, its answer in *keyring: the account cannot be checked this time, and the next check asks
// again. An OAuth2 account goes where its source says its mail is (place_account): -1 with its line written,
// *keyring left alone and what went wrong in *failure, when the source cannot say.
int read_account(int index, Account& account, SecretResult* keyring = nullptr, CheckOutcome* failure = nullptr);

// Whether account index signs in with OAuth2 (Auth "1").
bool oauth_account(int index);

// The error line for a keyring that did not give account index's password (or refresh token), in the mail
// check's form: "check mail ---> The keyring is locked[no.%d error: %d]" and its kin; with outcome, kept there as
// the check's failure at its secret step.
void write_keyring_error(int index, SecretResult keyring, SecretKind kind = SecretKind::password,
                         CheckOutcome* outcome = nullptr);
