// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap.h"

#include "logging/log.h"
#include "mail/core/check_ids.h"
#include "mail/core/check_stop.h"
#include "mail/imap/folder_choice.h"
#include "mail/imap/folder_count.h"
#include "mail/imap/imap_session.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <set>

namespace {

using Result = ImapSession::Result;

int result_of(Result r) {
    // A stop ends the pass: the count is not known.
    return r == Result::failed || r == Result::stopped ? -1 : 0;
}

int clamped(long long count) {
    return count > INT_MAX ? INT_MAX : static_cast<int>(std::max(0LL, count));
}

// One folder, as an account without Folders watches it: without sender filters and without the ids asked for, the
// count alone (ESEARCH's COUNT where offered); else the UIDs of the unseen messages (UID SEARCH), whose headers the
// filters read and which name the counted messages for the acknowledge.
Result count_one(ImapSession& session, const Account& account, CheckIds* ids, long long& count) {
    Result r = session.examine();
    if (r != Result::ok) {
        return r;
    }
    if (!account.filters.any() && ids == nullptr) {
        std::uint32_t n = 0;
        r = session.count_unseen(n);
        count = n;
        return r;
    }
    FolderMemory memory;
    FolderCount folder;
    const long long headers_above = ids != nullptr && ids->announce_above >= 0 ? ids->announce_above : kNoHeaders;
    r = count_folder(session, session.examined(), account.filters, nullptr, memory, folder, headers_above);
    count = tally_folders({folder}, false, ids);
    return r;
}

// Several folders over the one connection: each asked for its STATUS first (or read from LIST-STATUS), and opened
// only when it holds unseen mail.
Result count_several(ImapSession& session, const Account& account, CheckIds* ids, long long& count) {
    std::vector<std::string> folders;
    std::vector<MailboxStatus> statuses;
    if (Result r = watched_folders(session, account, folders, statuses); r != Result::ok) {
        return r;
    }
    const long long headers_above = ids != nullptr && ids->announce_above >= 0 ? 0 : kNoHeaders;
    std::vector<FolderCount> counts;
    for (const std::string& folder : folders) {
        auto told = std::find_if(statuses.begin(), statuses.end(),
                                 [&folder](const MailboxStatus& s) { return s.name == folder; });
        FolderMemory memory;
        FolderCount& c = counts.emplace_back();
        Result r = count_folder(session, folder, account.filters, told != statuses.end() ? &*told : nullptr, memory, c,
                                headers_above);
        if (r != Result::ok) {
            return r;
        }
        note_folder_missing(account.index, folder, c.missing);
    }
    count = tally_folders(counts, true, ids);
    return Result::ok;
}

// A Folders key that is no list: said once per account and text, and Folder alone is watched.
void note_unsound_choice(const Account& account) {
    static std::mutex mutex;
    static std::set<std::pair<int, std::string>> told;
    std::lock_guard lock(mutex);
    if (told.insert({account.index, account.folders}).second) {
        write_error_logf("check mail ---> The Folders setting is abnormal: Folder alone is watched[no.%d error: %d]",
                         account.index, EINVAL);
    }
}

// The check over one session, whose outcome says how it ended.
int check_session(ImapSession& session, const Account& account, CheckIds* ids) {
    session.watch_stop(check_stop_due);
    FolderChoice choice;
    if (!folder_choice(account.folders, account.folder, choice)) {
        note_unsound_choice(account);
    }
    Result r = session.open();
    long long count = 0;
    if (r == Result::ok) {
        r = choice.kind == FolderChoice::Kind::one ? count_one(session, account, ids, count)
                                                   : count_several(session, account, ids, count);
    }
    if (r != Result::ok) {
        return result_of(r);
    }
    session.logout();
    return clamped(count);
}

} // namespace

int imap_check(const Account& account, CheckIds* ids, CheckOutcome* outcome) {
    if (ids != nullptr) {
        CheckIds asked; // announce_above and announced are asked by the caller; the rest is the answer
        asked.announce_above = ids->announce_above;
        asked.announced = std::move(ids->announced);
        *ids = std::move(asked);
    }
    ImapSession session(account);
    check_stop_arm();
    const int result = check_session(session, account, ids);
    if (outcome != nullptr) {
        *outcome = session.outcome();
    }
    return result;
}

CheckOutcome imap_probe(const Account& account, bool login_too, const ProbeReport& report) {
    ImapSession session(account);
    session.observe(report);
    if ((login_too ? session.open() : session.reach()) == ImapSession::Result::ok) {
        session.logout();
    }
    return session.outcome();
}

int imap_list_folders(const Account& account, std::vector<ServerFolder>& folders, CheckOutcome* outcome,
                      int cancel_fd) {
    folders.clear();
    ImapSession session(account);
    session.set_cancel(cancel_fd);
    std::vector<ListedMailbox> listed;
    Result r = session.open();
    if (r == Result::ok) {
        r = session.list_folders(listed);
    }
    for (ListedMailbox& m : listed) {
        folders.push_back({std::move(m.name), std::move(m.delimiter), std::move(m.attributes)});
    }
    if (outcome != nullptr) {
        *outcome = session.outcome();
    }
    if (r != Result::ok) {
        return -1;
    }
    session.set_cancel(-1);
    session.logout();
    return 0;
}

CheckOutcome imap_probe_tls(const Account& account, const ProbeReport& report) {
    ImapSession session(account);
    session.observe(report);
    session.take_tls_first();
    if (session.reach() == ImapSession::Result::ok) {
        session.logout();
    }
    return session.outcome();
}
