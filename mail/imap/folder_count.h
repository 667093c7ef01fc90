// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"
#include "mail/imap/imap_session.h"
#include "mail/core/sender_filters.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The count of one folder on a session that is open already: the check's own connection, or a push watcher's,
// which counts on the connection that told of the change instead of opening another. Only EXAMINE, STATUS,
// UID SEARCH and UID FETCH of BODY.PEEK: nothing here changes a flag.

// What one count of a folder found.
struct FolderCount {
    std::string name;     // UTF-8
    bool missing = false; // the server refused to open it: it is left out
    long long count = 0;  // unseen messages, or with sender filters the hits in them
    std::string validity; // its UIDVALIDITY; empty when the server named none
    struct Counted {
        std::uint32_t uid;
        int weight;
    };
    std::vector<Counted> messages; // the counted messages by UID, with their weights
    // Header blocks of up to three unseen messages that the count before did not see, newest first: for the
    // desktop notification (none with sender filters, whose notification names no message).
    std::vector<std::pair<std::uint32_t, std::string>> newest;
    std::uint64_t news_order = 0; // when those were found: higher is later, across every folder of the process
};

// What a folder's last count leaves for the next: its unseen UIDs with their hits, so that only new messages are
// fetched, and its UIDVALIDITY and HIGHESTMODSEQ (CONDSTORE, RFC 7162), so that a folder whose HIGHESTMODSEQ stayed
// is not opened at all.
struct FolderMemory {
    bool known = false;
    std::string validity;
    std::uint64_t modseq = 0;
    std::map<std::uint32_t, int> unseen; // UID -> weight
    FolderCount last;
};

// Counts folder on session. told: what a STATUS of it already said (NOTIFY's notice, LIST-STATUS), or nullptr;
// a folder that is examined now is counted there at once. memory is read and renewed. The newest headers are
// fetched when the count is above headers_above (-1: whenever there are new messages; kNoHeaders: never).
inline constexpr long long kNoHeaders = 0x7fffffffffffffffLL;
ImapSession::Result count_folder(ImapSession& session, const std::string& folder, const SenderFilters& filters,
                                 const MailboxStatus* told, FolderMemory& memory, FolderCount& out,
                                 long long headers_above = -1);

// The folders the account watches, in watch order (INBOX first), on a session that is logged in: Folder alone, the
// list of Folders, or every folder of the server's LIST; and the statuses a LIST-STATUS (RFC 5819) brought on the
// way, where the server offers it and the account watches more than one folder.
ImapSession::Result watched_folders(ImapSession& session, const Account& account, std::vector<std::string>& folders,
                                    std::vector<MailboxStatus>& told);

// The acknowledge's id of a message: the folder (as a short hash of its name), its UIDVALIDITY and its UID, so that
// a folder rebuilt under another UIDVALIDITY names other messages.
std::string folder_message_id(const std::string& folder, const std::string& validity, std::uint32_t uid);

// Writes the line for a folder that the server refuses to open, once until it opens again; index names the account.
void note_folder_missing(int index, const std::string& folder, bool missing);

// The account's count over its folders, and with ids what names it: every counted message by folder_message_id,
// the header blocks of the newest new messages when the count is above ids->announce_above, and with several,
// each folder's count (watches: how each is watched, as FolderTally::pushed_by says; empty: all at the interval).
long long tally_folders(const std::vector<FolderCount>& counts, bool several, CheckIds* ids,
                        const std::vector<std::string>& watches = {});
