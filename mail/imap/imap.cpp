// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap.h"

#include "mail/core/check_ids.h"
#include "mail/core/check_stop.h"
#include "mail/imap/imap_session.h"

#include <algorithm>
#include <climits>
#include <map>

namespace {

int result_of(ImapSession::Result r) {
    // A stop ends the pass: the count is not known.
    return r == ImapSession::Result::failed || r == ImapSession::Result::stopped ? -1 : 0;
}

// The newest of the unseen messages to announce, at most three: those whose UIDs the monitor did not announce yet,
// or without UIDs those above the count it saw last.
std::vector<std::uint32_t> newest_to_announce(const std::vector<std::uint32_t>& unseen,
                                              const std::map<std::uint32_t, std::string>& uids, const CheckIds& ids) {
    std::vector<std::uint32_t> sorted = unseen;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint32_t> newest;
    if (ids.announced && ids.known) {
        for (auto it = sorted.rbegin(); it != sorted.rend() && newest.size() < 3; ++it) {
            auto uid = uids.find(*it);
            if (uid != uids.end() && !ids.announced(ids.validity, uid->second)) {
                newest.push_back(*it);
            }
        }
        return newest;
    }
    const long long count = static_cast<long long>(unseen.size());
    if (ids.announce_above >= 0 && count > ids.announce_above) {
        const std::size_t take = static_cast<std::size_t>(std::min<long long>(3, count - ids.announce_above));
        newest.assign(sorted.end() - static_cast<std::ptrdiff_t>(take), sorted.end());
    }
    return newest;
}

// The UIDs of the counted messages, for the acknowledge: one FETCH (UID) when unseen mail waits. A message counts
// its hits with sender conditions (hits), else once.
ImapSession::Result name_messages(ImapSession& session, const std::vector<std::uint32_t>& unseen,
                                  const std::map<std::uint32_t, int>* hits, CheckIds& ids) {
    ids.validity = session.uid_validity();
    std::map<std::uint32_t, std::string> uids;
    if (!unseen.empty()) {
        if (ImapSession::Result r = session.fetch_uids(unseen, uids); r != ImapSession::Result::ok) {
            return r;
        }
    }
    ids.known = !ids.validity.empty() || unseen.empty();
    for (std::uint32_t number : unseen) {
        auto uid = uids.find(number);
        if (uid == uids.end()) {
            ids.known = false; // the acknowledge then goes by the count
            continue;
        }
        int weight = 1;
        if (hits != nullptr) {
            auto found = hits->find(number);
            weight = found != hits->end() ? found->second : 0;
        }
        if (weight > 0) {
            ids.messages.push_back({uid->second, weight});
        }
    }
    // For the desktop notification: the headers of the newest messages not announced yet, at most three, newest
    // first, in one FETCH (BODY.PEEK: no flag changes).
    const std::vector<std::uint32_t> newest = hits != nullptr ? std::vector<std::uint32_t>{}
                                                              : newest_to_announce(unseen, uids, ids);
    if (newest.empty()) {
        return ImapSession::Result::ok;
    }
    std::map<std::uint32_t, std::string> blocks;
    ImapSession::Result r = session.fetch_headers(
        newest, [&blocks](std::uint32_t number, std::string_view block) { blocks[number] = std::string(block); });
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
        ids.newest_headers.push_back(std::move(it->second));
        auto uid = uids.find(it->first);
        ids.newest_ids.push_back(uid != uids.end() ? uid->second : std::string());
    }
    return r;
}

// The check over one session, whose outcome says how it ended. Without sender filters and without the ids asked
// for, only the count is asked for; else the numbers, whose headers are read for the filters and whose UIDs name
// the counted messages.
int check_session(ImapSession& session, const Account& account, CheckIds* ids) {
    session.watch_stop(check_stop_due);
    ImapSession::Result r = session.open();
    if (r == ImapSession::Result::ok) {
        r = session.examine();
    }
    const SenderFilters& filters = account.filters;
    const bool numbers = filters.any() || ids != nullptr;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> unseen;
    if (r == ImapSession::Result::ok) {
        r = numbers ? session.search_unseen(unseen) : session.count_unseen(count);
    }
    if (numbers) {
        count = static_cast<std::uint32_t>(std::min<std::size_t>(unseen.size(), UINT32_MAX));
    }
    int hits = 0;
    std::map<std::uint32_t, int> hits_of;
    if (r == ImapSession::Result::ok && filters.any() && !unseen.empty()) {
        r = session.fetch_headers(unseen, [&](std::uint32_t number, std::string_view block) {
            const int found = filters.hits(block);
            hits += found;
            hits_of[number] += found;
        });
    }
    if (r == ImapSession::Result::ok && ids != nullptr) {
        r = name_messages(session, unseen, filters.any() ? &hits_of : nullptr, *ids);
    }
    if (r != ImapSession::Result::ok) {
        return result_of(r);
    }
    session.logout();
    if (filters.any()) {
        return hits;
    }
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
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

CheckOutcome imap_probe_tls(const Account& account, const ProbeReport& report) {
    ImapSession session(account);
    session.observe(report);
    session.take_tls_first();
    if (session.reach() == ImapSession::Result::ok) {
        session.logout();
    }
    return session.outcome();
}
