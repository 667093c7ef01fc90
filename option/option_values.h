// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iterator>
#include <string>

// What the option pages turn between the settings file and their controls. Plain C++, so it is tested without
// widgets.

// The sender condition list, the same in every account; an item's index is the value stored in the account's
// three SpecialSearch keys, as the mail check reads it.
inline constexpr const char* kConditionItems[] = {"0.无条件", "1.完全一致", "2.部分一致"};
inline constexpr int kConditionCount = static_cast<int>(std::size(kConditionItems));

// The list entry that a stored SpecialSearch value selects, taken as a decimal number (empty is 0); -1, nothing
// selected, for a number that names no item.
int condition_entry(const char* value);

// The protocol list, the same in every account; an item's index is the value stored in Protocol.
inline constexpr const char* kProtocolItems[] = {"0.POP3", "1.IMAP"};

// The list entry that a stored Protocol value selects, read as the mail check reads it (leading digits, empty is
// POP3), or -1, nothing selected, for a value the check refuses.
int protocol_entry(const char* value);

// The connection security list, the same in every account; an item's index is the value stored in Security.
inline constexpr const char* kSecurityItems[] = {"0.无", "1.STLS", "2.SSL/TLS"};

// The list entry that a stored Security value selects: the mode the mail check reads in it, or -1, nothing
// selected, for a value the check refuses, so that the page never shows a mode the check would not use.
int security_entry(const char* value);

// Bytes a sound file path may take: the SoundFile field holds this many plus its terminator.
int sound_path_room();

// Whether a chosen path (UTF-8) can be stored whole. A longer one would lose its tail on storing and name another
// file, or none.
bool sound_path_fits(const std::string& path);
