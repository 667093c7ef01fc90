// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Where an account's OAuth2 refresh token is kept until the desktop keyring holds it: in the settings file,
// scrambled like the password (keys RefreshToken and RefreshScramble of the account's section, moved together).
// A token longer than one password is scrambled in pieces of 32 bytes, each with a position list of its own.
// These two functions are the one place that knows; keeping it in the keyring instead changes only them.

// Writes the token (empty: removes what was kept). -1 when the file was not written.
int refresh_token_save(int index, std::string_view token);
// The kept token into token (empty when none is kept or the pair cannot be read). -1 when the file cannot be read.
int refresh_token_load(int index, std::string& token);
