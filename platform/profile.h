#pragma once

#include <cstddef>

// File access with the behaviour of the private-profile functions that the settings store relies on.

// Copies the value of key in section of the file at path into out (at most size - 1 bytes, always terminated
// when size > 0), or def when the file, section or key is missing. Returns the number of bytes copied.
std::size_t profile_get_string(const char* section, const char* key, const char* def, char* out, std::size_t size,
                               const char* path);

// Sets key in section of the file at path, creating the file (mode 0600), the section or the key as needed.
// Writers of all processes are serialised by an exclusive lock on path + ".lock"; the new text goes to a
// temporary file in the same directory that is renamed over the old one, so a reader sees the old or the new
// file, never a half-written one. A line break in the value ends it there. Returns false when nothing was written.
bool profile_write_string(const char* section, const char* key, const char* value, const char* path);
