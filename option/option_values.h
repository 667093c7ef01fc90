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

// The text of the security list's entry 1 under a protocol entry: the command that upgrades the connection is
// STLS in POP3 (RFC 2595) and STARTTLS in IMAP (RFC 3501), and the list names the one the check will send.
const char* upgrade_item(int protocol_entry);

// The authentication list: an item's index is the value stored in Auth.
inline constexpr const char* kAuthItems[] = {"0.密码", "1.OAuth2"};

// The entry a stored Auth value selects, read as the mail check reads it: 1 is OAuth2, anything else the password.
int auth_entry(const char* value);

// The OAuth2 token source list: an item's index plus one is the value stored in OAuthSource.
inline constexpr const char* kSourceItems[] = {"1.浏览器登录", "2.GNOME在线帐户", "3.令牌命令"};

// The entry a stored OAuthSource value selects (its leading digits, 1 to 3), or -1 for a value the check refuses.
int source_entry(const char* value);
// The OAuthSource value of an entry; "" for none chosen.
std::string source_value(int entry);

// The OAuth2 provider list; the stored OAuthProvider values are the names the token sources compare with.
inline constexpr const char* kProviderItems[] = {"Google", "Microsoft", "自定义"};
inline constexpr const char* kProviderValues[] = {"google", "microsoft", "custom"};

// The entry a stored OAuthProvider value selects, or -1 for a name the token sources do not know.
int provider_entry(const std::string& value);
// The OAuthProvider value of an entry; "" for none chosen.
std::string provider_value(int entry);

// Bytes a sound file path may take: the SoundFile field holds this many plus its terminator.
int sound_path_room();

// Whether a chosen path (UTF-8) can be stored whole. A longer one would lose its tail on storing and name another
// file, or none.
bool sound_path_fits(const std::string& path);
