// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/push.h"

#include "logging/log.h"
#include "mail/imap/imap_session.h"
#include "mail/net/cancel_signal.h"
#include "mail/sasl/access_token.h"
#include "platform/timing.h"
#include "push/monitor_wake.h"
#include "push/network_watch.h"
#include "push/route_check.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// For the answers to DONE and LOGOUT together when the watcher leaves: a stop closes every connection within a second.
constexpr int kGoodbyeWaitMs = 800;

// Why a watcher's waits were cancelled; a stop stays, the others are taken once.
enum Reason : unsigned { kStop = 1, kNetwork = 2, kResumed = 4 };

// One IMAP account's watcher: its thread, and the signal that ends whatever it waits for, from a stop or a change
// of the network. Every wait of the watcher polls its socket together with the signal, so nothing wakes it
// otherwise.
struct Watcher {
    explicit Watcher(const Account& a) : account(a) {}

    void raise(unsigned why) {
        reasons |= why;
        signal.raise();
    }

    // The reasons raised since the last look; the signal is cleared, unless a stop keeps it raised.
    unsigned take_reasons() {
        signal.clear();
        unsigned why = reasons.fetch_and(kStop);
        if ((why & kStop) != 0) {
            signal.raise();
        }
        return why;
    }

    bool stopping() const { return (reasons.load() & kStop) != 0; }

    const Account account;
    CancelSignal signal;
    std::atomic<unsigned> reasons{0};
    std::thread thread;
};

// The watchers of the run in progress, and the thread that watches the network for them.
std::mutex g_mutex;
std::vector<std::unique_ptr<Watcher>> g_watchers;
CancelSignal g_network_stop;
std::thread g_network;

std::atomic<PushState> g_push_state[3];

void set_push_state(int account, PushState state) {
    if (account >= 0 && account < 3) {
        g_push_state[account] = state;
    }
}

void network_changed(bool resumed) {
    std::lock_guard lock(g_mutex);
    for (auto& w : g_watchers) {
        w->raise(resumed ? kResumed : kNetwork);
    }
}

// Waits up to ms before the next try; a stop or a change of the network ends the wait early (a new route may be
// what the server was waiting for).
void pause_before_retry(Watcher& w, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!w.stopping()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || (w.signal.wait(static_cast<int>(left)) && w.take_reasons() != 0)) {
            return;
        }
    }
}

enum class Opened { idle, no_idle, failed };

// Logs in, examines the folder (read-only: nothing here changes a flag) and starts IDLE (RFC 2177).
Opened open_idle(ImapSession& session) {
    if (session.open() != ImapSession::Result::ok) {
        session.close();
        return Opened::failed;
    }
    if (!session.offers("IDLE")) {
        session.logout();
        return Opened::no_idle;
    }
    session.keep_alive(); // a failure is logged; the renewal still finds a dead link, only later
    if (session.examine() != ImapSession::Result::ok || session.start_idle() != ImapSession::Result::ok) {
        session.close();
        return Opened::failed;
    }
    return Opened::idle;
}

// DONE and LOGOUT, then close; a connection that is gone is only closed. The goodbye's waits are its own: a stop
// must not cut it short, and its answers are awaited briefly. The next connection listens to the signal again.
void leave_idle(ImapSession& session, const Watcher& w) {
    const auto end = Clock::now() + std::chrono::milliseconds(kGoodbyeWaitMs);
    session.set_cancel(-1);
    if (session.is_open() && session.stop_idle(kGoodbyeWaitMs) == ImapSession::Result::ok) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        session.logout(static_cast<int>(std::max(1LL, static_cast<long long>(left))));
    }
    session.close();
    session.set_cancel(w.signal.fd());
}

enum class Leave { stopped, gone, network };

// Whether the connection survives a change of addresses or routes: only a change of its own is its end.
bool still_routed(const ImapSession& session) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    return session.endpoints(local, peer) && route_holds(local, peer);
}

// Stays in IDLE until a stop, the connection is gone or the network changed under it; renews the IDLE on time
// (DONE, its tagged OK within the answer wait, IDLE again), and wakes the monitor for every change announced.
Leave stay_in_idle(ImapSession& session, Watcher& w) {
    MonitorWake& wake = monitor_wake();
    const Timing t = timing();
    auto renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(renew_at - Clock::now()).count();
        switch (session.wait_idle(static_cast<int>(std::max(0LL, static_cast<long long>(left))))) {
        case ImapSession::IdleEvent::change: wake.notify(w.account.index); continue;
        case ImapSession::IdleEvent::gone: return Leave::gone;
        case ImapSession::IdleEvent::cancelled: {
            const unsigned why = w.take_reasons();
            if ((why & kStop) != 0) {
                return Leave::stopped;
            }
            // After a suspend the server has most likely given the connection up without a word.
            if ((why & kResumed) != 0 || ((why & kNetwork) != 0 && !still_routed(session))) {
                return Leave::network;
            }
            continue;
        }
        case ImapSession::IdleEvent::nothing: break;
        }
        if (Clock::now() >= renew_at) {
            bool changed = false;
            // No answer to DONE means a dead connection: the server may be stopped or gone without a word.
            if (session.stop_idle(t.idle_answer_ms, &changed) != ImapSession::Result::ok ||
                session.start_idle() != ImapSession::Result::ok) {
                return Leave::gone;
            }
            if (changed) {
                wake.notify(w.account.index);
            }
            renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
        }
    }
}

