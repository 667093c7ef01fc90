// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp/quiet.h"

#include "logging/log.h"
#include "platform/clock.h"
#include "settings/settings_access.h"

#include <atomic>
#include <mutex>
#include <string>

namespace {

std::atomic<std::time_t> g_snooze_until{0};
std::atomic<bool> g_inhibited{false};

constexpr int kMorning = 8 * 60 * 60; // 静音到明天 without a quiet time

int second_of_day(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return (local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec;
}

// A malformed quiet time is written to the error log once per value, not at every pass.
void report_malformed(const std::string& start, const std::string& end) {
    static std::mutex mutex;
    static std::string reported;
    std::lock_guard lock(mutex);
    if (reported != start + '\n' + end) {
        reported = start + '\n' + end;
        write_error_logf("quiet hours ---> The quiet time is not HH:MM to HH:MM, so there is none[QuietStart=%s "
                         "QuietEnd=%s]",
                         start.c_str(), end.c_str());
    }
}

} // namespace

QuietNow quiet_at(std::time_t now) {
    const std::string start = settings_get(Key::QuietStart);
    const std::string end = settings_get(Key::QuietEnd);
    if (quiet_hours_form(start, end) == QuietHoursForm::malformed) {
        report_malformed(start, end);
    }
    const std::time_t snooze = g_snooze_until.load();
    const long long snooze_left = snooze > now ? static_cast<long long>(snooze - now) : 0;
    const QuietSpan span = quiet_span(start, end, second_of_day(now), snooze_left);
    if (span.quiet) {
        const bool snoozed = snooze_left > 0 && span.seconds_left == snooze_left;
        return {true, snoozed ? QuietCause::snooze : QuietCause::hours, now + span.seconds_left};
    }
    if (g_inhibited.load()) {
        return {true, QuietCause::desktop, 0};
    }
    return {};
}

QuietNow quiet_now() {
    ini_read_key(Key::QuietStart);
    ini_read_key(Key::QuietEnd);
    return quiet_at(clock_now());
}

void quiet_snooze(std::time_t until) {
    g_snooze_until.store(until);
}

std::time_t quiet_snoozed_until() {
    return g_snooze_until.load();
}

std::time_t quiet_tomorrow(std::time_t now) {
    const int end = quiet_time_of_day(settings_get(Key::QuietEnd));
    const bool window = quiet_hours_form(settings_get(Key::QuietStart), settings_get(Key::QuietEnd)) ==
                        QuietHoursForm::window;
    return now + seconds_to_next(second_of_day(now), window ? end : kMorning);
}

void quiet_set_inhibited(bool inhibited) {
    g_inhibited.store(inhibited);
}
