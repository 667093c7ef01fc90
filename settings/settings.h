// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

// Every field holds its value as a zero-terminated text. Each field is one byte wider than the widest value the
// tools let a user type, so a value typed at the full limit keeps its terminator; a longer value read from the
// file is cut to fit.
inline constexpr int kAccountCount = 3;

// An account's keys (UserAccount) and the others (Settings), each a field of its key's width and its terminator,
// as the key table lists them.
struct UserAccount {
#define KD5_ACCOUNT_KEY(name, width, rule, fill) char name[(width) + 1];
#include "settings/key_table.def"
};

struct Settings {
#define KD5_KEY(name, group, width, rule, fill) char name[(width) + 1];
#include "settings/key_table.def"
    UserAccount user[kAccountCount];
};

// The program's one record. The notifier's window and job threads share it: the command keys, which both
// threads refresh and write, go through the locked accessors of settings_access.h.
extern Settings g_settings;

// Empties every field (program start; tests).
void settings_clear();
