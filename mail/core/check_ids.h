// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Which messages make up a check's count, for the acknowledge: POP3 by unique id (UIDL, RFC 1939), IMAP by UID
// within the folder's UIDVALIDITY (RFC 3501 2.3.1.1). A message counts weight times: once without sender
// conditions, its hits with them.
struct CountedMessage {
    std::string id;
    int weight = 1;
};

// One folder of an IMAP account that watches several, as the tray, the notification and the diagnosis show it.
struct FolderTally {
    std::string name;      // UTF-8
    long long count = 0;   // what it adds to the account's count
    std::string pushed_by; // "NOTIFY", "IDLE", or empty: counted at the interval
};

struct CheckIds {
    // Asked by the monitor: when the count is above this (the count it saw last), the check also reads the headers
    // of the newest new messages. -1: no headers.
    long long announce_above = -1;
    // Asked by the monitor: whether a message was announced already, by its folder's UIDVALIDITY (empty over POP3)
    // and its id. Where the check names its messages, the headers read are those of the newest ones not announced
    // yet, at most three; announce_above counts only where it cannot.
    std::function<bool(std::string_view validity, std::string_view id)> announced;

    bool known = false;    // the server named every counted message; false: only the count is known
    std::string validity;  // IMAP UIDVALIDITY; empty over POP3
    std::vector<CountedMessage> messages;
    // Header blocks (From, Subject, Date) of up to three of the messages not announced yet, newest first, for the
    // desktop notification; the check reads no more than that.
    std::vector<std::string> newest_headers;
    std::vector<std::string> newest_ids; // their ids, in the same order; empty strings where the check has none
    // Where the account watches several IMAP folders: the folder of each of newest_headers, and each folder's count.
    std::vector<std::string> newest_folders;
    std::vector<FolderTally> folders;
};
