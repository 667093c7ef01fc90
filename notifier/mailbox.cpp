// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/mailbox.h"

#include "logging/log.h"
#include "notifier/acknowledge.h"
#include "notifier/jobs.h"
#include "notifier/tray_status.h"
#include "push/monitor_wake.h"
#include "settings/mailbox_codes.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"

namespace {

struct JobKind {
    const char* log_line;
    void (*entry)();
};

JobKind job_kind(Request request) {
    switch (request) {
    case Request::monitor:
        return {"email check", mail_monitor};
    case Request::connection_test:
        return {"connection test(KD-5)", connection_test};
    default:
        return {"Mail account confirmation", account_check};
    }
}

void job_start(Request request) {
    JobKind kind = job_kind(request);
    write_state_log(kind.log_line);
    put_answer(Answer::busy);
    put_state(NotifierState::busy);
    put_job(request);
    ini_read_all(); // the job runs with what the tools saved last
    start_job(kind.entry);
}

// Request 5 (a tool's 已读) is acted on busy or not, since it is meant for a running monitor. It is no standing
// order: once acted on, Request says again what stands, monitoring or nothing.
void acknowledge_request() {
    if (ack_account(-1)) {
        monitor_wake().notify_all(); // a pass at once puts the LEDs out
    }
    put_job(Request::acknowledge);
    put_request(tray_status().monitoring ? Request::monitor : Request::nothing);
}

void record_stop() {
    // A standing stop request would otherwise rewrite (and sync) the whole settings file five times a second for as
    // long as the notifier stays stopped; only the notifier writes Job, so its field is what the file holds.
    if (mailbox_job() != job_code(Request::stop)) {
        put_job(Request::stop);
    }
}

} // namespace

void mailbox_reset() {
    put_request(Request::nothing);
    put_state(NotifierState::started);
    put_answer(Answer::idle);
    put_no_error();
}

void mailbox_poll() {
    settings_retry_writes(); // the mailbox keys a held settings lock kept from the file, before they are read
    ini_read_keys({Key::Request, Key::State, Key::Answer, Key::Error}); // one read of the file for the four
}

bool mailbox_monitoring_requested() {
    return mailbox_request() == Request::monitor;
}

bool mailbox_busy() {
    return mailbox_answer() == Answer::busy || job_running();
}

Dispatch mailbox_dispatch() {
    switch (Request request = mailbox_request()) {
    case Request::nothing:
        if (mailbox_state() != NotifierState::started) {
            return Dispatch::nothing;
        }
        initialise_step();
        return Dispatch::initialised;
    case Request::monitor:
    case Request::connection_test:
    case Request::account_check:
        job_start(request);
        return Dispatch::job_started;
    case Request::stop:
        record_stop();
        return Dispatch::stop_recorded;
    case Request::end:
        return Dispatch::end_requested;
    default:
        return Dispatch::nothing;
    }
}

Dispatch mailbox_tick(const std::function<void()>& step_icon) {
    mailbox_poll();
    if (mailbox_request() == Request::acknowledge) {
        acknowledge_request();
    }
    if (mailbox_monitoring_requested()) {
        step_icon();
    }
    if (job_running() && ends_job(mailbox_request())) {
        monitor_wake().wake_for_request(); // the monitor's wait looks at the request at once
    }
    if (mailbox_busy()) {
        return Dispatch::nothing;
    }
    return mailbox_dispatch();
}

void initialise_step() {
    put_answer(Answer::busy);
    put_state(NotifierState::busy);
    ini_read_all();
    ini_check_all();
    ini_write_all();
    write_state_log("start");
    write_state_log("initial");
    put_answer(Answer::idle);
    put_state(NotifierState::idle);
    write_state_log("neutral");
    if (mailbox_job() == job_code(Request::monitor)) {
        put_request(Request::monitor); // monitoring was running when the notifier last ended without a stop
    }
}

void notifier_end_recorded() {
    put_job(Request::end);
    write_state_log("The end");
}
