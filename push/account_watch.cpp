// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/account_watch.h"

#include "logging/log.h"
#include "mail/imap/imap_session.h"
#include "mail/net/mail_connection.h"
#include "mail/sasl/access_token.h"
#include "platform/timing.h"
#include "push/monitor_wake.h"
#include "push/route_check.h"

#include <algorithm>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;
using Result = ImapSession::Result;

// For the answers to DONE and LOGOUT together when a connection leaves: a stop closes every connection within a
// second.
constexpr int kGoodbyeWaitMs = 800;
// Counts made again at once because the server told of more changes while one ran; beyond them the next IDLE's
// notice brings the next.
constexpr int kRecountRounds = 3;

// Every count of every folder of the process, in the order they began: of two counts of one folder, the later wins.
std::atomic<std::uint64_t> g_order{0};

template <typename Body> bool start_thread(std::thread& thread, Body body) {
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error& e) {
        write_error_logf("job start ---> A thread cannot be started[error: %d]", e.code().value());
        return false;
    }
}

int left_ms(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return static_cast<int>(std::max(0LL, static_cast<long long>(left)));
}

// Whether a connection survives a change of addresses or routes: only a change of its own is its end.
bool still_routed(const ImapSession& session) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    return session.endpoints(local, peer) && route_holds(local, peer);
}

// Whether a pass should see a count: its number, its messages, or news to announce.
bool differs(const FolderCount& before, const FolderCount& now) {
    if (before.count != now.count || before.missing != now.missing || before.messages.size() != now.messages.size() ||
        !now.newest.empty()) {
        return true;
    }
    for (std::size_t i = 0; i < now.messages.size(); ++i) {
        if (before.messages[i].uid != now.messages[i].uid || before.messages[i].weight != now.messages[i].weight) {
            return true;
        }
    }
    return false;
}

const MailboxStatus* status_of(const std::vector<MailboxStatus>& told, const std::string& folder) {
    auto found = std::find_if(told.begin(), told.end(), [&folder](const MailboxStatus& s) { return s.name == folder; });
    return found != told.end() ? &*found : nullptr;
}

} // namespace

// One connection of the watch: its thread, and the signal that ends whatever it waits for. Every wait polls the
// socket together with the signal, so nothing else wakes it.
struct AccountWatch::Link {
    int number = 0;     // 0: the primary
    std::string folder; // the folder a secondary IDLEs on
    CancelSignal signal;
    std::atomic<unsigned> reasons{0};
    std::atomic<bool> up{false};      // in IDLE, its counts current
    std::atomic<bool> waiting{false}; // in a wait with no command under way: IDLE's, or the backoff's
    std::atomic<bool> done{false};    // the thread has ended
    std::thread thread;

    // A stop or a resume ends whatever the connection waits for. A count asked for or a change of the network ends
    // only the wait in IDLE: raised in the middle of a count's command, the signal would cut that command short
    // and lose the connection; the wait after the count takes them up.
    void raise(unsigned why) {
        reasons |= why;
        if ((why & (kWatchStop | kWatchResumed)) != 0 || waiting) {
            signal.raise();
        }
    }
    // Enters or leaves such a wait; entering, a request that came meanwhile ends the wait at once.
    void set_waiting(bool now) {
        waiting = now;
        if (now && (reasons.load() & (kWatchCount | kWatchNetwork)) != 0) {
            signal.raise();
        }
    }
    // The reasons raised since the last look; the signal is cleared, unless a stop keeps it raised.
    unsigned take_reasons() {
        signal.clear();
        const unsigned why = reasons.fetch_and(kWatchStop);
        if ((why & kWatchStop) != 0) {
            signal.raise();
        }
        return why;
    }
    bool stopping() const { return (reasons.load() & kWatchStop) != 0; }
};

AccountWatch::AccountWatch(const Account& account) : account_(account) {
    links_.push_back(std::make_unique<Link>());
}

AccountWatch::~AccountWatch() {
    stop();
}

bool AccountWatch::start() {
    Link& primary = *links_.front();
    return start_thread(primary.thread, [this, &primary] { run(primary); });
}

