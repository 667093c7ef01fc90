#pragma once

#include "settings/keys.h"

#include <string>

// Size of the raw read buffer: room for the widest field and more, so a value too long for its field is seen
// whole and then cut to fit.
inline constexpr std::size_t kIniReadSize = 256;

// Raw access to the settings file, one key per call. Both return 0 in every case.
int ini_get(const char* section, const char* key, char (&buffer)[kIniReadSize]);
int ini_put(const char* section, const char* key, const char* value);

// Moves one key between the file and its g_settings field. ini_read_key hands a trace line to the reg family.
// ini_write_key writes the fixed values for Company, Brand, Product and Type whatever the record holds.
int ini_read_key(Key key, int index = 0);
int ini_write_key(Key key, int index = 0);

// Fills the key's default when its field is empty (notifier only); 0 when the value was present, -1 when it was
// missing. Never touches the file.
int ini_check_key(Key key, int index = 0);

// Locked access to a field, for values that two threads refresh and write (the command keys).
std::string settings_get(Key key, int index = 0);
// The same into a fixed buffer of size bytes (cut to fit), for the plain password: no std::string copy of it.
void settings_get_into(Key key, char* out, std::size_t size, int index = 0);
int settings_number(Key key, int index = 0);
void settings_set(Key key, const char* value, int index = 0);

// Sets a field and writes it to the file in one step.
void settings_put(Key key, const char* value, int index = 0);
