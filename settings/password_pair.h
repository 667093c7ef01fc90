// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Replaces the password text (an account's Password field, in place) by its scrambled form and sets the account's
// Scramble field to a fresh position list. Touches no file. A password longer than 32 bytes is cut to 32 (never
// inside a UTF-8 character). An empty password leaves Scramble as it was.
void scramble_password(int index, char* password);

// Replaces the scrambled text (in place) by the plain password, with the account's Scramble field as the key.
// Touches no file. A pair that cannot be read (a hand-edited list or a scrambled form too short for it) gives the
// empty password.
void unscramble_password(int index, char* password);

// An account's Password and Scramble keys belong together: a Password read with another save's Scramble is a
// garbled password. These move both in one read or one write of the settings file.
// ini_read_password reads the pair, and with it SecretStore, which says whether the password is in the pair at all
// (account_secret.h); it leaves the plain password in the account's Password field (empty for a password in the
// keyring). When the file cannot be read the fields are left as they were and the result is -1.
int ini_read_password(int index);
// ini_write_password scrambles the plain password in the account's Password field (in place, with a fresh
// position list) and writes the pair; -1 when the file was not written.
int ini_write_password(int index);