void AccountWatch::raise(unsigned why) {
    std::lock_guard lock(mutex_);
    for (auto& link : links_) {
        link->raise(why);
    }
}

void AccountWatch::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& link : links_) {
            link->raise(kWatchStop);
        }
    }
    answered_.notify_all();
    // The primary first: once it has ended, no connection is started any more.
    if (links_.front()->thread.joinable()) {
        links_.front()->thread.join();
    }
    for (auto& link : links_) {
        if (link->thread.joinable()) {
            link->thread.join();
        }
    }
}

void AccountWatch::run(Link& link) {
    const Timing t = timing();
    const int index = account_.index;
    const bool primary = link.number == 0;
    int backoff = t.idle_backoff_first_ms;
    if (primary && account_.credential.kind == CredentialKind::oauth2 && account_.security == MailSecurity::plain) {
        // No token goes out in clear: the pass's check says so at every pass, and nothing is asked of the source.
        write_state_logf("Email arrival of the mail push --> The end[No.%d]", index);
        link.done = true;
        return;
    }
    while (!link.stopping()) {
        // Each connection of an OAuth2 account signs in with the token of the moment: the last may have expired,
        // and a server may end the connection when it does (as Microsoft's does). A source that cannot give one
        // (a revoked sign-in, a failing token command) is asked again only after the backoff, which keeps growing:
        // neither the provider nor the server is asked more than once per wait.
        Account signed_in = account_;
        if (sign_account(signed_in) != 0) {
            set_state(primary, PushState::down);
            pause_before_retry(link, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        ImapSession session(std::move(signed_in));
        session.set_cancel(link.signal.fd());
        const Opened opened = open(session, link);
        // The session's own word, not the account's shared note, which a check running meanwhile may take.
        if (opened == Opened::failed && session.token_refused()) {
            ask_token_renewal(index); // the next connection, after the wait, with a renewed token
        }
        if (link.stopping()) {
            leave(session, link); // the stop came while connecting: the connection must not outlive the run
            break;
        }
        if (opened == Opened::no_idle) {
            if (primary) {
                write_state_logf("Email arrival of the mail push --> No IDLE[No.%d]", index);
            }
            break; // the interval alone drives this account's checks
        }
        if (opened == Opened::failed && refused_for_limit(session, link)) {
            // A second connection refused while the first is logged in with the same credentials: the server's
            // limit of connections per user is reached. This folder is counted at the interval until the primary
            // connects again, and no refused login is tried over and over meanwhile.
            break;
        }
        if (opened == Opened::failed) {
            set_state(primary, PushState::down);
            pause_before_retry(link, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        if (primary) {
            write_state_logf("Email arrival of the mail push --> A start[No.%d]", index);
        }
        set_state(primary, PushState::up);
        const Clock::time_point since = Clock::now();
        const Leave why = stay(session, link);
        {
            std::lock_guard lock(mutex_);
            link.up = false;
            primary_up_ = primary_up_ && !primary;
        }
        answered_.notify_all();
        leave(session, link);
        // Only a connection that held for a while was sound: one the server drops at once keeps the backoff
        // growing, or it would log in again every second for ever.
        if (Clock::now() - since >= std::chrono::milliseconds(t.idle_settled_ms)) {
            backoff = t.idle_backoff_first_ms;
        }
        if (why == Leave::gone) {
            set_state(primary, PushState::down);
            pause_before_retry(link, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
        }
    }
    set_state(primary, PushState::none);
    if (primary) {
        write_state_logf("Email arrival of the mail push --> The end[No.%d]", index);
    }
    link.done = true;
}

// The tray tells whether the account's push holds: the primary connection, which every other one follows.
void AccountWatch::set_state(bool primary, PushState state) {
    if (primary) {
        state_ = state;
    }
}

// Logs in, and where the server offers IDLE (RFC 2177) begins the watch: read-only, nothing here changes a flag.
AccountWatch::Opened AccountWatch::open(ImapSession& session, Link& link) {
    if (session.open() != Result::ok) {
        session.close();
        return Opened::failed;
    }
    if (!session.offers("IDLE")) {
        session.logout();
        return Opened::no_idle;
    }
    session.keep_alive(); // a failure is logged; the renewal still finds a dead link, only later
    const bool begun = link.number == 0 ? begin_primary(session, link) : begin_secondary(session, link);
    if (!begun) {
        session.close();
        return Opened::failed;
    }
    return Opened::ready;
}

bool AccountWatch::refused_for_limit(const ImapSession& session, const Link& link) {
    const CheckFailure failure = session.outcome().failure;
    std::lock_guard lock(mutex_);
    if (link.number == 0 || !primary_up_ ||
        (failure != CheckFailure::refused && failure != CheckFailure::refused_login)) {
        return false;
    }
    for (Slot& slot : slots_) {
        if (slot.name == link.folder) {
            slot.watch = FolderWatch::interval;
        }
    }
    limited_ = true;
    write_state_logf("Email arrival of the mail push --> The server allows no more connections[No.%d]", account_.index);
    return true;
}

// Counts each folder on the session, each from the memory its last count left, and publishes the counts.
bool AccountWatch::count_folders(ImapSession& session, const std::vector<std::string>& folders,
                                 const std::vector<MailboxStatus>& told, bool announce, bool full) {
    const std::uint64_t began = ++g_order;
    std::vector<Counted> counted;
    for (const std::string& folder : folders) {
        Counted& c = counted.emplace_back();
        {
            std::lock_guard lock(mutex_);
            for (const Slot& slot : slots_) {
                if (slot.name == folder) {
                    c.memory = slot.memory;
                }
            }
        }
        if (count_folder(session, folder, account_.filters, status_of(told, folder), c.memory, c.count) != Result::ok) {
            return false;
        }
        note_folder_missing(account_.index, folder, c.count.missing);
    }
    publish(counted, began, announce, full);
    return true;
}

// The slots of the folders, the counts of folders kept that are still watched, and how each is watched.
void AccountWatch::plan(const std::vector<std::string>& folders, bool notify) {
    const std::vector<FolderWatch> watches = folder_watches(folders.size(), notify, true, kMaxIdleFolders);
    std::lock_guard lock(mutex_);
    std::vector<Slot> next;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        auto kept = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.name == folders[i]; });
        Slot& slot = next.emplace_back(kept != slots_.end() ? std::move(*kept) : Slot{});
        slot.name = folders[i];
        slot.watch = watches[i];
    }
    slots_ = std::move(next);
    notify_ = notify;
    planned_ = true;
}

// One connection for each folder after the first that IDLE watches, the next started once the one before is up;
// those of folders no longer so watched end.
void AccountWatch::start_links() {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return;
    }
    std::vector<std::string> wanted;
    for (std::size_t i = 1; i < slots_.size(); ++i) {
        if (slots_[i].watch == FolderWatch::idle) {
            wanted.push_back(slots_[i].name);
        }
    }
    for (std::size_t i = 1; i < links_.size(); ++i) {
        Link& link = *links_[i];
        if (!link.stopping() && std::find(wanted.begin(), wanted.end(), link.folder) == wanted.end()) {
            link.raise(kWatchStop);
        }
        if (!link.stopping()) {
            wanted.erase(std::find(wanted.begin(), wanted.end(), link.folder));
        }
    }
    // Those that have ended are let go: a watch lives for days, and its plan may change now and then.
    for (auto it = links_.begin() + 1; it != links_.end();) {
        if ((*it)->done && (*it)->thread.joinable()) {
            (*it)->thread.join();
            it = links_.erase(it);
        } else {
            ++it;
        }
    }
    // One at a time, in watch order: under a per-user limit the first folders get the connections, and once one is
    // refused none after it is tried.
    if (wanted.empty() || limited_) {
        return;
    }
    auto link = std::make_unique<Link>();
    link->number = static_cast<int>(links_.size());
    link->folder = wanted.front();
    Link* started = link.get();
    if (start_thread(link->thread, [this, started] { run(*started); })) {
        links_.push_back(std::move(link));
    }
}

// The primary's start: which folders, their counts, then NOTIFY for all of them, or IDLE on the first and
// connections of their own for the next; a pass follows, since mail may have come while nobody listened.
bool AccountWatch::begin_primary(ImapSession& session, Link& link) {
    std::vector<std::string> folders;
    std::vector<MailboxStatus> told;
    if (watched_folders(session, account_, folders, told) != Result::ok) {
        return false;
    }
    FolderChoice choice;
    folder_choice(account_.folders, account_.folder, choice);
    const bool several = choice.kind != FolderChoice::Kind::one;
    plan(folders, false);
    if (!count_folders(session, folders, told, false, false)) {
        return false;
    }
    // The folders that are gone go last, counted at the interval, in case they come back.
    std::vector<std::string> present;
    std::vector<std::string> gone;
    {
        std::lock_guard lock(mutex_);
        for (const Slot& slot : slots_) {
            (slot.count.missing ? gone : present).push_back(slot.name);
        }
    }
    // NOTIFY only for several folders: one is watched as well by IDLE on it, with nothing more asked of the server.
    bool notify = session.offers("NOTIFY") && present.size() > 1;
    if (notify) {
        std::vector<MailboxStatus> statuses;
        bool refused = false;
        if (session.notify(
                present, [&statuses](const MailboxStatus& s) { statuses.push_back(s); }, &refused) != Result::ok) {
            return false;
        }
        if (refused) {
            write_state_logf("Email arrival of the mail push --> NOTIFY refused[No.%d]", account_.index);
            notify = false;
        } else if (!count_folders(session, present, statuses, false, false)) {
            return false; // what changed between the count and the NOTIFY
        }
    }
    std::vector<std::string> order = present;
    order.insert(order.end(), gone.begin(), gone.end());
    plan(order, notify);
    if (several) {
        const std::size_t idle = std::min(present.size(), kMaxIdleFolders);
        if (notify) {
            write_state_logf("Email arrival of the mail push --> NOTIFY for %d folders[No.%d]",
                             static_cast<int>(present.size()), account_.index);
        } else {
            write_state_logf("Email arrival of the mail push --> IDLE for %d folders, %d at the interval[No.%d]",
                             static_cast<int>(idle), static_cast<int>(order.size() - idle), account_.index);
        }
    }
    // With every folder gone there is nothing to examine: the IDLE only keeps the connection until they are back.
    if (!present.empty() ? !resume_watch(session, link) : session.start_idle() != Result::ok) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        primary_up_ = true;
        link.up = true;
        full_at_ = Clock::now();
    }
    if (!notify) {
        {
            std::lock_guard lock(mutex_);
            limited_ = false; // the limit is tried again once per connection of the primary
        }
        start_links();
    }
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    monitor_wake().notify(account_.index);
    return true;
}

