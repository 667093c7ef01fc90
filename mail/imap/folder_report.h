// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"
#include "mail/imap/folder_choice.h"

#include <string>
#include <vector>

// What the diagnosis (kd5lite --check) tells of an IMAP account's folders: each watched folder with its count, and
// how the push watches it while monitoring runs.

struct FolderReport {
    std::string name;     // UTF-8
    bool missing = false; // the server does not have it: left out
    long long count = 0;  // unseen messages, or with sender filters the hits in them
    FolderWatch watch = FolderWatch::interval;
};

// Logs in on a connection of its own (the account signed in for it already), finds the watched folders as the
// push does, counts each, and says how the push would watch each: all by NOTIFY where the server offers it and
// there are several, else IDLE on the first three (a server's per-user limit may leave fewer) and the interval for
// the rest; the interval for all without IDLE. 0, or -1 when the connection failed, its line written and how it
// ended in *outcome.
int folder_report(const Account& account, std::vector<FolderReport>& folders, CheckOutcome* outcome = nullptr);

// One folder's line: "Work: 2 unseen messages, pushed by NOTIFY", "Old: not on the server, left out".
std::string folder_report_line(const FolderReport& folder, bool sender_filters);
