// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/keys.h"

#include "platform/corvo_dir.h"
#include "settings/settings.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace {

constexpr KeyRow kRows[] = {
#define KD5_KEY(name, group, width, rule, fill) {#name, KeyGroup::group, width, CheckRule::rule, fill},
#define KD5_ACCOUNT_KEY(name, width, rule, fill) {#name, KeyGroup::Account, width, CheckRule::rule, fill},
#include "settings/key_table.def"
};
static_assert(std::size(kRows) == kKeyCount);

template <std::size_t N> FieldRef ref(char (&field)[N]) {
    return {field, N};
}

} // namespace

const KeyRow& key_row(Key key) {
    return kRows[static_cast<int>(key)];
}

const char* key_name(Key key) {
    return key_row(key).name;
}

KeyGroup key_group(Key key) {
    return key_row(key).group;
}

int key_width(Key key) {
    return key_row(key).width;
}

FieldRef key_field(Key key, int index) {
    if (index < 0 || index >= kAccountCount) {
        index = 0;
    }
    Settings& s = g_settings;
    UserAccount& u = s.user[index];
    switch (key) {
#define KD5_KEY(name, group, width, rule, fill)                                                                        \
    case Key::name:                                                                                                    \
        return ref(s.name);
#define KD5_ACCOUNT_KEY(name, width, rule, fill)                                                                       \
    case Key::name:                                                                                                    \
        return ref(u.name);
#include "settings/key_table.def"
    }
    return ref(u.Notify); // not reached: the switch names every key
}

void key_section(Key key, int index, char* out, std::size_t size) {
    switch (key_group(key)) {
    case KeyGroup::Identity:
        std::snprintf(out, size, "%s", kSectionIdentity);
        break;
    case KeyGroup::System:
    case KeyGroup::Command:
        std::snprintf(out, size, "%s", kSectionSystem);
        break;
    case KeyGroup::Account:
        std::snprintf(out, size, kSectionAccountPattern, index);
        break;
    }
}

const char* settings_file_path() {
    // Built anew at each call: tests move the directory between cases.
    thread_local std::string path;
    path = corvo_path(kSettingsFileName);
    return path.c_str();
}
