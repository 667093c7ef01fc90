// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/log_markers.h"

#include "logging/log_gate.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

namespace {

Key marker_key(LogKind kind) {
    return kind == LogKind::err ? Key::ErrorLog : Key::StateLog;
}

std::string marker(LogKind kind) {
    return settings_get(marker_key(kind));
}

std::string stored_marker(LogKind kind, std::string& report) {
    const Key key = marker_key(kind);
    char section[64];
    key_section(key, 0, section, sizeof section);
    char stored[kIniReadSize];
    if (ini_get_reporting(section, key_name(key), stored, report) != 0 || stored[0] == '\0') {
        return {};
    }
    settings_set(key, stored);
    return stored;
}

void move_marker(LogKind kind, const char* value, std::string& report) {
    settings_put_reporting(marker_key(kind), value, report);
}

} // namespace

void connect_log_markers() {
    set_log_gate({marker, stored_marker, move_marker});
}
