// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// File access with the behaviour of the private-profile functions that the settings store relies on.

// The settings file is a few kilobytes; anything larger is not ours and is refused rather than read into memory.
inline constexpr std::size_t kProfileMaxBytes = 1024 * 1024;

// Reads the whole file at path into text in one read. A missing file (ENOENT) is an empty text and succeeds.
// Returns false with errno set, and text empty, for a file that cannot be opened or read, a symbolic link (ELOOP),
// anything but a regular file (EINVAL: a FIFO or a device is never waited on), a file over kProfileMaxBytes
// (EFBIG) or a read that ends short of the file's size (EIO).
bool profile_read(const char* path, std::string& text);

// Replaces the file at path with text (mode 0600) by writing a new file beside it and renaming it over the old, so
// that a crash leaves the old or the new file, never half of one. False with errno set when it could not.
bool profile_replace(const std::string& path, const std::string& text);

// Copies the value of key in section of the file at path into out (at most size - 1 bytes, always terminated
// when size > 0), or def when the file, section or key is missing or the file cannot be read (profile_read).
// Returns the number of bytes copied.
std::size_t profile_get_string(const char* section, const char* key, const char* def, char* out, std::size_t size,
                               const char* path);

struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
};

enum class ProfileWrite {
    done,
    lock_busy,  // the writers' lock stayed taken for the whole wait (errno ETIMEDOUT); nothing was written
    unreadable, // the current file could not be read whole (errno from profile_read); nothing was written
    failed,     // the lock file, the temporary file or the rename failed (errno set); the old file stays
};

// Sets every entry in the file at path in one transaction: one lock, one read of the current file, one temporary
// file renamed over it, so a reader sees all of the entries or none. Creates the file (mode 0600), sections and
// keys as needed. Writers of all processes are serialised by an exclusive lock on path + ".lock", waited for at
// most the timing record's settings_lock_wait_ms. The lock's holder also removes temporary files that a killed
// writer left behind. A line break in a value ends it there. A file that exists but cannot be read is never
// replaced: its keys would be lost.
ProfileWrite profile_write_entries(const std::vector<ProfileEntry>& entries, const char* path);

// One entry; true when it was written.
bool profile_write_string(const char* section, const char* key, const char* value, const char* path);
