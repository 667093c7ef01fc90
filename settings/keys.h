// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kd5_version.h"

#include <algorithm>
#include <cstddef>

// Every key of the settings file, in the order the file holds them (key_table.def). Account keys take an account
// index 0 to 2 wherever a key is used.
enum class Key {
#define KD5_KEY(name, group, width, rule, fill) name,
#define KD5_ACCOUNT_KEY(name, width, rule, fill) name,
#include "settings/key_table.def"
};

inline constexpr int kKeyCount = 0
#define KD5_KEY(name, group, width, rule, fill) +1
#define KD5_ACCOUNT_KEY(name, width, rule, fill) +1
#include "settings/key_table.def"
    ;

// Bytes of the widest field of the settings record, its terminator included.
inline constexpr std::size_t kWidestField = std::max({
    std::size_t{0},
#define KD5_KEY(name, group, width, rule, fill) std::size_t{(width) + 1},
#define KD5_ACCOUNT_KEY(name, width, rule, fill) std::size_t{(width) + 1},
#include "settings/key_table.def"
});

enum class KeyGroup {
    Identity, // section "corvo"
    System,   // section "corvo\KD-5lite"
    Command,  // section "corvo\KD-5lite", the command mailbox
    Account,  // sections "corvo\KD-5lite\user00" to "user02"
};

inline constexpr char kSectionIdentity[] = "corvo";
inline constexpr char kSectionSystem[] = "corvo\\KD-5lite";
inline constexpr char kSectionAccountPattern[] = "corvo\\KD-5lite\\user%02d";
inline constexpr char kSettingsFileName[] = "corvo_kd5lite.ini";

// What the notifier's check does with an empty value (the rules of key_table.def).
enum class CheckRule { fill, fill_dir, fill_day, fixed, report, when_on, when_on_mute, none };

// One row of the key table.
struct KeyRow {
    const char* name;
    KeyGroup group;
    int width;        // bytes a value may take; its field holds one more
    CheckRule rule;
    const char* fill; // what the check fills in (rules fill and fixed); the Identity keys are always written so
};
const KeyRow& key_row(Key key);

const char* key_name(Key key);
KeyGroup key_group(Key key);
int key_width(Key key);

// The field of key in g_settings (account keys: of account index, which must be 0 to 2) and its size in bytes.
struct FieldRef {
    char* data;
    std::size_t size;
};
FieldRef key_field(Key key, int index = 0);

// The section that holds key, written into out (at least 32 bytes).
void key_section(Key key, int index, char* out, std::size_t size);

// Path of the settings file.
const char* settings_file_path();

// Values the notifier always writes.
inline constexpr char kCompany[] = "KESTREL CO.,LTD.";
inline constexpr char kBrand[] = "corvo";
inline constexpr char kProduct[] = "KD-5";
inline constexpr char kType[] = "lite2";
inline constexpr char kVersion[] = "Ver " KD5_VERSION;
inline constexpr char kLanguage[] = "Japanese";
