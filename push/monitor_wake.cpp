// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/monitor_wake.h"

#include "platform/timing.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxAccounts = 3; // the lamp's LEDs

} // namespace

void MonitorWake::notify(int account) {
    if (account < 0 || account >= kMaxAccounts) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        changed_accounts_ |= 1u << account;
    }
    changed_.notify_all();
}

void MonitorWake::notify_all() {
    for (int account = 0; account < kMaxAccounts; ++account) {
        notify(account);
    }
}

unsigned MonitorWake::wait(int timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    // A delivery shows as EXISTS and RECENT, a read elsewhere as one FETCH per message: the first notice brings a
    // pass at once, and whatever follows it is folded into one more.
    auto due = [this] { return changed_accounts_ != 0 && Clock::now() >= fold_until_; };
    while (!due()) {
        const auto until = changed_accounts_ != 0 ? std::min(deadline, fold_until_) : deadline;
        if (changed_.wait_until(lock, until) == std::cv_status::timeout && Clock::now() >= deadline) {
            if (!due()) {
                return 0;
            }
            break;
        }
    }
    const unsigned changed = changed_accounts_;
    changed_accounts_ = 0;
    fold_until_ = Clock::now() + std::chrono::milliseconds(timing().push_fold_ms);
    return changed;
}

unsigned MonitorWake::start_run() {
    std::lock_guard lock(mutex_);
    changed_accounts_ = 0;
    fold_until_ = {};
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