// A secondary's start: its folder examined and counted, then IDLE.
bool AccountWatch::begin_secondary(ImapSession& session, Link& link) {
    bool missing = false;
    if (session.examine(link.folder, &missing) != Result::ok) {
        return false;
    }
    if (missing) {
        FolderCount gone;
        gone.name = link.folder;
        gone.missing = true;
        std::vector<Counted> counted{{gone, FolderMemory{}}};
        note_folder_missing(account_.index, link.folder, true);
        publish(counted, ++g_order, false, false);
        return false;
    }
    if (!count_folders(session, {link.folder}, {}, true, false) || session.start_idle() != Result::ok) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        for (Slot& slot : slots_) {
            if (slot.name == link.folder) {
                slot.watch = FolderWatch::idle;
            }
        }
        link.up = true;
    }
    start_links(); // the next folder's connection
    return true;
}

// The folder the primary IDLEs on when it does not NOTIFY: the first of the plan.
std::string AccountWatch::own_folder() const {
    std::lock_guard lock(mutex_);
    return slots_.empty() ? std::string() : slots_.front().name;
}

// Back to watching after a count: the primary examines its own folder again where a count opened another (and
// counts it there, so nothing between the two goes unseen), then IDLE. With NOTIFY too: the examined folder's
// changes reach the client as in plain IDLE, where a server learns of them from the folder itself, while NOTIFY's
// notices of the other folders come from the server's indexes, which a delivery written straight into a Maildir
// does not update (Dovecot). INBOX, the first folder, is where such deliveries go.
bool AccountWatch::resume_watch(ImapSession& session, Link& link) {
    if (link.number == 0) {
        const std::string own = own_folder();
        bool missing = false;
        if (session.examined() != own && (session.examine(own, &missing) != Result::ok || missing ||
                                          !count_folders(session, {own}, {}, false, false))) {
            return false;
        }
    }
    return session.start_idle() == Result::ok;
}

