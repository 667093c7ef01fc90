// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// The one thing the push watchers share with the mail monitor: notices that mail may have changed in an account, the
// run that
// tells the watchers to end, and a count of network changes (a resume from suspend counts as one) that makes every
// watcher drop its connection and connect again. The watchers never touch the lamp, the counts or the settings.
class MonitorWake {
public:
    // The watcher of account (0 .. 2) saw a change, or is back after being deaf: the monitor should check it.
    void notify(int account);
    // A pass over every account (the tray's 立即检查, an acknowledge), as soon as the folding lets it.
    void notify_all();

    // Waits at most timeout_ms for notices and returns the accounts they came from (bit i for account i), 0 when
    // the time ran out. The first notice is returned at once; the notices that come within push_fold_ms after that
    // are held until it has passed and then returned together, so a stream of notices brings at most one pass per
    // push_fold_ms however fast it flows.
    unsigned wait(int timeout_ms);

    // A new run of watchers begins; returns its number. The notices of an earlier run are dropped.
    unsigned start_run();
    // Ends the run: every watcher of it leaves its connection.
    void stop_run();
    bool running(unsigned run) const;

    // A watcher begins or ends; stop_run's caller waits for them with wait_watchers_gone.
    void watcher_began();
    void watcher_ended();
    // Waits at most timeout_ms until no watcher is left; whether none is.
    bool wait_watchers_gone(int timeout_ms);

    // The network changed or the machine resumed: every connection is stale.
    void network_changed();
    unsigned network_epoch() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    unsigned changed_accounts_ = 0;
    std::chrono::steady_clock::time_point fold_until_{}; // notices before this are held for one pass then
    unsigned run_ = 0;
    bool stopped_ = true;
    int watchers_ = 0;
    unsigned network_epoch_ = 0;
};

// The process-wide one, shared by the monitor job and its watchers.
MonitorWake& monitor_wake();
