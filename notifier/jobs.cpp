// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/jobs.h"

#include "credentials/token_stop.h"
#include "lamp/lamp.h"
#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/core/check_ids.h"
#include "mail/core/check_stop.h"
#include "mail/core/header_text.h"
#include "mail/mail_check.h"
#include "mail/pop3/known_hits.h"
#include "mail/sasl/access_token.h"
#include "notifier/acknowledge.h"
#include "notifier/announcements.h"
#include "notifier/folder_text.h"
#include "notifier/health.h"
#include "notifier/health_rules.h"
#include "notifier/settings_watch.h"
#include "notifier/tray_status.h"
#include "platform/clock.h"
#include "platform/timing.h"
#include "push/monitor_wake.h"
#include "push/push.h"
#include "settings/key_values.h"
#include "settings/mailbox_codes.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

int last_count[3];

namespace {

std::atomic<bool> g_job_running{false};

void detached_thread(void (*entry)()) {
    std::thread(entry).detach();
}

void (*g_thread_starter)(void (*)()) = detached_thread;

// State before Answer: whoever reads the file between the two writes must not see it ready for the next job
// (Answer "0") while State still says busy, or that job's State "1" would be overwritten by this job's "2".
void job_end() {
    put_state(NotifierState::idle);
    put_answer(Answer::idle);
    g_job_running = false;
}

void clear_flags(int count) {
    // EntryCount is typed by hand and unchecked; the lamp has only three LEDs.
    count = std::clamp(count, 0, kAccountCount);
    for (int i = 0; i < count; ++i) {
        g_lamp.lit[i] = 0;
        g_lamp.notified[i] = 0;
    }
}

// An OAuth2 account signs in with a token and needs no Password; one of the desktop's online accounts names its
// server and user itself.
bool account_ready(int i) {
    if (!account_watched(i)) {
        return false;
    }
    const bool oauth = oauth_account(i);
    if (oauth && account_oauth_source(i) == OAuthSource::online_account) {
        return true;
    }
    return ini_check_key(Key::ServerName, i) == 0 && ini_check_key(Key::ID, i) == 0 &&
           (oauth || ini_check_key(Key::Password, i) == 0);
}

// What an account's remembered LED state was learned from: another server, user, protocol or folder is another
// mailbox, whose mail the lamp must not show until a check of it says so.
std::string mailbox_key(const Account& a) {
    return a.server + '\0' + a.user + '\0' + std::to_string(static_cast<int>(a.protocol)) + '\0' + a.folder + '\0' +
           a.folders;
}

std::string g_mailbox_key[kAccountCount];

void forget_if_changed(const Account& a) {
    std::string key = mailbox_key(a);
    if (key != g_mailbox_key[a.index]) {
        g_lamp.lit[a.index] = 0;
        g_lamp.notified[a.index] = 0;
        last_count[a.index] = 0;
        g_mailbox_key[a.index] = std::move(key);
        health_new_mailbox(a.index);
    }
}

void check_account(int i) {
    if (!account_ready(i)) {
        health_not_watched(i);
        return;
    }
    Account account;
    CheckOutcome outcome;
    if (read_account_for_check(i, account, &outcome) != 0) {
        // The keyring did not give the password: the LED stays as it was, and the account needs the user.
        tray_status_check_failed(i, clock_now());
        health_checked(account, outcome);
        return;
    }
    forget_if_changed(account);
    CheckIds ids;
    // Headers only when the count may have risen past what the lamp shows and what was acknowledged.
    ids.announce_above = last_count[i] + ack_remembered(i);
    ids.announced = announced_filter(account);
    // The push watcher's count where it has one, taken on its own connection.
    int n = push_check(account, &ids, &outcome);
    if (!check_counted(outcome)) {
        n = -1; // a refused login, password or token gave 0 for no count at all: the mail may still wait
    }
    health_checked(account, outcome);
    if (n >= 0) {
        n = ack_filter(i, n, ids); // what the user acknowledged no longer lights the lamp
    }
    if (n < 0) {
        tray_status_check_failed(i, clock_now());
        return; // a failed check keeps what the last check that worked showed
    }
    news_after_check(account, n, ids);
    tray_status_folders(i, ids.folders);
    if (n == 0) {
        write_state_logf("Email arrival of the mail confirmation --> Status:  Email arrival of the mail nothing[No.%d]",
                         i);
        g_lamp.lit[i] = 0;
        g_lamp.notified[i] = 0;
        last_count[i] = 0;
        tray_status_checked(i, 0, false, clock_now());
        return;
    }
    g_lamp.lit[i] = 1;
    if (last_count[i] < n) {
        write_state_logf(
            "Email arrival of the mail confirmation --> Status:  There is email arrival of the mail[No.%d]", i);
        g_lamp.notified[i] = 0;
    } else {
        write_state_logf("Email arrival of the mail confirmation --> Status:  There is email arrival of the mail, "
                         "and it is a new what's-his-name[No.%d]",
                         i);
    }
    last_count[i] = n;
    tray_status_checked(i, n, true, clock_now());
}

// The accounts a pass checks, as the settings record holds them now. One whose password the keyring does not give
// now gets no push watcher; the pass that follows says why, and polls it all the same.
std::vector<Account> ready_accounts() {
    std::vector<Account> accounts;
    for (int i = 0; i < kAccountCount; ++i) {
        Account account;
        if (account_ready(i) && read_account(i, account) == 0) {
            accounts.push_back(account);
        }
    }
    return accounts;
}

// The accounts the push watchers of this run were started with: IMAP ones only, since only they are watched.
std::vector<Account> g_pushed;

std::vector<Account> imap_accounts(std::vector<Account> accounts) {
    std::erase_if(accounts, [](const Account& a) { return a.protocol != MailProtocol::imap; });
    return accounts;
}

bool same_for_push(const Account& a, const Account& b) {
    return mailbox_key(a) == mailbox_key(b) && a.security == b.security && a.fingerprint == b.fingerprint &&
           a.credential.kind == b.credential.kind && a.credential.secret.view() == b.credential.secret.view() &&
           a.oauth_source == b.oauth_source && a.token_command == b.token_command;
}

void start_push() {
    g_pushed = imap_accounts(ready_accounts());
    push_start(g_pushed);
}

// A watcher keeps its account as it was at its start: a saved change of an IMAP account's server, password or
// sign-in is taken up by new watchers. A token fetch of a watcher ends first, as at the monitor's end.
void restart_push_if_changed() {
    std::vector<Account> now = imap_accounts(ready_accounts());
    if (std::equal(now.begin(), now.end(), g_pushed.begin(), g_pushed.end(), same_for_push)) {
        return;
    }
    token_stop_raise();
    push_stop();
    token_stop_clear();
    g_pushed = std::move(now);
    push_start(g_pushed);
}

void show_mail_on_lamp() {
    bool present = led_start() == 0;
    led_on();
    led_off();
    health_beep(); // led_beep, without the LEDs that blink for their health
    led_end();
    health_lamp_shown(present);
    tray_status_lamp(present, {g_lamp.lit[0] == 1, g_lamp.lit[1] == 1, g_lamp.lit[2] == 1});
}

// The wait between passes, in steps, worked out anew at every wake so a changed interval counts at once. At least
// one step even for an IntervalTimer of 0, negative or empty: without a wait the monitor could neither be stopped nor
// keep from hammering the servers and the lamp.
long long wait_steps() {
    long long steps = static_cast<long long>(timing().monitor_steps_per_min) * settings_number(Key::IntervalTimer);
    return std::max(1LL, steps);
}

// An end request stops the monitor too: the window thread acts on no request while a job runs, so the notifier
// could otherwise never end while it monitors.
bool stop_requested() {
    ini_read_key(Key::Request);
    return ends_job(mailbox_request());
}

// Every account, as a set of the wake object's kind (bit i for account i).
constexpr unsigned kEveryAccount = (1u << kAccountCount) - 1;

// The wait between passes; returns the accounts the next pass checks: every one when the interval is over, those
// whose watchers counted a change when the push ends the wait early, none when a stop was asked for. It waits on
// the push watchers' wake object, which the window thread also wakes when its tick reads a stop or an end request
// (mailbox_tick): so the settings file is read at the start of the wait and at each wake, and once a minute in
// case the window thread is held (every step while an account is late or needs the user), instead of every second.
unsigned wait_for_next_pass() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (;;) {
        if (stop_requested()) {
            return 0;
        }
        const Timing t = timing();
        const Clock::time_point step_start = Clock::now();
        health_step(); // its blink's commands come out of the step's own time, delaying neither the pass nor a stop
        const auto end = start + std::chrono::milliseconds(wait_steps() * t.monitor_step_ms);
        const long long left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            return kEveryAccount;
        }
        // An account late or in need of the user has its LED's blink driven by every step; while every account is
        // watched, time and the watchers' state are looked at once a minute.
        const long long steps = health_unsettled() ? 1 : t.monitor_steps_per_min;
        const Clock::time_point step_end = step_start + std::chrono::milliseconds(steps * t.monitor_step_ms);
        const long long step_left = std::chrono::ceil<std::chrono::milliseconds>(step_end - Clock::now()).count();
        const long long look = std::clamp<long long>(step_left, 0, left);
        if (unsigned changed = monitor_wake().wait(static_cast<int>(look)); changed != 0) {
            return stop_requested() ? 0 : changed;
        }
    }
}

