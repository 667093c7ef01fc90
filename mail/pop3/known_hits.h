// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/pop3/uidl_listing.h"

#include <string>

// What the sender filters found in each account's messages, by unique id, so that a check reads the headers of new
// messages only. An account's memory counts only for the server, user and filters it was learned with (its key)
// and lasts while the monitor runs.

// The account's memory if it was learned under key; otherwise it is dropped and an empty list comes back.
UidList take_known_hits(int index, const std::string& key);
// Keeps list as what the account's messages hold under key.
void keep_known_hits(int index, std::string key, UidList list);
// Drops every account's memory; the monitor's end calls it, so a restarted monitor reads every message again.
void forget_known_hits();
