#include "mail/imap/imap.h"

#include "mail/check_stop.h"
#include "mail/imap/imap_session.h"

#include <climits>

namespace {

int result_of(ImapSession::Result r) {
    // A stop ends the pass: the count is not known.
    return r == ImapSession::Result::failed || r == ImapSession::Result::stopped ? -1 : 0;
}

} // namespace

// Without sender filters only the count is asked for; with them, the numbers whose headers are read.
int imap_check(const Account& account) {
    ImapSession session(account);
    check_stop_arm();
    session.watch_stop(check_stop_due);
    ImapSession::Result r = session.open();
    if (r == ImapSession::Result::ok) {
        r = session.examine();
    }
    const SenderFilters& filters = account.filters;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> unseen;
    if (r == ImapSession::Result::ok) {
        r = filters.any() ? session.search_unseen(unseen) : session.count_unseen(count);
    }
    int hits = 0;
    if (r == ImapSession::Result::ok && filters.any() && !unseen.empty()) {
        r = session.fetch_headers(unseen, [&](std::string_view block) { hits += filters.hits(block); });
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
