// SPDX-License-Identifier: GPL-3.0-or-later
// What other programs are told of the notifier: the events between two views, the --status text and JSON, and
// the rules the tray menu, the bus methods and the verbs share.

#include "notifier/service_requests.h"
#include "notifier/service_view.h"

#include "lamp/quiet.h"
#include "notifier/mailbox.h"
#include "platform/clock.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

AccountView account(const char* label, int count, bool lit, const char* health = "watching", const char* cause = "") {
    AccountView a;
    a.on = true;
    a.label = label;
    a.protocol = "imap";
    a.count = count;
    a.lit = lit;
    a.health = health;
    a.cause = cause;
    a.last_check = 1796700000;
    return a;
}

std::string kinds(const std::vector<ServiceEvent>& events) {
    std::string text;
    for (const ServiceEvent& e : events) {
        text += std::string(service_event_name(e.kind)) + std::to_string(e.account) + " ";
    }
    return text;
}

// Catches a read taken for a rise, one lamp event per LED where one per change is due, a health event for an
// account that only came into view, and events for an account that is switched off.
TEST(ServiceEvents, EachChangeIsOneEventOfItsKind) {
    ServiceView base;
    base.monitoring = true;
    base.accounts[0] = account("taro@example.org", 2, true);
    base.accounts[1] = account("hana@example.org", 1, true);
    auto with = [&](auto change) {
        ServiceView v = base;
        change(v);
        return v;
    };
    const struct {
        const char* what;
        ServiceView now;
        const char* events;
    } cases[] = {
        {"nothing", base, ""},
        {"more mail: the announcement tells", with([](ServiceView& v) { v.accounts[0].count = 3; }), ""},
        {"read elsewhere", with([](ServiceView& v) { v.accounts[0].count = 1; }), "read0 "},
        {"acknowledged: fewer and out", with([](ServiceView& v) {
             v.accounts[1].count = 0;
             v.accounts[1].lit = false;
         }),
         "read1 lamp-1 "},
        {"two LEDs out: one lamp event", with([](ServiceView& v) {
             v.accounts[0].lit = false;
             v.accounts[1].lit = false;
         }),
         "lamp-1 "},
        {"late", with([](ServiceView& v) { v.accounts[1].health = "late"; }), "health1 "},
        {"another cause", with([](ServiceView& v) { v.accounts[0].cause = "无法连接"; }), "health0 "},
        {"account switched on", with([](ServiceView& v) { v.accounts[2] = account("jiro", 0, false, "none"); }), ""},
        {"account switched off", with([](ServiceView& v) { v.accounts[1] = AccountView{}; }), "lamp-1 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kinds(view_events(base, c.now)), c.events) << c.what;
    }
}

// The shape scripts rely on, byte for byte; a label or folder name with quotes, a backslash and control characters
// stays one valid JSON string; only an account of several folders lists them; a switched-off account is left out;
// never checked is null.
TEST(ServiceStatus, JsonIsOneObjectOfTheSwitchedOnAccounts) {
    ServiceView view;
    view.monitoring = true;
    view.accounts[0] = account("taro@example.org", 2, true);
    view.accounts[2] = account("a\"b\\c\x1b[31m\nd", 0, false, "needs_you", "服务器拒绝了密码");
    view.accounts[1] = account("work", 3, true);
    view.accounts[1].folders = {{"INBOX", 1}, {"Lists/\"Rust\"", 2}};
    view.accounts[2].protocol = "pop3";
    view.accounts[2].last_check = 0;
    EXPECT_EQ(status_json(view),
              "{\"monitoring\": true, \"quiet_until\": null, \"quiet\": false, \"accounts\": ["
              "{\"account\": 1, \"label\": \"taro@example.org\", \"protocol\": \"imap\", \"count\": 2, "
              "\"lit\": true, \"health\": \"watching\", \"cause\": \"\", \"last_check\": 1796700000}, "
              "{\"account\": 2, \"label\": \"work\", \"protocol\": \"imap\", \"count\": 3, "
              "\"lit\": true, \"health\": \"watching\", \"cause\": \"\", \"last_check\": 1796700000, "
              "\"folders\": [{\"folder\": \"INBOX\", \"count\": 1}, {\"folder\": \"Lists/\\\"Rust\\\"\", \"count\": 2}]}, "
              "{\"account\": 3, \"label\": \"a\\\"b\\\\c [31m d\", \"protocol\": \"pop3\", \"count\": 0, "
              "\"lit\": false, \"health\": \"needs_you\", \"cause\": \"服务器拒绝了密码\", \"last_check\": null}]}\n");
    EXPECT_EQ(status_json(ServiceView{}),
              "{\"monitoring\": false, \"quiet_until\": null, \"quiet\": false, \"accounts\": []}\n");
}

// Quiet until a time, quiet for as long as the desktop wants, and not known without the bus: a script tells the
// three apart, and the text names the end in local time.
TEST(ServiceStatus, QuietSaysUntilWhenOrThatTheDesktopDecides) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        bool quiet;
        std::time_t until;
        bool known;
        const char* json;
        const char* text;
    } cases[] = {
        {true, 1796716800, true, "{\"monitoring\": false, \"quiet_until\": 1796716800, \"quiet\": true, ",
         "monitoring: off\nquiet: until 2026-12-08 08:00\n"},
        {true, 0, true, "{\"monitoring\": false, \"quiet_until\": null, \"quiet\": true, ",
         "monitoring: off\nquiet: while the desktop asks not to be disturbed\n"},
        {true, 1796716800, false, "{\"monitoring\": false, \"quiet_until\": null, \"quiet\": null, ",
         "monitoring: off\n"},
        {false, 0, true, "{\"monitoring\": false, \"quiet_until\": null, \"quiet\": false, ", "monitoring: off\n"},
    };
    for (const Case& c : cases) {
        ServiceView view;
        view.quiet = c.quiet;
        view.quiet_until = c.until;
        view.quiet_known = c.known;
        EXPECT_EQ(status_json(view).rfind(c.json, 0), 0u) << status_json(view);
        EXPECT_EQ(status_text(view), c.text);
    }
}

