// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// The login autostart of the notifier, per user, by the XDG autostart rule: an entry in the user's own autostart
// folder ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart) of the same file name as the system-wide one
// replaces it, and one with Hidden=true switches it off.

inline constexpr char kAutostartFileName[] = "kd5lite.desktop";

// The user's entry; empty when there is no home directory.
std::string user_autostart_path();

// Whether an entry of the system's config folders ($XDG_CONFIG_DIRS, else /etc/xdg) would start the notifier.
bool system_autostart_present();

// The text of the user's entry: it starts the program at path at login, or, switched off, says Hidden=true.
std::string autostart_entry_text(bool on, const std::string& path);

// A path as one argument of an Exec key, by the desktop entry rules: quoted in whole when it holds a reserved
// character (a space, a quote, $ and the like), with ", `, $ and \ escaped inside the quotes, % doubled, and the
// string value's own escapes (\\, \n, \t, \r) over all of it.
std::string desktop_exec_argument(const std::string& path);

// Whether an entry's text switches it off: Hidden=true, or the GNOME form X-GNOME-Autostart-enabled=false, in its
// [Desktop Entry] group.
bool autostart_entry_hidden(std::string_view text);

// Whether the notifier starts at this user's login: the user's own entry decides when there is one; else the
// system-wide entry, which starts it only for a user with a settings file.
bool autostart_at_login(bool settings_file_exists);

// Writes the user's entry (a new file renamed over the old one), making its folder when missing. 0, or -1 with
// errno set.
int autostart_write(bool on, const std::string& exec);
