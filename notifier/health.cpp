// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/health.h"

#include "lamp/lamp.h"
#include "logging/log.h"
#include "mail/net/server_name.h"
#include "notifier/health_rules.h"
#include "notifier/health_words.h"
#include "notifier/tray_status.h"
#include "platform/clock.h"
#include "platform/timing.h"
#include "push/push.h"
#include "settings/key_values.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <time.h>

namespace {

struct AccountHealth {
    HealthState state;
    HealthWords words;
    std::string label;
    std::time_t last_good = 0; // calendar time of the last check that worked, for the words
    bool noticed = false;      // its notification is open
};

// Job thread only, but for the notices, which the window thread takes.
AccountHealth g_accounts[kAccountCount];
bool g_shown[kAccountCount]; // what each LED shows now, as the last lamp command set it
bool g_lamp_ok = false;      // the last lamp update and the blink since reached the lamp
long long g_blink_step = 0;
long long g_slept_ms = 0;

std::mutex g_notice_mutex;
std::optional<HealthNoticeRequest> g_notices[kAccountCount]; // the newest request per account replaces the older

long long clock_ms(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

long long now_ms() {
    return clock_ms(CLOCK_MONOTONIC);
}

// CLOCK_BOOTTIME counts the time asleep and CLOCK_MONOTONIC does not: their gap grows by each suspend.
long long slept_ms() {
    return clock_ms(CLOCK_BOOTTIME) - clock_ms(CLOCK_MONOTONIC);
}

// Twice the interval between passes as the wait counts it (at least one step), and never below the floor.
long long grace_ms() {
    const Timing t = timing();
    const long long steps =
        std::max(1LL, static_cast<long long>(t.monitor_steps_per_min) * settings_number(Key::IntervalTimer));
    return health_grace_ms(steps * t.monitor_step_ms, t.health_grace_min_ms);
}

bool valid(int account) {
    return account >= 0 && account < kAccountCount;
}

const char* health_log_name(Health health) {
    switch (health) {
    case Health::watching:
        return "Watching";
    case Health::late:
        return "Late";
    case Health::needs_you:
        return "Needs you";
    default:
        return "None";
    }
}

// Every change among watching, late and needs you; an account's first check that works, and its leaving the
// monitor's care, are no news.
void log_change(int i, Health before, const HealthState& now) {
    if (now.health == before || now.health == Health::none ||
        (before == Health::none && now.health == Health::watching)) {
        return;
    }
    if (now.health == Health::watching) {
        write_state_logf("Email arrival of the mail health --> Watching[No.%d]", i);
    } else {
        write_state_logf("Email arrival of the mail health --> %s (%s)[No.%d]", health_log_name(now.health),
                         check_failure_name(now.cause), i);
    }
}

void post_notice(int i, HealthNoticeRequest request) {
    request.account = i;
    std::lock_guard lock(g_notice_mutex);
    g_notices[i] = std::move(request);
}

// One notification while the account is late or needs the user, replaced when what it says changes, closed when
// the account is watched again or leaves the monitor's care.
void update_notice(int i, Health before, const std::string& words_before) {
    AccountHealth& a = g_accounts[i];
    const bool wanted = a.state.health == Health::late || a.state.health == Health::needs_you;
    if (!wanted) {
        if (a.noticed) {
            a.noticed = false;
            post_notice(i, HealthNoticeRequest{i, true, {}, {}});
        }
        return;
    }
    if (a.noticed && before == a.state.health && words_before == a.words.cause + a.words.todo) {
        return;
    }
    a.noticed = true;
    HealthNotice text = health_notice(i, a.label, a.state.health, a.words, a.last_good, clock_now());
    post_notice(i, HealthNoticeRequest{i, false, std::move(text.summary), std::move(text.body)});
}

void publish(int i, Health before, const std::string& words_before) {
    AccountHealth& a = g_accounts[i];
    log_change(i, before, a.state);
    tray_status_health(i, a.state.health, a.words.cause, a.words.todo);
    update_notice(i, before, words_before);
}

void set_state(int i, const HealthState& state) {
    AccountHealth& a = g_accounts[i];
    const Health before = a.state.health;
    const std::string words_before = a.words.cause + a.words.todo;
    a.state = state;
    if (state.health == Health::none) {
        a.words = {};
    }
    publish(i, before, words_before);
}

void show_push_states() {
    for (int i = 0; i < kAccountCount; ++i) {
        tray_status_push(i, push_state(i) == PushState::down);
    }
    tray_status_interval(settings_number(Key::IntervalTimer));
}

// The blink: on for blink_on_steps, off for blink_off_steps, counted from the last lamp update. An LED that is
// not in health signal (any more) goes back to what its lit flag says. A command that fails leaves the lamp to
// the next pass's update, so a lamp that went away costs no wait at every step.
void blink() {
    if (!g_lamp_ok) {
        return;
    }
    const Timing t = timing();
    const bool on = blink_phase_on(g_blink_step++, t.blink_on_steps, t.blink_off_steps);
    for (int i = 0; i < kAccountCount; ++i) {
        const bool want = health_signal(i) ? on : g_lamp.lit[i] == 1;
        if (g_shown[i] == want) {
            continue;
        }
        if (led_set(i, want) != 0) {
            g_lamp_ok = false;
            return;
        }
        g_shown[i] = want;
    }
}

} // namespace

void health_start() {
    for (int i = 0; i < kAccountCount; ++i) {
        set_state(i, HealthState{});
    }
    g_lamp_ok = false;
    g_slept_ms = slept_ms();
    show_push_states();
}

void health_end() {
    for (int i = 0; i < kAccountCount; ++i) {
        set_state(i, HealthState{});
        tray_status_push(i, false);
    }
    g_lamp_ok = false;
}

void health_not_watched(int account) {
    if (valid(account) && g_accounts[account].state.health != Health::none) {
        set_state(account, HealthState{});
    }
}

void health_new_mailbox(int account) {
    health_not_watched(account);
}

void health_checked(const Account& account, const CheckOutcome& outcome) {
    const int i = account.index;
    if (!valid(i) || outcome.failure == CheckFailure::stopped) {
        return;
    }
    AccountHealth& a = g_accounts[i];
    const Health before = a.state.health;
    const std::string words_before = a.words.cause + a.words.todo;
    HealthContext context;
    context.host = split_server_name(account.server).host;
    if (account.credential.kind == CredentialKind::oauth2) {
        context.source = account.oauth_source;
    }
    a.state = health_after_check(a.state, outcome, now_ms(), grace_ms());
    a.words = health_words(outcome, context);
    a.label = account_label(account.user, account.server);
    if (check_counted(outcome)) {
        a.last_good = clock_now();
    }
    publish(i, before, words_before);
    show_push_states();
}

void health_step() {
    const long long now = now_ms();
    const long long grace = grace_ms();
    const long long slept = slept_ms();
    const bool resumed = slept - g_slept_ms >= timing().clock_jump_ms;
    g_slept_ms = slept;
    for (int i = 0; i < kAccountCount; ++i) {
        HealthState state = g_accounts[i].state;
        if (resumed) {
            state = health_next(state, HealthEvent::restart, state.cause, now, grace);
        }
        state = health_next(state, HealthEvent::time, state.cause, now, grace);
        if (state.health != g_accounts[i].state.health || resumed) {
            set_state(i, state);
        }
    }
    show_push_states();
    blink();
}

void health_lamp_shown(bool present) {
    g_lamp_ok = present;
    for (int i = 0; i < kAccountCount; ++i) {
        g_shown[i] = g_lamp.lit[i] == 1;
    }
    g_blink_step = 0;
}

int health_beep() {
    unsigned char kept[kAccountCount];
    bool quiet[kAccountCount];
    for (int i = 0; i < kAccountCount; ++i) {
        quiet[i] = health_signal(i);
        kept[i] = g_lamp.notified[i];
        if (quiet[i]) {
            g_lamp.notified[i] = 1; // not newly lit, for this once: its mail is announced when it is watched again
        }
    }
    const int rc = led_beep();
    for (int i = 0; i < kAccountCount; ++i) {
        if (quiet[i]) {
            g_lamp.notified[i] = kept[i];
        }
    }
    return rc;
}

bool health_signal(int account) {
    return valid(account) && health_blinks(g_accounts[account].state, now_ms(), grace_ms()) &&
           account_health_blinks(account);
}

bool health_unsettled() {
    for (const AccountHealth& a : g_accounts) {
        if (a.state.health == Health::late || a.state.health == Health::needs_you) {
            return true;
        }
    }
    return false;
}

std::vector<HealthNoticeRequest> take_health_notices() {
    std::vector<HealthNoticeRequest> requests;
    std::lock_guard lock(g_notice_mutex);
    for (auto& pending : g_notices) {
        if (pending.has_value()) {
            requests.push_back(std::move(*pending));
            pending.reset();
        }
    }
    return requests;
}
