// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"
#include "platform/local_time.h"
#include "platform/text.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/program_dir.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/settings_lock.h"

#include <cstdio>
#include <cstring>

namespace {

// Fills the value the key's rule gives for an empty field.
void fill_value(Key key, char* out, std::size_t size) {
    switch (key_row(key).rule) {
    case CheckRule::fill_dir: get_program_dir(out, size); break;
    case CheckRule::fill_day: {
        LocalTime t{};
        get_local_time(t);
        std::snprintf(out, size, "0%02d", t.day);
        break;
    }
    default: std::snprintf(out, size, "%s", key_row(key).fill); break;
    }
}

// "corvo.Name", "command.Name" or "corvo.user[i].Name", as the check's trace lines name a key.
void trace_name(Key key, int index, char* out, std::size_t size) {
    switch (key_group(key)) {
    case KeyGroup::Command: std::snprintf(out, size, "command.%s", key_name(key)); break;
    case KeyGroup::Account: std::snprintf(out, size, "corvo.user[%d].%s", index, key_name(key)); break;
    default: std::snprintf(out, size, "corvo.%s", key_name(key)); break;
    }
}

void check_trace(Key key, int index, bool filled, const char* value) {
    if (key_row(key).rule == CheckRule::when_on_mute) {
        return;
    }
    char name[64];
    trace_name(key, index, name, sizeof name);
    char line[kWidestField + 96];
    if (filled) {
        // The Type line has two blanks before "default".
        std::snprintf(line, sizeof line, key == Key::Type ? "check %s( %s )  default set" : "check %s( %s ) default set",
                      name, value);
    } else {
        std::snprintf(line, sizeof line, "check %s", name);
    }
    write_trace(LogKind::reg, 0, line);
    std::snprintf(line, sizeof line, "check registry no %s", name);
    write_trace(LogKind::dbg, 0, line);
}

} // namespace

int ini_check_key(Key key, int index) {
    const CheckRule rule = key_row(key).rule;
    // A password in the keyring leaves the file's Password empty on purpose: it is not missing.
    if (rule == CheckRule::none || (key == Key::Password && password_in_keyring(index))) {
        return 0;
    }
    bool on = account_on(index);
    if (key == Key::Password && account_auth(index) == CredentialKind::oauth2) {
        on = false; // an OAuth2 account signs in with a token: no password is missing
    }
    char value[kWidestField];
    bool empty;
    {
        std::lock_guard lock(settings_field_mutex());
        FieldRef f = key_field(key, index);
        empty = f.data[0] == '\0';
        std::memcpy(value, f.data, f.size);
    }
    switch (rule) {
    case CheckRule::report:
    case CheckRule::when_on:
    case CheckRule::when_on_mute:
        if (!empty || (rule != CheckRule::report && !on)) {
            return 0;
        }
        check_trace(key, index, false, value);
        return -1;
    default:
        if (rule != CheckRule::fixed && !empty) {
            return 0;
        }
        fill_value(key, value, sizeof value);
        settings_set(key, value, index);
        check_trace(key, index, true, settings_get(key, index).c_str());
        return rule == CheckRule::fixed ? 0 : -1;
    }
}
