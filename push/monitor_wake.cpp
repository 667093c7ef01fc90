// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/monitor_wake.h"

#include "platform/timing.h"

#include <chrono>
#include <utility>

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
    auto due = [this] { return request_ || (changed_accounts_ != 0 && Clock::now() >= hold_until_); };
    while (!due()) {
        const auto until = changed_accounts_ != 0 ? std::min(deadline, hold_until_) : deadline;
        if (changed_.wait_until(lock, until) == std::cv_status::timeout && Clock::now() >= deadline) {
            if (!due()) {
                return 0;
            }
            break;
        }
    }
    if (std::exchange(request_, false) && changed_accounts_ == 0) {
        return 0;
    }
    const unsigned changed = std::exchange(changed_accounts_, 0u);
    const auto now = Clock::now();
    const auto window = std::chrono::milliseconds(timing().push_fold_ms);
    if (now - window_ >= window) {
        window_ = now;
        passes_ = 0;
    }
    if (++passes_ >= kFloodPasses) {
        hold_until_ = window_ + window;
    }
    return changed;
}

void MonitorWake::wake_for_request() {
    {
        std::lock_guard lock(mutex_);
        request_ = true;
    }
    changed_.notify_all();
}

unsigned MonitorWake::start_run() {
    std::lock_guard lock(mutex_);
    changed_accounts_ = 0;
    request_ = false;
    window_ = {};
    passes_ = 0;
    hold_until_ = {};
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
