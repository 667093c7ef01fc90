// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/mailbox_codes.h"

#include "platform/text.h"
#include "settings/settings_access.h"

#include <string>

namespace {

int put_code(Key key, int code) {
    return settings_put(key, std::to_string(code).c_str());
}

} // namespace

bool ends_job(Request request) {
    return request == Request::stop || request == Request::end;
}

Request request_of(const char* text) {
    return static_cast<Request>(text_to_int(text));
}

NotifierState notifier_state_of(const char* text) {
    return static_cast<NotifierState>(text_to_int(text));
}

int job_of(const char* text) {
    return text_to_int(text);
}

Request mailbox_request() {
    return static_cast<Request>(settings_number(Key::Request));
}

NotifierState mailbox_state() {
    return static_cast<NotifierState>(settings_number(Key::State));
}

Answer mailbox_answer() {
    return static_cast<Answer>(settings_number(Key::Answer));
}

int mailbox_job() {
    return settings_number(Key::Job);
}

int put_request(Request request) {
    return put_code(Key::Request, static_cast<int>(request));
}

int put_state(NotifierState state) {
    return put_code(Key::State, static_cast<int>(state));
}

int put_answer(Answer answer) {
    return put_code(Key::Answer, static_cast<int>(answer));
}

int put_job(Request acted_on) {
    return put_code(Key::Job, job_code(acted_on));
}

int put_no_error() {
    return put_code(Key::Error, 0);
}
