// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// The one thing the push watchers share with the mail monitor: notices that mail changed in an account (a watcher
// has counted it), the run that tells the watchers to end, and a count of network changes (a resume from suspend counts
// as one) that makes every watcher drop its connection and connect again. The watchers never touch the lamp, the counts
// or the settings.
class MonitorWake {
public:
    // The watcher of account (0 .. 2) saw a change, or is back after being deaf: the monitor should check it.
    void notify(int account);
    // A pass over every account (the tray's 立即检查, an acknowledge), as soon as the folding lets it.
    void notify_all();

    // Waits at most timeout_ms for notices and returns the accounts they came from (bit i for account i), 0 when
    // the time ran out, or when wake_for_request() cut the wait short. A notice is returned at once: the notices
    // that come while a pass runs are folded together and returned at the next wait, and nothing waits for a
    // window to end. Only a flood is held: after kFloodPasses returns within push_fold_ms, the notices wait for the
    // end of that window and come together, so however fast they flow they bring at most kFloodPasses passes in it.
    unsigned wait(int timeout_ms);
    static constexpr int kFloodPasses = 10;

    // Ends a wait at once without a notice: the window thread has read a request the monitor acts on (a stop, an
    // end), so the monitor need not read the settings file every second to find it.
    void wake_for_request();

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
    bool request_ = false;
    std::chrono::steady_clock::time_point window_{};     // the flood window began here
    int passes_ = 0;                                     // returns with notices in it
    std::chrono::steady_clock::time_point hold_until_{}; // a flood's notices wait until here
    unsigned run_ = 0;
    bool stopped_ = true;
    int watchers_ = 0;
    unsigned network_epoch_ = 0;
};

// The process-wide one, shared by the monitor job and its watchers.
MonitorWake& monitor_wake();
