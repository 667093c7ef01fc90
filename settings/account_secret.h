// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/secret_store.h"
#include "settings/keys.h"

#include <functional>
#include <string>
#include <vector>

// Where an account's password lives. SecretStore "1": in the desktop keyring, filed under the account's server
// name, ID and protocol, and the file's Password and Scramble are empty; the account's refresh token is looked for
// there too (refresh_token.h). Anything else: scrambled in the file, as in files that know no keyring. Only the
// setup program's save and the option program's sign-in move a password between the two; the notifier and
// kd5lite --check only read it from where SecretStore says.
bool password_in_keyring(int index);

// The keyring item of the account's secret of this kind, as the account's fields in g_settings name it: server
// name, ID, and "imap" for Protocol 1, else "pop3".
SecretKey account_secret_key(int index, SecretKind kind = SecretKind::password);

// Two accounts may read one mailbox ("red = INBOX, green = Work"): the keyring then holds one password and one
// refresh token for both, filed under the mailbox's server name, ID and protocol. Whether an account of the file
// other than index keeps its secrets in the keyring (SecretStore "1") under key's names, as the file says now:
// then the item is that account's as much as this one's, and a change of this account copies it and leaves it.
bool secret_shared_with_another(int index, const SecretKey& key);

// The setup program's knowledge of one account's password between loading it and saving it again.
struct AccountPassword {
    SecretKey filed_under;                // the account as it was loaded or last saved
    bool in_keyring = false;              // its password was in the keyring then
    SecretResult read = SecretResult::ok; // what the keyring said when asked for the password at load
};

// Loads account index's password as the setup program shows it: the pair and SecretStore from the file, and for a
// password in the keyring the password from there (the desktop may ask the user to unlock the keyring). Leaves
// the plain password in the Password field, empty when the keyring did not give it (state.read says why).
// -1 when the file could not be read.
int ini_load_password(int index, AccountPassword& state);

// What a save did with the password.
struct PasswordSave {
    bool kept = false;       // nothing changed: the keyring could not be read at load and no password was typed
    bool in_keyring = false; // the password went to the keyring; false: scrambled into the file (or it is empty)
    // The server name or ID changed, and the password in the keyring (kept) could not follow: they were not
    // written, and the record has them as the file does. keyring says why.
    bool name_kept = false;
    SecretResult keyring = SecretResult::ok; // the keyring's answer to the store, when it was asked
    std::string reason;                      // the keyring's own words for a refusal
};

// Saves the plain password in account index's Password field as the setup program's Apply does. with names the
// account's other keys the caller changed (Switch, ServerName, ID): they are written in the same transaction as
// Password, Scramble and SecretStore, once the keyring has the password under the account they name, so the file
// never names an account its password is not filed under. A password goes to the keyring when one takes it (the
// file's Password and Scramble empty, SecretStore "1"), else scrambled into the file with SecretStore empty; an
// empty password is stored empty. Items filed under the account as it was (state) are removed when they are no
// longer used: the account now names another server, ID or protocol, or was cleared (both the password and a
// refresh token, the latter also from the file), or its password moved to the file (a refresh token in the
// keyring then moves to the file too, where readers look without SecretStore "1"). An item another account of
// the file still names stays (secret_shared_with_another).
//
// A password in the keyring that the caller does not have (the keyring would not show it at load, and the
// Password field is empty) stays there (save.kept), and only the keys of with are written. When the server name
// or ID changed, it is first copied to the account they name (the desktop may ask to unlock the keyring); when
// that fails, ServerName and ID are not written (save.name_kept). -1 when the file was not written.
int ini_save_password(int index, AccountPassword& state, PasswordSave& save, const std::vector<Key>& with = {});

// The option program changes an account's protocol, or a provider's preset its server, which the keyring files
// its secrets under: copies the items of a password in the keyring, the password's and a refresh token's alike,
// from the account as it was (before) to the account as g_settings names it now; then calls write_keys, which
// writes the keys that name the account anew (-1: the file was not written); then removes the items under the
// old names unless another account still names them, or, when the file was not written, the copies. A token in
// the file is kept by the account's section and stays. ok when every item was copied, or there was nothing to
// copy, and write_keys was called; else the keyring's answer, write_keys was not called, and the items are where
// they were.
SecretResult refile_account_secrets(int index, const SecretKey& before, const std::function<int()>& write_keys);

// Why the keyring did not take a secret, in the words of the tools' message boxes ("密钥环已锁定", ...).
const char* keyring_refusal_words(SecretResult result);