// The folders whose changes this connection counts: all for the NOTIFY connection, else its own.
std::vector<std::string> AccountWatch::folders_of(const Link& link) const {
    std::lock_guard lock(mutex_);
    if (link.number != 0) {
        return {link.folder};
    }
    std::vector<std::string> names;
    for (const Slot& slot : slots_) {
        if (notify_ || &slot == &slots_.front()) {
            names.push_back(slot.name);
        }
    }
    return names;
}

// The server told of changes, and the IDLE has ended: the changed folders counted on this connection, and the
// watch resumed. Changes told while the count ran are counted at once too, a few rounds at most.
bool AccountWatch::recount_changes(ImapSession& session, Link& link) {
    const std::vector<std::string> mine = folders_of(link);
    for (int round = 0; round < kRecountRounds && session.changes_pending(); ++round) {
        const ImapSession::Changes changes = session.take_changes();
        std::vector<std::string> folders;
        std::vector<MailboxStatus> told;
        for (const std::string& folder : mine) {
            const MailboxStatus* status = status_of(changes.statuses, folder);
            if (changes.everything || status != nullptr || (changes.selected && session.examined() == folder)) {
                folders.push_back(folder);
            }
            if (status != nullptr && !changes.everything) {
                told.push_back(*status);
            }
        }
        if (!folders.empty() && !count_folders(session, folders, told, false, false)) {
            return false;
        }
    }
    return resume_watch(session, link);
}

