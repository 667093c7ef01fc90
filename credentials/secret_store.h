// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The desktop keyring (the Secret Service of the login session: GNOME Keyring, KWallet, KeePassXC) as a store for
// the accounts' secrets, through libsecret's synchronous calls. Every call is bounded by a wait in milliseconds:
// a keyring daemon that hangs, or a prompt nobody answers, ends in SecretResult::timed_out, never in a hang.
//
// Items carry the schema "org.corvo.kd5lite.Account" with the attributes server, user, protocol and kind, and a
// label a person recognises in the keyring's window ("kd5lite: alice@mail.example.com"). They go into the
// keyring's default collection. Calls may come from any thread; they take turns. The session bus is the one the
// process finds at its first call (DBUS_SESSION_BUS_ADDRESS, else a bus socket in XDG_RUNTIME_DIR); with neither,
// every call answers SecretResult::no_service at once.

enum class SecretKind {
    password,      // the account's mail password
    refresh_token, // an OAuth2 refresh token of the account
};

// Which item: the account's server name and user name as the settings hold them, its protocol ("pop3" or "imap")
// and the kind of secret.
struct SecretKey {
    std::string server;
    std::string user;
    std::string protocol;
    SecretKind kind = SecretKind::password;
};

enum class SecretResult {
    ok,         // stored, read, or removed (a removal that found nothing is ok too)
    not_found,  // a lookup found no such item
    locked,     // the item's keyring is locked and was not unlocked
    no_service, // no session bus, or no Secret Service on it
    timed_out,  // the Secret Service did not answer within the wait
    failed,     // any other refusal; the Secret Service's own words in *reason
};

// Whether the desktop may ask the user to unlock a locked keyring. Only a program a person is looking at asks
// (the setup program); the notifier never does: a prompt nobody answers would hold its pass.
enum class SecretUnlock { never, ask };

// Stores secret under key, replacing an item with the same attributes.
SecretResult secret_save(const SecretKey& key, std::string_view secret, SecretUnlock unlock, int wait_ms,
                         std::string* reason = nullptr);

// Reads the secret under key into out (emptied first; its storage is wiped before it is let go and reserved
// before the copy, so no stray copy of the secret stays in the heap). The caller wipes out after use.
SecretResult secret_lookup(const SecretKey& key, std::string& out, SecretUnlock unlock, int wait_ms,
                           std::string* reason = nullptr);

// Removes every item under key. Nothing to remove is ok.
SecretResult secret_remove(const SecretKey& key, int wait_ms, std::string* reason = nullptr);

// What a result means, in the words of the error-log lines: "the keyring is locked", ...
const char* secret_result_text(SecretResult result);

// The item's label: "kd5lite: " and the user at the server ("alice@mail.example.com"; a user name that is a mail
// address already gets the server in brackets), and for a refresh token ", OAuth2 refresh token".
std::string secret_label(const SecretKey& key);
