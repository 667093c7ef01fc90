// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/secret_store.h"

#include <string>
#include <string_view>

// Where an account's OAuth2 refresh token is kept. These functions are the one place that knows.
//
// A refresh token opens the mailbox for months, so it goes where the account's password goes: into the desktop
// keyring where a Secret Service takes it (an item of kind refresh-token, filed under the account's server name,
// ID and protocol like the password), else into the settings file, scrambled like the password (keys
// RefreshToken and RefreshScramble of the account's section, written together; a token longer than one password
// is scrambled in pieces of 32 bytes, each with a position list of its own).
//
// How a reader knows where to look, without a key of its own: a token in the file is the one to use, wherever
// else the account keeps secrets (files from before the keyring held tokens have SecretStore "1" and the token in
// the file); with none there, SecretStore "1" ("this account's secrets are in the keyring") sends the reader to
// the keyring; else the account is not signed in. So a token always goes in with SecretStore "1" and an empty
// RefreshToken, in one write of the file, and the programs that read SecretStore for the password keep working.

enum class TokenPlace {
    none,    // no token kept: the account is not signed in
    file,    // scrambled in the settings file
    keyring, // in the desktop keyring
};

// What a read found.
struct TokenRead {
    TokenPlace place = TokenPlace::none;
    SecretResult keyring = SecretResult::ok; // for a token in the keyring, the keyring's answer
    std::string reason;                      // the keyring's own words for a refusal
};

// Account index's refresh token into token (wiped first; empty when none is kept). The account's server name, ID,
// protocol and SecretStore are taken from g_settings. The keyring is asked within wait_ms, and raises an unlock
// prompt only with SecretUnlock::ask. 0 with the token or with none kept; -1 when the file cannot be read or the
// keyring did not give the token (read->keyring says why: locked, not_found, ...).
int refresh_token_load(int index, std::string& token, SecretUnlock unlock, int wait_ms, TokenRead* read = nullptr);

// Puts a new token where the old one was read (place from refresh_token_load): the provider may hand out a new
// refresh token with an access token. Never moves it and never asks to unlock: the notifier calls this. -1 when
// it was not kept.
int refresh_token_replace(int index, std::string_view token, TokenPlace place, int wait_ms);

// What a sign-in's save did.
struct TokenSave {
    bool in_keyring = false;                 // false: scrambled into the file
    SecretResult keyring = SecretResult::ok; // the keyring's answer to the store
    std::string reason;                      // the keyring's own words for a refusal
};

// The sign-in's save of a new token (the option program). The account's server name, ID, protocol and password
// are read from the file first, so the item is filed under the account as the notifier will look it up. Into the
// keyring where one takes it (the desktop may ask to unlock it): then the file keeps no token, and an account that
// still had its password in the file moves it to the keyring too, for SecretStore "1" speaks for both. Else
// scrambled into the file, SecretStore as it was. -1 when the file was not read or written.
int refresh_token_save(int index, std::string_view token, TokenSave& save);

// Drops a token kept in the file (the account it was given to has gone, or the token moved). -1 when the file was
// not written.
int refresh_token_forget_file(int index);

// The file's own form, which the others use: writes the token scrambled (empty: removes it), and reads it back
// (empty when none is kept or the pair cannot be read). -1 when the file was not written or cannot be read.
int refresh_token_file_save(int index, std::string_view token);
int refresh_token_file_load(int index, std::string& token);