// The monitor asked for a count of everything (its interval pass), and the IDLE has ended: every folder, on the
// primary connection, with one LIST-STATUS where the server offers it. A changed set of folders begins the watch
// again.
bool AccountWatch::count_everything(ImapSession& session, Link& link) {
    std::vector<std::string> folders;
    std::vector<MailboxStatus> told;
    if (watched_folders(session, account_, folders, told) != Result::ok) {
        return false;
    }
    std::vector<std::string> planned;
    {
        std::lock_guard lock(mutex_);
        for (const Slot& slot : slots_) {
            planned.push_back(slot.name);
        }
    }
    std::vector<std::string> sorted_now = folders;
    std::vector<std::string> sorted_planned = planned;
    std::sort(sorted_now.begin(), sorted_now.end());
    std::sort(sorted_planned.begin(), sorted_planned.end());
    if (sorted_now != sorted_planned) {
        return false; // folders made or deleted on the server: the next connection plans them afresh
    }
    session.take_changes(); // whatever they were, everything is counted now
    if (!count_folders(session, planned, told, false, true)) {
        return false;
    }
    return resume_watch(session, link);
}

AccountWatch::Leave AccountWatch::stay(ImapSession& session, Link& link) {
    const Timing t = timing();
    auto renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
    for (;;) {
        link.set_waiting(true);
        const ImapSession::IdleEvent event = session.wait_idle(left_ms(renew_at));
        link.set_waiting(false);
        const unsigned why = link.take_reasons();
        if ((why & kWatchStop) != 0) {
            return Leave::stopped;
        }
        // After a suspend the server has most likely given the connection up without a word.
        if ((why & kWatchResumed) != 0 || ((why & kWatchNetwork) != 0 && !still_routed(session))) {
            return Leave::network;
        }
        if (event == ImapSession::IdleEvent::gone) {
            return Leave::gone;
        }
        const bool everything = (why & kWatchCount) != 0 && link.number == 0;
        const bool renew = Clock::now() >= renew_at;
        if (event != ImapSession::IdleEvent::change && !everything && !renew) {
            continue;
        }
        // DONE ends the IDLE; no answer to it means a dead connection: the server may be stopped or gone without a
        // word. The renewal counts what changed meanwhile, as a change does.
        if (session.stop_idle(t.idle_answer_ms) != Result::ok ||
            !(everything ? count_everything(session, link) : recount_changes(session, link))) {
            return Leave::gone;
        }
        renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
    }
}

