#pragma once

#include <condition_variable>
#include <mutex>

// The one thing the push watchers share with the mail monitor: a notice that mail may have changed, the run that
// tells the watchers to end, and a count of network changes (a resume from suspend counts as one) that makes every
// watcher drop its connection and connect again. The watchers never touch the lamp, the counts or the settings.
class MonitorWake {
public:
    // A watcher saw a change, or is back after being deaf: the monitor should make a pass.
    void notify();

    // Waits at most timeout_ms for a notice. After one, it collects the burst that follows (until push_quiet_ms
    // pass without a notice, at most push_burst_ms in all) and returns true; false when the time ran out.
    bool wait(int timeout_ms);

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
    bool notified_ = false;
    unsigned run_ = 0;
    bool stopped_ = true;
    int watchers_ = 0;
    unsigned network_epoch_ = 0;
};

// The process-wide one, shared by the monitor job and its watchers.
MonitorWake& monitor_wake();
