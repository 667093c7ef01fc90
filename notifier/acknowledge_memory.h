// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"

#include <set>
#include <string>
#include <string_view>

// What the user acknowledged (已读) of one account: the messages that waited then, so that the lamp shows only mail
// that came after. Nothing is ever set on the server. Pure: the file and the lock are acknowledge.h's.

// What an acknowledge was made for; another server, user or folder makes it mean nothing.
struct AccountIdentity {
    std::string server;
    std::string user;
    std::string folder;
    bool operator==(const AccountIdentity&) const = default;
};

struct AckMemory {
    enum class Kind { none, ids, count };
    Kind kind = Kind::none;
    AccountIdentity identity;
    std::string validity;      // the check's UIDVALIDITY (CheckIds::validity); IMAP ids carry their folder's own
    std::set<std::string> ids; // Kind::ids
    long long count = 0;       // Kind::count: a server without UIDL
    bool operator==(const AckMemory&) const = default;
};

// Bounds of the memory: an id is 1 to 70 visible ASCII characters (RFC 1939's unique-id), and no account keeps
// more ids than this; a maildrop beyond it is acknowledged by count.
inline constexpr std::size_t kAckIdMax = 70;
inline constexpr std::size_t kAckIdsMax = 4000;

// The count the lamp is to show: what the check counted less what was acknowledged. Forgets what no longer waits
// (an acknowledged message taken away; a count that fell), and everything when the identity or UIDVALIDITY
// changed. Whether memory changed is told through *changed.
long long count_after_ack(AckMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids,
                          bool* changed);

// Acknowledges what the last check saw: its messages by id when it named them all, else its count.
void acknowledge(AckMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids);

// The state file's text for three accounts, and its reading back. A text that is not in this form, or beyond the
// bounds, gives accounts with no memory (a lamp that lights again rather than one that stays dark).
std::string ack_file_text(const AckMemory (&accounts)[3]);
void ack_file_parse(std::string_view text, AckMemory (&accounts)[3]);
