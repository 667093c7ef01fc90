#include "push/push.h"

#include "logging/log.h"
#include "mail/imap/imap_session.h"
#include "platform/timing.h"
#include "push/monitor_wake.h"
#include "push/network_watch.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopWaitMs = 900;    // a stop ends every connection within a second
constexpr int kGoodbyeWaitMs = 300; // for the answer to DONE when the watcher leaves: the server will not mind

// Sleeps up to ms while the run lasts and the network stays as it was; whether the run still lasts.
bool pause_in_run(unsigned run, unsigned epoch, int ms) {
    MonitorWake& wake = monitor_wake();
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (wake.running(run) && wake.network_epoch() == epoch && Clock::now() < end) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pause_ms(static_cast<int>(std::min<long long>(timing().push_slice_ms, left)));
    }
    return wake.running(run);
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
    if (session.examine() != ImapSession::Result::ok || session.start_idle() != ImapSession::Result::ok) {
        session.close();
        return Opened::failed;
    }
    return Opened::idle;
}

// DONE and LOGOUT, then close; a connection that is gone is only closed.
void leave_idle(ImapSession& session) {
    if (session.is_open() && session.stop_idle(kGoodbyeWaitMs) == ImapSession::Result::ok) {
        session.logout();
    }
    session.close();
}

enum class Leave { stopped, gone, network };

// Stays in IDLE until the run ends, the connection is gone or the network changed; renews the IDLE on time (DONE,
// its tagged OK within the answer wait, IDLE again), and wakes the monitor for every change announced.
Leave stay_in_idle(ImapSession& session, unsigned run, unsigned epoch) {
    MonitorWake& wake = monitor_wake();
    const Timing& t = timing();
    auto renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
    for (;;) {
        if (!wake.running(run)) {
            return Leave::stopped;
        }
        if (wake.network_epoch() != epoch) {
            return Leave::network;
        }
        switch (session.wait_idle(t.push_slice_ms)) {
        case ImapSession::IdleEvent::change: wake.notify(); break;
        case ImapSession::IdleEvent::gone: return Leave::gone;
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
                wake.notify();
            }
            renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
        }
    }
}

void watch_account(const Account& account, unsigned run) {
    MonitorWake& wake = monitor_wake();
    const Timing& t = timing();
    const int index = account.index;
    ImapSession session(account);
    int backoff = t.idle_backoff_first_ms;
    while (wake.running(run)) {
        const unsigned epoch = wake.network_epoch();
        Opened opened = open_idle(session);
        if (opened == Opened::no_idle) {
            write_state_logf("Email arrival of the mail push --> No IDLE[No.%d]", index);
            break; // the interval alone drives this account's checks
        }
        if (opened == Opened::failed) {
            pause_in_run(run, epoch, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        write_state_logf("Email arrival of the mail push --> A start[No.%d]", index);
        // Mail may have come while no connection listened: before the first one, or while this one was deaf.
        wake.notify();
        backoff = t.idle_backoff_first_ms;
        Leave why = stay_in_idle(session, run, epoch);
        leave_idle(session);
        if (why == Leave::gone) {
            pause_in_run(run, epoch, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
        }
    }
    write_state_logf("Email arrival of the mail push --> The end[No.%d]", index);
    wake.watcher_ended();
}

void watch_network_of(unsigned run) {
    watch_network(run);
    monitor_wake().watcher_ended();
}

// Starts body on a thread of its own that counts as a watcher until it ends.
template <typename Body> void start_watcher(Body body) {
    monitor_wake().watcher_began();
    try {
        std::thread(std::move(body)).detach();
    } catch (const std::system_error& e) {
        write_error_logf("job start ---> A thread cannot be started[error: %d]", e.code().value());
        monitor_wake().watcher_ended();
    }
}

} // namespace

void push_start(const std::vector<Account>& accounts) {
    std::vector<const Account*> imap;
    for (const Account& a : accounts) {
        if (a.protocol == MailProtocol::imap) {
            imap.push_back(&a);
        }
    }
    if (imap.empty()) {
        return;
    }
    const unsigned run = monitor_wake().start_run();
    for (const Account* a : imap) {
        start_watcher([account = *a, run] { watch_account(account, run); });
    }
    start_watcher([run] { watch_network_of(run); });
}

void push_stop() {
    monitor_wake().stop_run();
    monitor_wake().wait_watchers_gone(kStopWaitMs);
}
