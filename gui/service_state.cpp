// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/service_state.h"

#include "platform/notifier_lock.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstring>

const char* service_state_text(const char* state) {
    switch (text_to_int(state)) {
    case 0:
        return "wait ...";
    case 1:
        return "工作中（邮件检查中）";
    case 2:
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
        any = any || (settings_number(Key::Switch, i) == 1 && !settings_get(Key::ID, i).empty());
    }
    return any;
}

bool monitoring_runs(const char* request, const char* state, const char* job, bool notifier_running) {
    return notifier_running && (text_to_int(request) == 1 || (text_to_int(state) == 1 && text_to_int(job) == 101));
}

bool read_monitoring_runs() {
    if (!notifier_lock_held()) {
        return false;
    }
    ini_read_keys({Key::Request, Key::State, Key::Job});
    return monitoring_runs(settings_get(Key::Request).c_str(), settings_get(Key::State).c_str(),
                           settings_get(Key::Job).c_str(), true);
}

void write_request(const char* request) {
    settings_put(Key::Request, request);
}

RequestFate request_fate(const char* request, const char* job, bool notifier_running) {
    if (request == nullptr) {
        return RequestFate::none;
    }
    // A request written while no notifier runs is lost: the next notifier resets Request at its start.
    if (!notifier_running) {
        return RequestFate::not_taken;
    }
    return text_to_int(job) == 100 + text_to_int(request) ? RequestFate::taken : RequestFate::waiting;
}

const char* request_fate_text(const char* request, RequestFate fate) {
    if (request == nullptr || fate == RequestFate::none) {
        return "";
    }
    struct Texts {
        const char* request;
        const char* waiting;
        const char* taken;
        const char* not_taken;
    };
    static const Texts kTexts[] = {
        {kRequestMonitor, "已发出「开始使用」，等待通知程序……", "通知程序已接受「开始使用」",
         "通知程序没有运行，「开始使用」未被接受"},
        {kRequestStop, "已发出「停止使用」，等待通知程序……", "通知程序已接受「停止使用」",
         "通知程序没有运行，「停止使用」未被接受"},
        {kRequestAcknowledge, "已发出「已读」，等待通知程序……", "通知程序已接受「已读」",
         "通知程序没有运行，「已读」未被接受"},
    };
    for (const Texts& t : kTexts) {
        if (std::strcmp(request, t.request) == 0) {
            return fate == RequestFate::waiting ? t.waiting : fate == RequestFate::taken ? t.taken : t.not_taken;
        }
    }
    return "";
}

RequestFate read_request_fate(const char* request) {
    if (request == nullptr) {
        return RequestFate::none;
    }
    bool running = notifier_lock_held();
    if (running) {
        ini_read_key(Key::Job);
    }
    return request_fate(request, settings_get(Key::Job).c_str(), running);
}