void AccountWatch::publish(std::vector<Counted>& counted, std::uint64_t began, bool announce, bool full) {
    bool changed = false;
    bool up = false;
    {
        std::lock_guard lock(mutex_);
        for (Counted& c : counted) {
            auto slot =
                std::find_if(slots_.begin(), slots_.end(), [&c](const Slot& s) { return s.name == c.count.name; });
            if (slot == slots_.end() || began < slot->order) {
                continue; // a folder no longer watched, or a later count of it is in already
            }
            changed = changed || !slot->counted || differs(slot->count, c.count);
            slot->count = std::move(c.count);
            slot->memory = std::move(c.memory);
            slot->order = began;
            slot->counted = true;
        }
        if (full) {
            full_at_ = Clock::now();
            answered_count_ = asked_;
        }
        // The monitor, when it asked, takes the count itself; else a pass comes for what changed.
        changed = changed && !full;
        pending_ = pending_ || changed || announce;
        up = primary_up_;
    }
    answered_.notify_all();
    if ((changed || announce) && up) {
        monitor_wake().notify(account_.index);
    }
}

bool AccountWatch::take_count(CheckIds* ids, long long& count, long long fresh_ms, bool (*stopped)()) {
    std::unique_lock lock(mutex_);
    if (!planned_ || !primary_up_ || stopping_) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    bool stale = now - full_at_ > std::chrono::milliseconds(fresh_ms);
    for (const Slot& slot : slots_) {
        stale = stale || !slot.counted;
    }
    if (stale) {
        const std::uint64_t ticket = ++asked_;
        links_.front()->raise(kWatchCount);
        const Clock::time_point deadline = now + std::chrono::milliseconds(2 * MailConnection::receive_budget_ms());
        while (answered_count_ < ticket) {
            if (!primary_up_ || stopping_ || Clock::now() >= deadline) {
                return false;
            }
            answered_.wait_until(lock,
                                 std::min(deadline, Clock::now() + std::chrono::milliseconds(timing().stop_poll_ms)));
            if (stopped != nullptr && answered_count_ < ticket) {
                lock.unlock();
                const bool stop = stopped();
                lock.lock();
                if (stop) {
                    return false;
                }
            }
        }
    }
    FolderChoice choice;
    folder_choice(account_.folders, account_.folder, choice);
    std::vector<FolderCount> counts;
    std::vector<std::string> watches;
    for (Slot& slot : slots_) {
        counts.push_back(slot.count);
        counts.back().name = slot.name;
        slot.count.newest.clear(); // announced once
        bool pushed = slot.watch == FolderWatch::notify;
        if (slot.watch == FolderWatch::idle) {
            pushed = std::any_of(links_.begin(), links_.end(), [&slot, this](const std::unique_ptr<Link>& l) {
                return l->up && (l->number == 0 ? &slot == &slots_.front() : l->folder == slot.name);
            });
        }
        watches.emplace_back(!pushed ? "" : slot.watch == FolderWatch::notify ? "NOTIFY" : "IDLE");
    }
    pending_ = false;
    count = tally_folders(counts, choice.kind != FolderChoice::Kind::one, ids, watches);
    return true;
}

// Waits up to ms before the next try; a stop or a change of the network ends the wait early (a new route may be
// what the server was waiting for).
void AccountWatch::pause_before_retry(Link& link, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!link.stopping()) {
        const int left = left_ms(end);
        link.set_waiting(true);
        const bool raised = left > 0 && link.signal.wait(left);
        link.set_waiting(false);
        if (left <= 0 || (raised && (link.take_reasons() & ~kWatchCount) != 0)) {
            return;
        }
    }
}

// DONE and LOGOUT, then close; a connection that is gone is only closed. The goodbye's waits are its own: a stop
// must not cut it short, and its answer is awaited briefly. The next connection listens to the signal again.
void AccountWatch::leave(ImapSession& session, Link& link) {
    session.set_cancel(-1);
    if (session.is_open()) {
        session.logout(kGoodbyeWaitMs); // DONE first when an IDLE is under way
    }
    session.close();
    session.set_cancel(link.signal.fd());
}
