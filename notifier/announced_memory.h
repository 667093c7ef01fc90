// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"
#include "notifier/acknowledge_memory.h"

#include <set>
#include <string>
#include <string_view>

// What the monitor has told of one account's mail already: the messages its checks counted, by id (UIDL over
// POP3, UID within UIDVALIDITY over IMAP), or by count where the server names none. Kept in a state file of its
// own beside the acknowledge memory, so that a restart or an outage does not announce the same mail again. Pure:
// the file and the lock are announcements.cpp's.
struct AnnouncedMemory {
    AccountIdentity identity; // another server, user, protocol or folder makes the memory mean nothing
    bool by_id = false;
    std::string validity;      // IMAP UIDVALIDITY the ids belong to
    std::set<std::string> ids; // by id: every message counted at the last check
    long long count = 0;       // by count: the count of the last check
    bool operator==(const AnnouncedMemory&) const = default;
};

// Whether a message is one the memory has told of (the check's question, before the memory takes the check in).
bool was_announced(const AnnouncedMemory& memory, const AccountIdentity& identity, std::string_view validity,
                   std::string_view id);

// What a check brought that was not told of before.
struct FreshMail {
    long long count = 0;       // how many
    std::set<std::string> ids; // which, by id; empty by count
    bool by_id = false;
};

// Takes a check that worked into the memory and says what of it is news: by id, the counted messages it did not
// hold; by count, the rise above the last count. It then holds the check's messages (within the acknowledge
// memory's bounds, beyond them by count), so mail that left the server is forgotten. Another identity or
// UIDVALIDITY makes everything news. Whether the memory changed is told through *changed.
FreshMail take_check(AnnouncedMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids,
                     bool* changed);

// The state file's text for three accounts, and its reading back. A text that is not in this form, or beyond the
// bounds, gives empty memories: mail told of twice rather than mail never told of.
std::string announced_file_text(const AnnouncedMemory (&accounts)[3]);
void announced_file_parse(std::string_view text, AnnouncedMemory (&accounts)[3]);
