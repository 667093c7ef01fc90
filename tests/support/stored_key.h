// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/profile.h"
#include "settings/keys.h"

#include <string>

// The value of a key as the settings file holds it now, or "<missing>" when the file has no such key.
inline std::string stored_key(Key key, int index = 0) {
    char section[64];
    key_section(key, index, section, sizeof section);
    char value[512];
    profile_get_string(section, key_name(key), "<missing>", value, sizeof value, settings_file_path());
    return value;
}
