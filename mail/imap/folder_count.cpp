// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/folder_count.h"

#include "logging/log.h"
#include "logging/log_text.h"
#include "mail/imap/folder_choice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

namespace {

using Result = ImapSession::Result;

std::atomic<std::uint64_t> g_news{0};

// The folders the error log has been told are gone, by account: each is told once until it opens again.
std::mutex g_missing_mutex;
std::set<std::pair<int, std::string>> g_missing;

// The last count over again, with nothing new to announce.
void repeat(const FolderMemory& memory, FolderCount& out) {
    out = memory.last;
    out.newest.clear();
}

// A folder without unseen mail: nothing to open.
void nothing_unseen(const std::string& folder, const MailboxStatus& status, FolderMemory& memory, FolderCount& out) {
    memory.known = true;
    memory.validity = status.uidvalidity >= 0 ? std::to_string(status.uidvalidity) : std::string();
    memory.modseq = status.highestmodseq;
    memory.unseen.clear();
    out = FolderCount{};
    out.name = folder;
    out.validity = memory.validity;
    memory.last = out;
}

// The headers of up to three of the new UIDs, the highest first.
Result fetch_newest(ImapSession& session, const std::vector<std::uint32_t>& fresh, FolderCount& out) {
    std::vector<std::uint32_t> newest(fresh.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, fresh.size())),
                                      fresh.end());
    std::map<std::uint32_t, std::string> blocks;
    const Result r = session.uid_fetch_headers(
        newest, [&blocks](std::uint32_t uid, std::string_view block) { blocks[uid] = std::string(block); });
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
        out.newest.emplace_back(it->first, std::move(it->second));
    }
    out.news_order = ++g_news;
    return r;
}

} // namespace

ImapSession::Result count_folder(ImapSession& session, const std::string& folder, const SenderFilters& filters,
                                 const MailboxStatus* told, FolderMemory& memory, FolderCount& out,
                                 long long headers_above) {
    out = FolderCount{};
    out.name = folder;
    MailboxStatus status;
    bool missing = false;
    if (session.examined() != folder) {
        // STATUS on the folder examined now is to be avoided (RFC 3501 6.3.10); any other is asked first, so that
        // a folder without unseen mail, or one whose HIGHESTMODSEQ stayed, is never opened.
        if (told != nullptr && told->unseen >= 0) {
            status = *told;
        } else if (Result r = session.status(folder, status, &missing); r != Result::ok || missing) {
            out.missing = missing;
            memory = FolderMemory{};
            return r;
        }
        const bool same_validity = status.uidvalidity >= 0 && std::to_string(status.uidvalidity) == memory.validity;
        if (memory.known && same_validity && status.highestmodseq != 0 && status.highestmodseq == memory.modseq) {
            repeat(memory, out);
            return Result::ok;
        }
        if (status.unseen == 0) {
            nothing_unseen(folder, status, memory, out);
            return Result::ok;
        }
        if (Result r = session.examine(folder, &missing); r != Result::ok || missing) {
            out.missing = missing;
            memory = FolderMemory{};
            return r;
        }
    }
    std::vector<std::uint32_t> uids;
    if (Result r = session.uid_search_unseen(uids); r != Result::ok) {
        return r;
    }
    out.validity = session.uid_validity();
    if (!memory.known || out.validity != memory.validity) {
        memory.unseen.clear(); // another folder under the same name: its UIDs are other messages
    }
    std::vector<std::uint32_t> fresh;
    std::map<std::uint32_t, int> unseen;
    for (std::uint32_t uid : uids) {
        auto known = memory.unseen.find(uid);
        if (known == memory.unseen.end()) {
            fresh.push_back(uid);
        }
        unseen[uid] = known != memory.unseen.end() ? known->second : 1;
    }
    if (filters.any() && !fresh.empty()) {
        // Only the messages the count before did not see: the hits of the others are known.
        Result r = session.uid_fetch_headers(fresh, [&](std::uint32_t uid, std::string_view block) {
            if (auto it = unseen.find(uid); it != unseen.end()) {
                it->second = filters.hits(block);
            }
        });
        if (r != Result::ok) {
            return r;
        }
    }
    for (const auto& [uid, weight] : unseen) {
        out.count += weight;
        if (weight > 0) {
            out.messages.push_back({uid, weight});
        }
    }
    if (!filters.any() && !fresh.empty() && out.count > headers_above) {
        if (Result r = fetch_newest(session, fresh, out); r != Result::ok) {
            return r;
        }
    }
    memory.known = true;
    memory.validity = out.validity;
    memory.modseq = status.highestmodseq; // 0 for a folder counted where it is examined: its next look opens it
    memory.unseen = std::move(unseen);
    memory.last = out;
    return Result::ok;
}

