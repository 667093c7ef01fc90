// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/check_stop.h"

#include "platform/timing.h"
#include "settings/mailbox_codes.h"
#include "settings/settings_access.h"

#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_mutex;
Clock::time_point g_last_look;
bool g_seen = false;

} // namespace

void check_stop_arm() {
    std::lock_guard lock(g_mutex);
    g_last_look = Clock::now();
}

bool check_stop_due() {
    {
        std::lock_guard lock(g_mutex);
        const Clock::time_point now = Clock::now();
        if (now - g_last_look < std::chrono::milliseconds(timing().stop_poll_ms)) {
            return false;
        }
        g_last_look = now;
    }
    ini_read_key(Key::Request);
    if (!ends_job(mailbox_request())) {
        return false;
    }
    std::lock_guard lock(g_mutex);
    g_seen = true;
    return true;
}

bool check_stop_seen() {
    std::lock_guard lock(g_mutex);
    return g_seen;
}

void check_stop_clear() {
    std::lock_guard lock(g_mutex);
    g_seen = false;
}
