// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/timing.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

Timing from_environment() {
    const char* text = std::getenv("KD5LITE_TIME_SCALE");
    if (text == nullptr || *text == '\0') {
        return Timing{};
    }
    char* end = nullptr;
    double factor = std::strtod(text, &end);
    if (end == text || !std::isfinite(factor) || factor <= 0.0) {
        return Timing{};
    }
    return scaled_timing(factor);
}

std::mutex g_mutex;
bool g_ready = false;
Timing g_timing;

int scale(int ms, double factor) {
    double v = std::round(ms * factor);
    if (v < 1.0) {
        return 1;
    }
    return v > 3.6e6 ? 3600000 : static_cast<int>(v);
}

} // namespace

Timing scaled_timing(double factor) {
    Timing t;
    for (int* ms : {&t.poll_ms, &t.job_start_ms, &t.session_end_ms, &t.usb_read_timeout_ms,
                    &t.usb_write_timeout_ms, &t.sound_pause_ms, &t.select_timeout_ms, &t.send_timeout_ms,
                    &t.connect_timeout_ms,
                    &t.test_step_ms, &t.monitor_step_ms, &t.settings_lock_wait_ms,
                    &t.settings_lock_retry_ms, &t.stale_temp_age_ms, &t.tray_look_ms, &t.push_burst_ms,
                    &t.push_fold_ms, &t.idle_renew_ms, &t.idle_answer_ms, &t.idle_backoff_first_ms,
                    &t.idle_backoff_max_ms, &t.stop_poll_ms, &t.idle_settled_ms, &t.idle_flood_window_ms,
                    &t.keepalive_idle_ms, &t.keepalive_interval_ms, &t.resume_look_ms, &t.token_command_ms,
                    &t.token_request_ms, &t.token_refresh_margin_ms, &t.sign_in_wait_ms,
                    &t.service_refresh_ms, &t.discovery_total_ms, &t.discovery_lookup_ms,
                    &t.discovery_check_ms, &t.check_account_ms, &t.check_greeting_ms, &t.health_grace_min_ms,
                    &t.diagnosis_ms, &t.hook_ms}) {
        *ms = scale(*ms, factor);
    }
    return t;
}

Timing timing() {
    std::lock_guard lock(g_mutex);
    if (!g_ready) {
        g_timing = from_environment();
        g_ready = true;
    }
    return g_timing;
}

void set_timing(const Timing& t) {
    std::lock_guard lock(g_mutex);
    g_timing = t;
    g_ready = true;
}

void pause_ms(int ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}
