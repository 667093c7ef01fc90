// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The codes of the command mailbox: the keys Request, State, Answer, Error and Job in section "corvo\KD-5lite",
// through which the setup and option programs drive the notifier. Every value is decimal text read with its leading
// digits counting (empty or non-numeric is 0), so a hand-edited value still reads as some number: the enums hold
// any int, and a switch over one needs its default.

// What a tool asks of the notifier. A standing order: the notifier acts on it again at every tick it is not busy.
enum class Request {
    nothing = 0, // written by the notifier at its start
    monitor = 1,
    connection_test = 2,
    account_check = 3,
    stop = 4,
    acknowledge = 5, // 已读: what waits now no longer lights the lamp; acted on once, busy or not
    end = 99,
};

// The notifier's condition, as the tools show it.
enum class NotifierState {
    started = 0, // the initialise step has not run yet
    busy = 1,    // the initialise step or a job runs
    idle = 2,
};

// The busy flag: while it is busy the notifier acts on no request.
enum class Answer {
    idle = 0,
    busy = 1,
};

// Job records the request last acted on as 100 + its code, so a tool can tell that its request was taken up.
constexpr int job_code(Request acted_on) {
    return 100 + static_cast<int>(acted_on);
}

// Whether a request ends a running job: a stop, and an end too, since the notifier can end only when its job has.
bool ends_job(Request request);

// A mailbox value read from its text.
Request request_of(const char* text);
NotifierState notifier_state_of(const char* text);
int job_of(const char* text);

// The mailbox keys as the settings record holds them now; the caller refreshes them from the file first.
Request mailbox_request();
NotifierState mailbox_state();
Answer mailbox_answer();
int mailbox_job();

// Each sets the record's field and writes it to the file at once; -1 when the file was not written.
int put_request(Request request);
int put_state(NotifierState state);
int put_answer(Answer answer);
int put_job(Request acted_on);
int put_no_error(); // Error has no other value
