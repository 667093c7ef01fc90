#include "mail/push.h"

#include "logging/log.h"
#include "mail/idle_link.h"
#include "mail/monitor_wake.h"
#include "mail/network_watch.h"
#include "mail/tls_settings.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopWaitMs = 900; // a stop ends every connection within a second

PushAccount copy_account(int index) {
    PushAccount a;
    a.index = index;
    a.server = settings_get(Key::ServerName, index);
    a.user = settings_get(Key::ID, index);
    a.password = settings_get(Key::Password, index);
    a.security = settings_get(Key::Security, index);
    a.pin = settings_get(Key::TlsFingerprint, index);
    a.folder = settings_get(Key::Folder, index);
    return a;
}

// Sleeps up to ms while the run lasts and the network stays as it was; whether the run still lasts.
bool pause_in_run(unsigned run, unsigned epoch, int ms) {
    MonitorWake& wake = monitor_wake();
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (wake.running(run) && wake.network_epoch() == epoch && Clock::now() < end) {
        pause_ms(std::min<long long>(timing().push_slice_ms,
                                     std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count() + 1));
    }
    return wake.running(run);
}

enum class Leave { stopped, gone, network };

// Stays in IDLE until the run ends, the connection is gone or the network changed; renews it on time.
Leave stay_in_idle(IdleLink& link, unsigned run, unsigned epoch) {
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
        switch (link.wait(t.push_slice_ms)) {
        case IdleLink::Event::change: wake.notify(); break;
        case IdleLink::Event::gone: return Leave::gone;
        case IdleLink::Event::nothing: break;
        }
        if (Clock::now() >= renew_at) {
            if (!link.renew()) {
                return Leave::gone;
            }
            renew_at = Clock::now() + std::chrono::milliseconds(t.idle_renew_ms);
        }
    }
}

void watch_account(PushAccount account, unsigned run) {
    MonitorWake& wake = monitor_wake();
    const Timing& t = timing();
    IdleLink link(account);
    int backoff = t.idle_backoff_first_ms;
    while (wake.running(run)) {
        const unsigned epoch = wake.network_epoch();
        IdleLink::Opened opened = link.open();
        if (opened == IdleLink::Opened::no_idle) {
            write_state_logf("Email arrival of the mail push --> No IDLE[No.%d]", account.index);
            break; // the interval alone drives this account's checks
        }
        if (opened == IdleLink::Opened::failed) {
            pause_in_run(run, epoch, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
            continue;
        }
        write_state_logf("Email arrival of the mail push --> A start[No.%d]", account.index);
        // Mail may have come while no connection listened (before the first one, or while this one was deaf).
        wake.notify();
        Leave why = stay_in_idle(link, run, epoch);
        link.end();
        if (why == Leave::gone) {
            backoff = t.idle_backoff_first_ms;
            pause_in_run(run, epoch, backoff);
            backoff = std::min(backoff * 2, t.idle_backoff_max_ms);
        } else {
            backoff = t.idle_backoff_first_ms; // a network change: try again at once
        }
    }
    write_state_logf("Email arrival of the mail push --> The end[No.%d]", account.index);
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

void push_start(bool (*ready)(int index)) {
    std::vector<PushAccount> accounts;
    for (int i = 0; i < kAccountCount; ++i) {
        if (ready(i) && mail_protocol(settings_get(Key::Protocol, i).c_str()) == MailProtocol::imap) {
            accounts.push_back(copy_account(i));
        }
    }
    if (accounts.empty()) {
        return;
    }
    const unsigned run = monitor_wake().start_run();
    for (PushAccount& account : accounts) {
        start_watcher([account = std::move(account), run] { watch_account(account, run); });
    }
    start_watcher([run] { watch_network_of(run); });
}

void push_stop() {
    monitor_wake().stop_run();
    monitor_wake().wait_watchers_gone(kStopWaitMs);
}