ImapSession::Result watched_folders(ImapSession& session, const Account& account, std::vector<std::string>& folders,
                                    std::vector<MailboxStatus>& told) {
    FolderChoice choice;
    folder_choice(account.folders, account.folder, choice); // an unsound key is the check's to tell
    told.clear();
    folders = choice.names;
    const bool every = choice.kind == FolderChoice::Kind::every;
    if (!every && (choice.kind == FolderChoice::Kind::one || !session.statuses_listed())) {
        folders = watch_order(std::move(folders));
        return Result::ok;
    }
    std::vector<ListedMailbox> listed;
    if (Result r = session.list_folders(listed, &told); r != Result::ok) {
        return r;
    }
    if (every) {
        std::vector<ServerFolder> listing;
        for (ListedMailbox& m : listed) {
            listing.push_back({std::move(m.name), std::move(m.delimiter), std::move(m.attributes)});
        }
        folders = every_folder(listing);
    }
    folders = watch_order(std::move(folders));
    return Result::ok;
}

std::string folder_message_id(const std::string& folder, const std::string& validity, std::uint32_t uid) {
    // FNV-1a, 64 bits: short and printable, and one account's few folders do not meet by chance.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : folder) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%016llx/%s/%u", static_cast<unsigned long long>(hash),
                  validity.substr(0, 10).c_str(), uid);
    return text;
}

void note_folder_missing(int index, const std::string& folder, bool missing) {
    std::lock_guard lock(g_missing_mutex);
    const auto key = std::make_pair(index, folder);
    if (!missing) {
        g_missing.erase(key);
        return;
    }
    if (g_missing.insert(key).second) {
        write_error_logf("check mail ---> The IMAP folder is gone and is left out [%s][no.%d error: %d]",
                         log_safe_text(folder).c_str(), index, ENOENT);
    }
}

long long tally_folders(const std::vector<FolderCount>& counts, bool several, CheckIds* ids,
                        const std::vector<std::string>& watches) {
    long long total = 0;
    for (const FolderCount& c : counts) {
        total += c.missing ? 0 : c.count;
    }
    if (ids == nullptr) {
        return total;
    }
    ids->known = true;
    ids->validity.clear(); // each id carries its folder's
    struct Newest {
        std::uint64_t order;
        std::uint32_t uid;
        const std::string* folder;
        const std::string* block;
        std::string id;
    };
    std::vector<Newest> newest;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const FolderCount& c = counts[i];
        if (several) {
            ids->folders.push_back({c.name, c.missing ? 0 : c.count, i < watches.size() ? watches[i] : ""});
        }
        if (c.missing) {
            continue;
        }
        ids->known = ids->known && (!c.validity.empty() || c.messages.empty());
        for (const FolderCount::Counted& m : c.messages) {
            ids->messages.push_back({folder_message_id(c.name, c.validity, m.uid), m.weight});
        }
        for (const auto& [uid, block] : c.newest) {
            std::string id = folder_message_id(c.name, c.validity, uid);
            if (!ids->announced || !ids->announced(ids->validity, id)) { // told of before a restart: not news
                newest.push_back({c.news_order, uid, &c.name, &block, std::move(id)});
            }
        }
    }
    if (ids->announce_above < 0 || total <= ids->announce_above) {
        return total;
    }
    std::sort(newest.begin(), newest.end(),
              [](const Newest& a, const Newest& b) { return a.order != b.order ? a.order > b.order : a.uid > b.uid; });
    const std::size_t take = static_cast<std::size_t>(std::min<long long>(3, total - ids->announce_above));
    for (std::size_t i = 0; i < newest.size() && i < take; ++i) {
        ids->newest_headers.push_back(*newest[i].block);
        ids->newest_ids.push_back(newest[i].id);
        if (several) {
            ids->newest_folders.push_back(*newest[i].folder);
        }
    }
    return total;
}
