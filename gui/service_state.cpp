// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/service_state.h"

#include "platform/notifier_lock.h"
#include "platform/text.h"
#include "settings/key_values.h"
#include "settings/mailbox_codes.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

const char* service_state_text(const char* state) {
    switch (notifier_state_of(state)) {
    case NotifierState::started:
        return "wait ...";
    case NotifierState::busy:
        return "工作中（邮件检查中）";
    case NotifierState::idle:
        return "停止中";
    default:
        return "故障中";
    }
}

const char* read_service_state() {
    if (!notifier_lock_held()) {
        return kNotifierNotRunning;
    }
    ini_read_key(Key::State);
    return service_state_text(settings_get(Key::State).c_str());
}

bool read_any_account_set() {
    bool any = false;
    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_keys({Key::Switch, Key::ID}, i);
        any = any || (account_watched(i) && !settings_get(Key::ID, i).empty());
    }
    return any;
}

bool monitoring_runs(const char* request, const char* state, const char* job, bool notifier_running) {
    return notifier_running &&
           (request_of(request) == Request::monitor ||
            (notifier_state_of(state) == NotifierState::busy && job_of(job) == job_code(Request::monitor)));
}

bool read_monitoring_runs() {
    if (!notifier_lock_held()) {
        return false;
    }
    ini_read_keys({Key::Request, Key::State, Key::Job});
    return monitoring_runs(settings_get(Key::Request).c_str(), settings_get(Key::State).c_str(),
                           settings_get(Key::Job).c_str(), true);
}

void write_request(Request request) {
    put_request(request);
}

RequestFate request_fate(std::optional<Request> request, const char* job, bool notifier_running) {
    if (!request) {
        return RequestFate::none;
    }
    // A request written while no notifier runs is lost: the next notifier resets Request at its start.
    if (!notifier_running) {
        return RequestFate::not_taken;
    }
    return job_of(job) == job_code(*request) ? RequestFate::taken : RequestFate::waiting;
}

const char* request_fate_text(std::optional<Request> request, RequestFate fate) {
    if (!request || fate == RequestFate::none) {
        return "";
    }
    struct Texts {
        Request request;
        const char* waiting;
        const char* taken;
        const char* not_taken;
    };
    static const Texts kTexts[] = {
        {Request::monitor, "已发出「开始使用」，等待通知程序……", "通知程序已接受「开始使用」",
         "通知程序没有运行，「开始使用」未被接受"},
        {Request::stop, "已发出「停止使用」，等待通知程序……", "通知程序已接受「停止使用」",
         "通知程序没有运行，「停止使用」未被接受"},
        {Request::acknowledge, "已发出「已读」，等待通知程序……", "通知程序已接受「已读」",
         "通知程序没有运行，「已读」未被接受"},
    };
    for (const Texts& t : kTexts) {
        if (*request == t.request) {
            return fate == RequestFate::waiting ? t.waiting : fate == RequestFate::taken ? t.taken : t.not_taken;
        }
    }
    return "";
}

RequestFate read_request_fate(std::optional<Request> request) {
    if (!request) {
        return RequestFate::none;
    }
    bool running = notifier_lock_held();
    if (running) {
        ini_read_key(Key::Job);
    }
    return request_fate(request, settings_get(Key::Job).c_str(), running);
}