// One check pass over the given accounts and the lamp update after it; false when a check saw a stop request on
// the way, which ends the pass at once. The accounts the pass leaves out keep their last results: their LEDs stay
// as they are, and mail already announced is not announced again.
bool check_pass(unsigned accounts) {
    tray_status_pass_begins();
    if (settings_changed_reload()) {
        restart_push_if_changed(); // the watchers keep the accounts as they were when they started
    }
    for (int i = 0; i < kAccountCount; ++i) {
        if ((accounts & (1u << i)) == 0) {
            continue;
        }
        check_account(i);
        if (check_stop_seen()) {
            return false;
        }
    }
    show_mail_on_lamp();
    return true;
}

} // namespace

void mail_monitor() {
    clear_flags(settings_number(Key::EntryCount));
    write_state_log("Email arrival of the mail monitor --> A start");
    tray_status_monitoring(true);
    health_start();
    settings_watch_start(); // the job start has just read the file
    // A token fetch (a token command, a refresh, the online accounts) may wait for seconds: it looks at the stop
    // request as a long check does, and the monitor's end ends the fetches of its watchers.
    set_token_stop_look(check_stop_due);
    start_push();
    check_stop_clear();
    for (unsigned accounts = kEveryAccount; accounts != 0 && check_pass(accounts);) {
        accounts = wait_for_next_pass();
    }
    token_stop_raise();
    push_stop();
    g_pushed.clear();
    set_token_stop_look(nullptr);
    token_stop_clear(); // every fetch of the run has ended; a later one (a check outside monitoring) may wait again
    led_start();        // opens the lamp with every LED off
    led_end();
    forget_known_hits();
    health_end();
    tray_status_monitoring(false);
    write_state_log("Email arrival of the mail monitor --> The end");
    job_end();
}

