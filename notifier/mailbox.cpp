// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/mailbox.h"

#include "logging/log.h"
#include "notifier/acknowledge.h"
#include "notifier/jobs.h"
#include "notifier/tray_status.h"
#include "push/monitor_wake.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"

#include <cstdio>

namespace {

enum Request {
    kNothing = 0,
    kMonitor = 1,
    kConnectionTest = 2,
    kAccountCheck = 3,
    kStop = 4,
    kAcknowledge = 5,
    kEnd = 99
};

struct JobKind {
    const char* log_line;
    void (*entry)();
};

JobKind job_kind(int request) {
    switch (request) {
    case kMonitor:
        return {"email check", mail_monitor};
    case kConnectionTest:
        return {"connection test(KD-5)", connection_test};
    default:
        return {"Mail account confirmation", account_check};
    }
}

void job_start(int request) {
    JobKind kind = job_kind(request);
    write_state_log(kind.log_line);
    settings_put(Key::Answer, "1");
    settings_put(Key::State, "1");
    char job[16];
    std::snprintf(job, sizeof job, "%d", 100 + request);
    settings_put(Key::Job, job);
    ini_read_all(); // the job runs with what the tools saved last
    start_job(kind.entry);
}

// Request 5 (a tool's 已读) is acted on busy or not, since it is meant for a running monitor. It is no standing
// order: once acted on, Request says again what stands, monitoring or nothing.
void acknowledge_request() {
    if (ack_account(-1)) {
        monitor_wake().notify_all(); // a pass at once puts the LEDs out
    }
    settings_put(Key::Job, "105");
    settings_put(Key::Request, tray_status().monitoring ? "1" : "0");
}

void record_stop() {
    // A standing stop request would otherwise rewrite (and sync) the whole settings file five times a second for as
    // long as the notifier stays stopped; only the notifier writes Job, so its field is what the file holds.
    if (settings_number(Key::Job) != 100 + kStop) {
        settings_put(Key::Job, "104");
    }
}

} // namespace

void mailbox_reset() {
    for (Key key : {Key::Request, Key::State, Key::Answer, Key::Error}) {
        settings_put(key, "0");
    }
}

void mailbox_poll() {
    settings_retry_writes(); // the mailbox keys a held settings lock kept from the file, before they are read
    for (Key key : {Key::Request, Key::State, Key::Answer, Key::Error}) {
        ini_read_key(key);
    }
}

bool mailbox_monitoring_requested() {
    return settings_number(Key::Request) == kMonitor;
}

bool mailbox_busy() {
    return settings_number(Key::Answer) == 1 || job_running();
}

Dispatch mailbox_dispatch() {
    switch (int request = settings_number(Key::Request)) {
    case kNothing:
        if (settings_number(Key::State) != 0) {
            return Dispatch::nothing;
        }
        initialise_step();
        return Dispatch::initialised;
    case kMonitor:
    case kConnectionTest:
    case kAccountCheck:
        job_start(request);
        return Dispatch::job_started;
    case kStop:
        record_stop();
        return Dispatch::stop_recorded;
    case kEnd:
        return Dispatch::end_requested;
    default:
        return Dispatch::nothing;
    }
}

Dispatch mailbox_tick(const std::function<void()>& step_icon) {
    mailbox_poll();
    if (settings_number(Key::Request) == kAcknowledge) {
        acknowledge_request();
    }
    if (mailbox_monitoring_requested()) {
        step_icon();
    }
    if (mailbox_busy()) {
        return Dispatch::nothing;
    }
    return mailbox_dispatch();
}

void initialise_step() {
    settings_put(Key::Answer, "1");
    settings_put(Key::State, "1");
    ini_read_all();
    ini_check_all();
    ini_write_all();
    write_state_log("start");
    write_state_log("initial");
    settings_put(Key::Answer, "0");
    settings_put(Key::State, "2");
    write_state_log("neutral");
    if (settings_number(Key::Job) == 100 + kMonitor) {
        settings_put(Key::Request, "1"); // monitoring was running when the notifier last ended without a stop
    }
}

void notifier_end_recorded() {
    settings_put(Key::Job, "199");
    write_state_log("The end");
}
