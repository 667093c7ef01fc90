// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check_notifier.h"

#include "logging/log.h"
#include "notifier/check/check.h"
#include "platform/notifier_lock.h"
#include "settings/key_values.h"
#include "settings/mailbox_codes.h"
#include "settings/settings_access.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

constexpr char kTopic[] = "notifier";
constexpr char kStart[] = "press 开始使用 (kd5lite_ap or kd5lite_op, 服务 tab)";

// Every state-log line the monitor writes begins its text with this: its start and each account's count.
constexpr std::string_view kPassMark = "Email arrival of the mail";
constexpr std::size_t kStampWidth = 14; // "MM/DD hh:mm:ss"

// The state log written last: the files are named by the day of the month, so the newest is the one changed last.
std::string newest_state_log() {
    std::string newest;
    struct timespec newest_time {};
    for (int day = 1; day <= 31; ++day) {
        std::string path = log_file_path(LogKind::log, day);
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        if (newest.empty() || st.st_mtim.tv_sec > newest_time.tv_sec ||
            (st.st_mtim.tv_sec == newest_time.tv_sec && st.st_mtim.tv_nsec > newest_time.tv_nsec)) {
            newest = path;
            newest_time = st.st_mtim;
        }
    }
    if (newest.empty()) {
        return {};
    }
    std::ifstream in(newest, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void report_last_pass(CheckReport& report) {
    if (!log_switched_on(Key::StateLog)) {
        report.info(kTopic, "the state log is off, so when it last checked is not known (kd5lite_ap, 日志 tab)");
        return;
    }
    const std::string when = last_pass_time(newest_state_log());
    report.info(kTopic, when.empty() ? "its state log tells of no check yet" : "last checked at " + when +
                                                                                   " (its state log)");
}

} // namespace

NotifierActivity notifier_activity(NotifierState state, int job, Request request) {
    switch (state) {
    case NotifierState::started:
        return NotifierActivity::starting;
    case NotifierState::busy:
        if (job == job_code(Request::monitor)) {
            return NotifierActivity::monitoring;
        }
        return job == job_code(Request::connection_test) ? NotifierActivity::testing : NotifierActivity::idle;
    case NotifierState::idle:
        // Between the monitor request and the next tick that starts the monitor.
        return request == Request::monitor ? NotifierActivity::monitoring : NotifierActivity::idle;
    default:
        return NotifierActivity::faulty;
    }
}

std::string last_pass_time(std::string_view state_log) {
    std::size_t at = state_log.rfind(kPassMark);
    if (at == std::string_view::npos) {
        return {};
    }
    std::size_t line_start = state_log.rfind('\n', at);
    line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
    std::string_view stamp = state_log.substr(line_start, kStampWidth);
    // A hand-edited or cut line: no time worth showing.
    if (stamp.size() != kStampWidth || at < line_start + kStampWidth) {
        return {};
    }
    for (std::size_t i = 0; i < kStampWidth; ++i) {
        const char c = stamp[i];
        const bool wanted = i == 2 ? c == '/' : i == 5 ? c == ' ' : (i == 8 || i == 11) ? c == ':' : c >= '0' && c <= '9';
        if (!wanted) {
            return {};
        }
    }
    return std::string(stamp);
}

void check_notifier(CheckReport& report) {
    const int job = mailbox_job();
    if (!notifier_lock_held()) {
        // Job 101 means it was monitoring when it last ended without a stop: the next start resumes.
        report.fail(kTopic, job == job_code(Request::monitor) ? "none runs for you: start kd5lite (from the menu, or log in again); it "
                                         "goes on monitoring"
                                       : std::string("none runs for you: start kd5lite (from the menu, or log in "
                                                     "again), then ") +
                                             kStart);
        return;
    }
    switch (notifier_activity(mailbox_state(), job, mailbox_request())) {
    case NotifierActivity::starting:
        report.fail(kTopic, "runs, but has not started up yet (wait ...): run the check again in a moment");
        return;
    case NotifierActivity::monitoring:
        report.ok(kTopic, "runs and monitors mail");
        report_last_pass(report);
        return;
    case NotifierActivity::testing:
        report.fail(kTopic, std::string("runs the lamp connection test, not the mail monitor: press 测试结束 "
                                        "(kd5lite_ap, 测试 tab), then ") +
                                kStart);
        return;
    case NotifierActivity::idle:
        report.fail(kTopic, std::string("runs, but does not monitor mail (停止中): ") + kStart);
        return;
    case NotifierActivity::faulty:
        report.fail(kTopic, "runs, but reports a fault (故障中, State " + settings_get(Key::State) +
                                "): end it with 关闭 in its menu and start kd5lite again");
        return;
    }
}
