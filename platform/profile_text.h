// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The private-profile (INI) rules on a file's text, without touching a file:
// section and key names match without regard to ASCII case, blanks around names and values are ignored,
// a value in matching double or single quotes comes back without them, the first section and the first key
// of a name count, and lines may end in CR LF or LF.

// The value of key in section, or nothing when the section or key is missing.
std::optional<std::string> profile_find(std::string_view text, std::string_view section, std::string_view key);

// The text with key in section set to value: the key's line is replaced, or the key is added after the last
// entry of its section, or the section is added at the end. Every other line stays as it was, byte for byte.
// New lines end in CR LF.
std::string profile_update(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value);
