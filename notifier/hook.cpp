// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/hook.h"

#include "logging/log.h"
#include "platform/child_run.h"
#include "platform/timing.h"
#include "settings/settings_access.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/wait.h>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kErrorKept = 200; // the hook's own words in the log line

// A run asked for: the command as the window thread read it, and the change's environment.
struct HookRun {
    std::string command;
    std::vector<std::string> environment;
};

struct Slot {
    bool running = false;
    std::optional<HookRun> waiting; // the newest change that came while it ran
};

std::mutex g_mutex;
std::condition_variable g_idle;
std::array<Slot, kServiceEventKinds> g_slots;
ChildGroups g_groups; // the process groups of the hooks under way; ended with the program

bool ended() {
    return g_groups.ended();
}

void add_group(int pgid) {
    g_groups.add(pgid);
}

void remove_group(int pgid) {
    g_groups.remove(pgid);
}

std::string lamp_values(const ServiceView& view, std::string (*value)(const AccountView&)) {
    std::string text;
    for (const AccountView& a : view.accounts) {
        text += (text.empty() ? "" : " ") + value(a);
    }
    return text;
}

std::string count_of(const AccountView& a) {
    return std::to_string(a.count);
}
std::string lit_of(const AccountView& a) {
    return a.lit ? "1" : "0";
}
std::string health_of(const AccountView& a) {
    return a.on ? a.health : "none";
}

void log_failure(const ChildResult& r, ServiceEventKind kind) {
    const char* what = nullptr;
    int code = 0;
    switch (r.end) {
    case ChildResult::End::exited:
        if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) {
            return;
        }
        what = "failed";
        code = WIFSIGNALED(r.status) ? WTERMSIG(r.status) : WEXITSTATUS(r.status);
        break;
    case ChildResult::End::not_run:
        what = "could not be started";
        code = r.error;
        break;
    case ChildResult::End::timed_out:
        what = "did not end in time";
        code = ETIME;
        break;
    case ChildResult::End::too_long:
        what = "printed more than 4 KB";
        code = EMSGSIZE;
        break;
    case ChildResult::End::cancelled:
        return; // the program ends
    }
    const std::string words = first_log_line(r.errors, kErrorKept);
    write_error_logf("hook ---> The hook command %s for the %s event%s%s[error: %d]", what, service_event_name(kind),
                     words.empty() ? "" : ": ", words.c_str(), code);
}

void run_once(const HookRun& hook, ServiceEventKind kind) {
    ChildRun run;
    run.argv = split_command_words(hook.command);
    run.environment = hook.environment;
    run.timeout_ms = timing().hook_ms;
    run.output_max = kHookOutputMax;
    run.stop.asked = ended;
    run.stop.add_group = add_group;
    run.stop.remove_group = remove_group;
    log_failure(run_child(run), kind);
}

// One kind's thread: its run, then the change that waited meanwhile, until none waits.
void worker(HookRun hook, ServiceEventKind kind) {
    Slot& slot = g_slots[static_cast<std::size_t>(kind)];
    for (;;) {
        run_once(hook, kind);
        std::lock_guard lock(g_mutex);
        if (!slot.waiting || ended()) {
            slot.running = false;
            slot.waiting.reset();
            g_idle.notify_all();
            return;
        }
        hook = std::move(*slot.waiting);
        slot.waiting.reset();
    }
}

void start(HookRun hook, ServiceEventKind kind) {
    std::lock_guard lock(g_mutex);
    if (ended()) {
        return;
    }
    Slot& slot = g_slots[static_cast<std::size_t>(kind)];
    if (slot.running) {
        slot.waiting = std::move(hook);
        return;
    }
    try {
        std::thread(worker, std::move(hook), kind).detach();
        slot.running = true;
    } catch (const std::system_error& e) {
        write_error_logf("hook ---> A thread cannot be started[error: %d]", e.code().value());
    }
}

} // namespace

std::vector<std::string> hook_environment(const ServiceEvent& event, const ServiceView& view,
                                          const Announcement* mail) {
    std::vector<std::string> env = {std::string("KD5LITE_EVENT=") + service_event_name(event.kind)};
    if (event.account < 0 || event.account > 2) {
        env.push_back("KD5LITE_ACCOUNT=");
        env.push_back("KD5LITE_COUNT=" + lamp_values(view, count_of));
        env.push_back("KD5LITE_LIT=" + lamp_values(view, lit_of));
        env.push_back("KD5LITE_HEALTH=" + lamp_values(view, health_of));
        return env;
    }
    const AccountView& a = view.accounts[static_cast<std::size_t>(event.account)];
    const int count = mail != nullptr ? mail->count : a.count;
    env.push_back("KD5LITE_ACCOUNT=" + std::to_string(event.account + 1));
    env.push_back("KD5LITE_COUNT=" + std::to_string(count));
    // New mail lights its LED in the lamp update that ends the pass, which may come after this tick.
    env.push_back(std::string("KD5LITE_LIT=") + (mail != nullptr ? (count > 0 ? "1" : "0") : lit_of(a)));
    env.push_back("KD5LITE_HEALTH=" + health_of(a));
    return env;
}

void hook_events(const std::vector<Announcement>& news, const ServiceView& view,
                 const std::vector<ServiceEvent>& events) {
    if (news.empty() && events.empty()) {
        return;
    }
    const std::string command = settings_get(Key::Hook);
    if (split_command_words(command).empty()) {
        return;
    }
    for (const Announcement& a : news) {
        const ServiceEvent mail{ServiceEventKind::mail, a.account};
        start({command, hook_environment(mail, view, &a)}, mail.kind);
    }
    for (const ServiceEvent& e : events) {
        start({command, hook_environment(e, view)}, e.kind);
    }
}

void hook_end() {
    g_groups.end_all();
}

bool hook_idle(int timeout_ms) {
    std::unique_lock lock(g_mutex);
    return g_idle.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] {
        for (const Slot& slot : g_slots) {
            if (slot.running) {
                return false;
            }
        }
        return true;
    });
}
