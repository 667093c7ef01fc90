// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/service_requests.h"

#include "gui/service_state.h"
#include "lamp/quiet.h"
#include "notifier/acknowledge.h"
#include "notifier/mailbox.h"
#include "notifier/tray_status.h"
#include "platform/clock.h"
#include "push/monitor_wake.h"
#include "settings/key_values.h"

bool check_now_possible() {
    return tray_status().monitoring;
}

bool start_possible() {
    return !mailbox_monitoring_requested();
}

bool stop_possible() {
    return mailbox_monitoring_requested() || tray_status().monitoring;
}

// The monitor's wait ends on the push watchers' wake-up as on a change a server announced: a pass at once, with
// everything that a pass does.
Refusal request_check_now() {
    if (!check_now_possible()) {
        return Refusal::not_monitoring;
    }
    monitor_wake().notify_all();
    return Refusal::none;
}

// What waits now no longer lights the lamp; a pass at once puts the LED out.
Refusal request_acknowledge(int account) {
    const int index = account == -1 ? -1 : account - 1;
    if (account != -1 && (index < 0 || index > 2 || !account_watched(index))) {
        return Refusal::no_such_account;
    }
    if (!ack_account(index)) {
        return Refusal::nothing_to_acknowledge;
    }
    monitor_wake().notify_all();
    return Refusal::none;
}

Refusal request_start() {
    if (!start_possible()) {
        return Refusal::already_monitoring;
    }
    // The lamp's connection test (or the account check) stands until the setup program's test page ends it; a
    // start would take the lamp from it between two of its runs. Any other job holds the request until it ends.
    const Request standing = mailbox_request();
    if (standing == Request::connection_test || standing == Request::account_check ||
        (mailbox_busy() && !tray_status().monitoring)) {
        return Refusal::busy;
    }
    write_request(Request::monitor);
    return Refusal::none;
}

Refusal request_stop() {
    if (!stop_possible()) {
        return Refusal::not_monitoring;
    }
    write_request(Request::stop);
    return Refusal::none;
}

Refusal request_snooze(int minutes) {
    if (minutes < 0 || minutes > kLongestSnoozeMinutes) {
        return Refusal::bad_snooze;
    }
    quiet_snooze(minutes == 0 ? 0 : clock_now() + static_cast<std::time_t>(minutes) * 60);
    return Refusal::none;
}

const char* refusal_error_name(Refusal refusal) {
    switch (refusal) {
    case Refusal::not_monitoring:
        return "org.corvo.kd5lite.Error.NotMonitoring";
    case Refusal::already_monitoring:
        return "org.corvo.kd5lite.Error.AlreadyMonitoring";
    case Refusal::busy:
        return "org.corvo.kd5lite.Error.Busy";
    case Refusal::no_such_account:
        return "org.corvo.kd5lite.Error.NoSuchAccount";
    case Refusal::nothing_to_acknowledge:
        return "org.corvo.kd5lite.Error.NothingToAcknowledge";
    case Refusal::bad_snooze:
        return "org.corvo.kd5lite.Error.BadSnooze";
    case Refusal::none:
        break;
    }
    return "";
}

const char* refusal_message(Refusal refusal) {
    switch (refusal) {
    case Refusal::not_monitoring:
        return "mail monitoring is not running";
    case Refusal::already_monitoring:
        return "mail monitoring already runs";
    case Refusal::busy:
        return "the notifier is busy with another job (the lamp connection test or its start): try again when it "
               "has ended";
    case Refusal::no_such_account:
        return "no such account: give 1 to 3 for an account that is switched on, or -1 for all";
    case Refusal::nothing_to_acknowledge:
        return "nothing waits that an acknowledge would put out";
    case Refusal::bad_snooze:
        return "give the snooze in minutes, 1 to 10080 (a week), or 0 to end it";
    case Refusal::none:
        break;
    }
    return "";
}
