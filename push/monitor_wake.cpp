#include "push/monitor_wake.h"

#include "platform/timing.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

void MonitorWake::notify() {
    {
        std::lock_guard lock(mutex_);
        notified_ = true;
    }
    changed_.notify_all();
}

bool MonitorWake::wait(int timeout_ms) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return notified_; })) {
        return false;
    }
    // A delivery shows as EXISTS and RECENT, a read elsewhere as one FETCH per message: one pass for all of them.
    const Timing& t = timing();
    const auto burst_end = Clock::now() + std::chrono::milliseconds(t.push_burst_ms);
    do {
        notified_ = false;
        auto quiet_end = std::min(burst_end, Clock::now() + std::chrono::milliseconds(t.push_quiet_ms));
        changed_.wait_until(lock, quiet_end, [this] { return notified_; });
    } while (notified_ && Clock::now() < burst_end);
    notified_ = false;
    return true;
}

unsigned MonitorWake::start_run() {
    std::lock_guard lock(mutex_);
    notified_ = false;
    stopped_ = false;
    return ++run_;
}

void MonitorWake::stop_run() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

bool MonitorWake::running(unsigned run) const {
    std::lock_guard lock(mutex_);
    return !stopped_ && run == run_;
}

void MonitorWake::watcher_began() {
    std::lock_guard lock(mutex_);
    ++watchers_;
}

void MonitorWake::watcher_ended() {
    {
        std::lock_guard lock(mutex_);
        --watchers_;
    }
    changed_.notify_all();
}

bool MonitorWake::wait_watchers_gone(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return watchers_ == 0; });
}

void MonitorWake::network_changed() {
    std::lock_guard lock(mutex_);
    ++network_epoch_;
}

unsigned MonitorWake::network_epoch() const {
    std::lock_guard lock(mutex_);
    return network_epoch_;
}

MonitorWake& monitor_wake() {
    static MonitorWake wake;
    return wake;
}