// A label or a folder name (the server's) goes to a terminal: no escape sequence gets through.
TEST(ServiceStatus, TextHasOneLinePerAccountAndNoControlCharacters) {
    ServiceView view;
    view.accounts[0] = account("taro\x1b]0;owned\x07@example.org", 1, true);
    view.accounts[1] = account("hana", 0, false, "late", "无法连接服务器");
    view.accounts[1].folders = {{"INBOX", 0}, {"Work\x1b[2J", 0}};
    EXPECT_EQ(status_text(view), "account 1: taro ]0;owned @example.org: 1 message, LED on, watching\n"
                                 "account 2: hana: 0 messages, LED off, late (无法连接服务器)\n"
                                 "  folder INBOX: 0\n"
                                 "  folder Work [2J: 0\n"
                                 "monitoring: off\n");
}

class ServiceRequests : public ::testing::Test {
protected:
    void SetUp() override {
        tray_status_monitoring(false);
        mailbox_reset();
        tool_write_account(0, "127.0.0.1:9", "taro", "secret");
        ini_read_all();
    }
    void TearDown() override { tray_status_monitoring(false); }

    TempCorvo dir_;
};

// The tray menu's rules, which the bus methods and the verbs answer with: catches a pass asked of a stopped
// monitor, a second start, a start that would wait behind a standing connection test, and acknowledges of an
// account that does not exist or has nothing waiting.
TEST_F(ServiceRequests, EachEntryIsTakenOrRefusedForItsReason) {
    EXPECT_EQ(request_check_now(), Refusal::not_monitoring);
    EXPECT_EQ(request_stop(), Refusal::not_monitoring);
    for (int account : {0, 2, 4, -2}) {
        EXPECT_EQ(request_acknowledge(account), Refusal::no_such_account) << account;
    }
    EXPECT_EQ(request_acknowledge(1), Refusal::nothing_to_acknowledge);
    EXPECT_EQ(request_acknowledge(-1), Refusal::nothing_to_acknowledge);

    tool_write("Request", "2");
    tool_write("Answer", "1"); // the connection test runs
    mailbox_poll();
    EXPECT_EQ(request_start(), Refusal::busy);
    EXPECT_EQ(file_key(dir_, "Request"), "2");
    EXPECT_EQ(request_stop(), Refusal::not_monitoring);

    tool_write("Answer", "0"); // between two runs of the test, which stands
    mailbox_poll();
    EXPECT_EQ(request_start(), Refusal::busy);
    tool_write("Request", "4");
    mailbox_poll();
    EXPECT_EQ(request_start(), Refusal::none);
    EXPECT_EQ(file_key(dir_, "Request"), "1");
    EXPECT_EQ(request_start(), Refusal::already_monitoring);
    tray_status_monitoring(true);
    EXPECT_EQ(request_check_now(), Refusal::none);
    EXPECT_EQ(request_stop(), Refusal::none);
    EXPECT_EQ(file_key(dir_, "Request"), "4");
    EXPECT_STREQ(refusal_error_name(Refusal::busy), "org.corvo.kd5lite.Error.Busy");
}

// A snooze by minutes: a week at most, none below nothing, 0 ends one; taken whether or not the monitor runs.
TEST_F(ServiceRequests, SnoozeIsTakenForUpToAWeekAndZeroEndsIt) {
    for (int minutes : {-1, kLongestSnoozeMinutes + 1}) {
        EXPECT_EQ(request_snooze(minutes), Refusal::bad_snooze) << minutes;
    }
    EXPECT_EQ(quiet_snoozed_until(), 0);
    const std::time_t before = clock_now();
    EXPECT_EQ(request_snooze(kLongestSnoozeMinutes), Refusal::none);
    EXPECT_GE(quiet_snoozed_until(), before + kLongestSnoozeMinutes * 60);
    EXPECT_LE(quiet_snoozed_until(), clock_now() + kLongestSnoozeMinutes * 60);
    EXPECT_TRUE(read_service_view().quiet);
    EXPECT_EQ(read_service_view().quiet_until, quiet_snoozed_until());
    EXPECT_EQ(request_snooze(0), Refusal::none);
    EXPECT_EQ(quiet_snoozed_until(), 0);
    EXPECT_STREQ(refusal_error_name(Refusal::bad_snooze), "org.corvo.kd5lite.Error.BadSnooze");
}

} // namespace