void connection_test() {
    write_state_log("A connection test (KD -5) --> A start");
    clear_flags(kAccountCount);
    led_start();
    // led_on sends every lit LED again, so the LEDs come on one by one and stay on.
    for (int i = 0; i < kAccountCount; ++i) {
        g_lamp.lit[i] = 1;
        led_on();
        pause_ms(timing().test_step_ms);
    }
    led_1beep();
    for (auto& lit : g_lamp.lit) {
        lit = 0;
    }
    led_alloff();
    led_end();
    write_state_log("A connection test (KD -5) --> The end");
    job_end();
}

void account_check() {
    write_state_log("A mail account check --> A start");
    write_state_log("A mail account check --> The end");
    job_end();
}

void start_job(void (*entry)()) {
    g_job_running = true;
    try {
        g_thread_starter(entry);
    } catch (const std::system_error& e) {
        // Left busy, the notifier would act on no request until restarted; idle again, the next tick retries,
        // after the same wait as any other job start rather than at every tick.
        write_error_logf("job start ---> A thread cannot be started[error: %d]", e.code().value());
        job_end();
    }
    pause_ms(timing().job_start_ms);
}

bool job_running() {
    return g_job_running;
}

void set_job_thread_starter(void (*starter)(void (*entry)())) {
    g_thread_starter = starter != nullptr ? starter : detached_thread;
}
