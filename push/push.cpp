// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/push.h"

#include "logging/log.h"
#include "mail/core/check_stop.h"
#include "mail/mail_check.h"
#include "platform/timing.h"
#include "push/account_watch.h"
#include "push/monitor_wake.h"
#include "push/network_watch.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The watches of the run in progress, and the thread that watches the network for them. A pass holds its watch by
// a reference of its own: the notifier's end stops them from the window thread while a pass may be taking a count.
std::mutex g_mutex;
std::vector<std::shared_ptr<AccountWatch>> g_watches;
CancelSignal g_network_stop;
std::thread g_network;

void network_changed(bool resumed) {
    std::lock_guard lock(g_mutex);
    for (auto& w : g_watches) {
        w->raise(resumed ? kWatchResumed : kWatchNetwork);
    }
}

std::shared_ptr<AccountWatch> watch_of(int index) {
    std::lock_guard lock(g_mutex);
    for (auto& w : g_watches) {
        if (w->index() == index) {
            return w;
        }
    }
    return nullptr;
}

// A count older than half the interval is taken again: the interval's pass counts what no connection pushes, and
// looks again at what they do.
long long fresh_ms() {
    const Timing t = timing();
    const long long interval = static_cast<long long>(t.monitor_step_ms) * t.monitor_steps_per_min *
                               std::max(1, settings_number(Key::IntervalTimer));
    return interval / 2;
}

} // namespace

PushState push_state(int account) {
    const std::shared_ptr<AccountWatch> watch = watch_of(account);
    return watch != nullptr ? watch->state() : PushState::none;
}

void push_start(const std::vector<Account>& accounts) {
    // Every monitor start begins a run, with or without IMAP accounts, so that no notice of an earlier run is left
    // to cause a pass.
    monitor_wake().start_run();
    std::lock_guard lock(g_mutex);
    for (const Account& a : accounts) {
        if (a.protocol == MailProtocol::imap) {
            auto w = std::make_shared<AccountWatch>(a);
            if (w->start()) {
                g_watches.push_back(std::move(w));
            }
        }
    }
    if (!g_watches.empty()) {
        g_network_stop.clear();
        try {
            g_network = std::thread([] { watch_network(g_network_stop, network_changed); });
        } catch (const std::system_error& e) {
            write_error_logf("job start ---> A thread cannot be started[error: %d]", e.code().value());
        }
    }
}

void push_stop() {
    monitor_wake().stop_run();
    std::vector<std::shared_ptr<AccountWatch>> watches;
    {
        std::lock_guard lock(g_mutex);
        watches.swap(g_watches);
        g_network_stop.raise();
    }
    if (g_network.joinable()) {
        g_network.join();
    }
    for (auto& w : watches) {
        w->raise(kWatchStop); // all at once: each goodbye is awaited in parallel
    }
    for (auto& w : watches) {
        w->stop();
    }
}

int push_check(const Account& account, CheckIds* ids, CheckOutcome* outcome) {
    std::shared_ptr<AccountWatch> watch = account.protocol == MailProtocol::imap ? watch_of(account.index) : nullptr;
    if (watch != nullptr) {
        CheckIds taken;
        taken.announce_above = ids != nullptr ? ids->announce_above : -1;
        long long count = 0;
        check_stop_arm();
        if (watch->take_count(&taken, count, fresh_ms(), check_stop_due)) {
            if (ids != nullptr) {
                *ids = std::move(taken);
            }
            if (outcome != nullptr) {
                *outcome = CheckOutcome{};
            }
            return count > INT_MAX ? INT_MAX : static_cast<int>(count);
        }
    }
    return mail_check(account, ids, outcome);
}
