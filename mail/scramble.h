#pragma once

// Replaces the password text (an account's Password field, in place) by its scrambled form, sets the account's
// Scramble field to a fresh position list and writes the Scramble key; the caller writes Password. A password
// longer than 32 bytes is cut to 32 (never inside a UTF-8 character). An empty password leaves Scramble as it was.
void scramble_password(int index, char* password);

// Reads the account's Scramble key and replaces the password text (in place) by the plain password. A pair that
// cannot be read (a hand-edited list or a scrambled form too short for it) gives the empty password.
void unscramble_password(int index, char* password);
