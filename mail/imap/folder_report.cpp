// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/folder_report.h"

#include "logging/log_text.h"
#include "mail/imap/folder_count.h"
#include "mail/imap/imap_session.h"

int folder_report(const Account& account, std::vector<FolderReport>& folders, CheckOutcome* outcome) {
    folders.clear();
    ImapSession session(account);
    std::vector<std::string> names;
    std::vector<MailboxStatus> told;
    ImapSession::Result r = session.open();
    if (r == ImapSession::Result::ok) {
        r = watched_folders(session, account, names, told);
    }
    const bool notify = session.offers("NOTIFY") && names.size() > 1;
    const std::vector<FolderWatch> watches =
        folder_watches(names.size(), notify, session.offers("IDLE"), kMaxIdleFolders);
    for (std::size_t i = 0; i < names.size() && r == ImapSession::Result::ok; ++i) {
        FolderMemory memory;
        FolderCount count;
        const MailboxStatus* status = nullptr;
        for (const MailboxStatus& s : told) {
            status = s.name == names[i] ? &s : status;
        }
        r = count_folder(session, names[i], account.filters, status, memory, count, kNoHeaders);
        folders.push_back({names[i], count.missing, count.count, watches[i]});
    }
    if (outcome != nullptr) {
        *outcome = session.outcome();
    }
    if (r != ImapSession::Result::ok) {
        return r == ImapSession::Result::refused ? 0 : -1;
    }
    session.logout();
    return 0;
}

std::string folder_report_line(const FolderReport& folder, bool sender_filters) {
    const std::string name = log_safe_text(folder.name); // the server's words, on a terminal
    if (folder.missing) {
        return name + ": not on the server, left out";
    }
    const char* how = folder.watch == FolderWatch::notify ? "pushed by NOTIFY"
                      : folder.watch == FolderWatch::idle ? "pushed by IDLE"
                                                          : "counted at the interval";
    return name + ": " + std::to_string(folder.count) + (sender_filters ? " sender hits, " : " unseen, ") + how;
}
