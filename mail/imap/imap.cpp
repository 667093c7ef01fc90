#include "mail/imap/imap.h"

#include "mail/imap/imap_session.h"

#include <climits>

namespace {

int result_of(ImapSession::Result r) {
    return r == ImapSession::Result::failed ? -1 : 0;
}

} // namespace

int imap_check(const Account& account) {
    ImapSession session(account);
    ImapSession::Result r = session.open();
    if (r == ImapSession::Result::ok) {
        r = session.examine();
    }
    std::vector<std::uint32_t> unseen;
    if (r == ImapSession::Result::ok) {
        r = session.search_unseen(unseen);
    }
    if (r != ImapSession::Result::ok) {
        return result_of(r);
    }
    int result = unseen.size() > INT_MAX ? INT_MAX : static_cast<int>(unseen.size());
    const SenderFilters& filters = account.filters;
    if (filters.any()) {
        int hits = 0;
        if (!unseen.empty()) {
            r = session.fetch_headers(unseen, [&](std::string_view block) { hits += filters.hits(block); });
            if (r != ImapSession::Result::ok) {
                return result_of(r);
            }
        }
        result = hits;
    }
    session.logout();
    return result;
}