void watch_account(Watcher& w) {
    MonitorWake& wake = monitor_wake();
    const Timing t = timing();
    const int index = w.account.index;
    std::optional<ImapSession> session;
    int backoff = t.idle_backoff_first_ms;
    const bool oauth2 = w.account.credential.kind == CredentialKind::oauth2;
    if (oauth2 && w.account.security == MailSecurity::plain) {
        // No token goes out in clear: the pass's check says so at every pass, and nothing is asked of the source.
        write_state_logf("Email arrival of the mail push --> The end[No.%d]", index);
        return;
    }
    while (!w.stopping()) {
        // Each connection of an OAuth2 account signs in with the token of the moment: the last may have expired,
        // and a server may end the connection when it does (as Microsoft's does). A source that cannot give one
        // (a revoked sign-in, a failing token command) is asked again only after the backoff, which keeps growing:
        // neither the provider nor the server is asked more than once per wait.
        Account signed_in = w.account;
        if (sign_account(signed_in) != 0) {
            set_push_state(index, PushState::down);
            pause_before_retry(w, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        session.emplace(std::move(signed_in));
        session->set_cancel(w.signal.fd());
        Opened opened = open_idle(*session);
        // The session's own word, not the account's shared note, which a check running meanwhile may take.
        if (opened == Opened::failed && session->token_refused()) {
            ask_token_renewal(index); // the next connection, after the wait, with a renewed token
        }
        if (w.stopping()) {
            // The stop came while connecting: the connection must not outlive the run.
            leave_idle(*session, w);
            break;
        }
        if (opened == Opened::no_idle) {
            write_state_logf("Email arrival of the mail push --> No IDLE[No.%d]", index);
            break; // the interval alone drives this account's checks
        }
        if (opened == Opened::failed) {
            set_push_state(index, PushState::down);
            pause_before_retry(w, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        write_state_logf("Email arrival of the mail push --> A start[No.%d]", index);
        set_push_state(index, PushState::up);
        // Mail may have come while no connection listened: before the first one, or while this one was deaf. A
        // server that drops every IDLE at once brings this notice only as often as the backoff lets it back.
        wake.notify(w.account.index);
        const Clock::time_point idle_since = Clock::now();
        Leave why = stay_in_idle(*session, w);
        leave_idle(*session, w);
        // Only a connection that held for a while was sound: one the server drops at once keeps the backoff
        // growing, or it would log in again every second for ever.
        if (Clock::now() - idle_since >= std::chrono::milliseconds(t.idle_settled_ms)) {
            backoff = t.idle_backoff_first_ms;
        }
        if (why == Leave::gone) {
            set_push_state(index, PushState::down);
            pause_before_retry(w, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
        }
    }
    set_push_state(index, PushState::none);
    write_state_logf("Email arrival of the mail push --> The end[No.%d]", index);
}

// Starts body on a thread of its own; false (with the error line) when none could be had.
template <typename Body> bool start_thread(std::thread& thread, Body body) {
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error& e) {
        write_error_logf("job start ---> A thread cannot be started[error: %d]", e.code().value());
        return false;
    }
}

} // namespace

PushState push_state(int account) {
    return account >= 0 && account < 3 ? g_push_state[account].load() : PushState::none;
}

void push_start(const std::vector<Account>& accounts) {
    // Every monitor start begins a run, with or without IMAP accounts, so that no notice of an earlier run is left
    // to cause a pass.
    monitor_wake().start_run();
    std::lock_guard lock(g_mutex);
    for (const Account& a : accounts) {
        if (a.protocol == MailProtocol::imap) {
            auto w = std::make_unique<Watcher>(a);
            Watcher* watcher = w.get();
            if (start_thread(w->thread, [watcher] { watch_account(*watcher); })) {
                g_watchers.push_back(std::move(w));
            }
        }
    }
    if (!g_watchers.empty()) {
        g_network_stop.clear();
        start_thread(g_network, [] { watch_network(g_network_stop, network_changed); });
    }
}

void push_stop() {
    monitor_wake().stop_run();
    std::vector<std::unique_ptr<Watcher>> watchers;
    {
        std::lock_guard lock(g_mutex);
        for (auto& w : g_watchers) {
            w->raise(kStop);
        }
        g_network_stop.raise();
    }
    if (g_network.joinable()) {
        g_network.join();
    }
    {
        std::lock_guard lock(g_mutex);
        watchers.swap(g_watchers);
    }
    for (auto& w : watchers) {
        w->thread.join();
    }
}
