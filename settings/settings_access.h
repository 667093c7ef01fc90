// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/keys.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// Size of ini_get's buffer for a raw read; a longer value is cut. The per-key reads below are not bound by it: they
// see a value whole and cut it to its key's field, however wide the key.
inline constexpr std::size_t kIniReadSize = 256;

// Raw access to the settings file, one key per call. A missing file or key reads as empty and succeeds. Both
// return -1, with one error-log line, when the file cannot be read (it exists but is unreadable, not a regular
// file, a link or over 1 MiB; the buffer is then empty) or cannot be written (then it is left as it was: a write
// never replaces a file it could not read, and waits for the writers' lock only so long).
int ini_get(const char* section, const char* key, char (&buffer)[kIniReadSize]);
int ini_put(const char* section, const char* key, const char* value);
// The same for values that live outside the settings record and may be longer than any field (a refresh token's
// stored form): the whole value, and several keys of one section in one transaction.
int ini_get_text(const char* section, const char* key, std::string& value);
int ini_put_texts(const char* section, std::initializer_list<std::pair<const char*, std::string>> values);
// ini_get and settings_put for the log writers' day markers, called from inside a writer: the error line of a
// failure is handed back in report (left as it was when there is none) instead of written.
int ini_get_reporting(const char* section, const char* key, char (&buffer)[kIniReadSize], std::string& report);
int settings_put_reporting(Key key, const char* value, std::string& report, int index = 0);

// Moves one key between the file and its g_settings field. ini_read_key hands a trace line to the reg family;
// when the file cannot be read it leaves the field as it was and returns -1. ini_write_key writes the fixed
// values for Company, Brand, Product and Type whatever the record holds; -1 when the file was not written.
int ini_read_key(Key key, int index = 0);
int ini_write_key(Key key, int index = 0);

// The same for keys that must travel together (an account's Password and Scramble): all of them are read from
// one read of the file, or written in one transaction, so no other program sees one without the other.
int ini_read_keys(std::initializer_list<Key> keys, int index = 0);
int ini_write_keys(std::initializer_list<Key> keys, int index = 0);
// The same for a list made at run time: the keys a page changed.
int ini_write_keys(const std::vector<Key>& keys, int index = 0);

// How many writes of this process have failed so far; the tools compare it around an Apply to tell the user.
int settings_write_failures();

// Why the last failed write of this process failed, for the tools' message box: the error log that says it in
// full is off unless the user switched it on. error, when given, gets the errno of the failure.
enum class WriteFailure {
    none,       // no write has failed yet
    lock_busy,  // another program held the writers' lock for the whole wait
    unreadable, // the current file could not be read whole, so it was not replaced
    other,      // the lock file, the temporary file or the rename failed
};
WriteFailure settings_last_write_failure(int* error = nullptr);

// The notifier's own mailbox keys (Answer, State, Error, Job) whose write failed are written again with the next
// write; this writes them now when there are any. -1 when they could not be written yet.
int settings_retry_writes();

// Fills the key's default when its field is empty (notifier only); 0 when the value was present, -1 when it was
// missing. Never touches the file.
int ini_check_key(Key key, int index = 0);

// Locked access to a field, for values that two threads refresh and write (the command keys).
std::string settings_get(Key key, int index = 0);
// The same into a fixed buffer of size bytes (cut to fit), for the plain password: no std::string copy of it.
void settings_get_into(Key key, char* out, std::size_t size, int index = 0);
int settings_number(Key key, int index = 0);
void settings_set(Key key, const char* value, int index = 0);

// Sets a field and writes it to the file in one step; -1 when the file was not written.
int settings_put(Key key, const char* value, int index = 0);
