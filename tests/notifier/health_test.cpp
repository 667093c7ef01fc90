// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's keeper of each account's health, in process, against the lamp simulator: what it asks the window
// thread to show, what it logs, how it blinks and whom it keeps from beeping. The grace is shortened to 50 ms.

#include "notifier/health.h"

#include "lamp/lamp.h"
#include "notifier/tray_status.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

namespace {

using Commands = std::vector<std::string>;

class HealthKeeper : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t;
        t.usb_poll_ms = 2;
        t.health_grace_min_ms = 50;
        t.monitor_step_ms = 1;
        set_timing(t);
        tool_write("StateLog", "107");
        tool_write("ErrorLog", "107");
        tool_write("IntervalTimer", "0"); // one step between passes: the grace is its floor
        tool_write("BeepTime", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        ini_read_all();
        g_lamp = LampState{};
        health_start();
        take_health_notices();
    }
    void TearDown() override {
        health_end();
        take_health_notices();
        set_timing(Timing{});
        g_lamp = LampState{};
    }
    static Account account(int index) {
        Account a;
        a.index = index;
        a.server = "pop.example.org:995";
        a.user = "taro";
        return a;
    }
    static CheckOutcome failed(CheckFailure failure, int error = 0) {
        return CheckOutcome{CheckStep::login, failure, error, {}};
    }
    // Steps the wait until the grace of the failure just checked has passed for account.
    static bool past_grace(int index) {
        return wait_until(
            [&] {
                health_step();
                return health_signal(index);
            },
            kPatience);
    }

    TempCorvo dir_;
    FixedClock clock_{2026, 3, 7};
    LampSim lamp_{dir_.dir()};
};

// One notification per state, replaced when its words change, closed when watched again; one state-log line per
// change of health. Catches a notification repeated at every pass and one left open after the mend.
TEST_F(HealthKeeper, NeedsYouIsShownOnceReplacedWhenItsCauseChangesAndClosedWhenWatched) {
    health_checked(account(0), CheckOutcome{});
    EXPECT_TRUE(take_health_notices().empty()); // a first good check is no news
    health_checked(account(0), failed(CheckFailure::refused_login));
    std::vector<HealthNoticeRequest> notices = take_health_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_FALSE(notices[0].close);
    EXPECT_EQ(notices[0].summary, "红 taro@pop.example.org:995：需要处理");
    EXPECT_EQ(notices[0].body, "服务器拒绝了密码 — 请在 kd5lite_ap 的「账户」页重新输入密码");
    EXPECT_EQ(tray_status().accounts[0].health, Health::needs_you);
    EXPECT_EQ(tray_status().accounts[0].cause, "服务器拒绝了密码");

    health_checked(account(0), failed(CheckFailure::refused_login));
    EXPECT_TRUE(take_health_notices().empty());
    health_checked(account(0), CheckOutcome{CheckStep::secret, CheckFailure::keyring, EACCES, {}});
    notices = take_health_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].body.substr(0, notices[0].body.find(" — ")), "密钥环已锁定");

    health_checked(account(0), CheckOutcome{CheckStep::count, CheckFailure::refused, 0, {}}); // counts all the same
    notices = take_health_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].close);
    EXPECT_EQ(notices[0].account, 0);
    EXPECT_EQ(tray_status().accounts[0].health, Health::watching);
    EXPECT_EQ(tray_status().accounts[0].cause, "");

    const std::string log = log_text(dir_, "log");
    EXPECT_EQ(count_of(log, "health --> Needs you (login refused)[No.0]"), 1) << log;
    EXPECT_EQ(count_of(log, "health --> Watching[No.0]"), 1) << log;
    EXPECT_EQ(count_of(log, "health -->"), 2) << log; // the cause changed, the health did not
}

// A server away is no news until the grace is over, then late at the next step of the wait even without a check;
// leaving the monitor's care (switched off, the monitor's end) closes what is open.
TEST_F(HealthKeeper, LateComesWithTimeAloneAndGoesWithTheAccount) {
    health_checked(account(1), failed(CheckFailure::unreachable));
    EXPECT_EQ(tray_status().accounts[1].health, Health::watching);
    EXPECT_TRUE(take_health_notices().empty());
    ASSERT_TRUE(past_grace(1));
    std::vector<HealthNoticeRequest> notices = take_health_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "绿 taro@pop.example.org:995：未能检查");
    EXPECT_EQ(tray_status().accounts[1].health, Health::late);
    health_not_watched(1);
    notices = take_health_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].close);
    EXPECT_EQ(tray_status().accounts[1].health, Health::none);
}

// The blink: one command at a time, on for one step and off for three, for the LED in health signal only; with
// HealthBlink 0 the LED goes back to what its lit flag says and stays. The LED in health signal never beeps, the
// others still do, and its own announcement is kept for when it is watched again.
TEST_F(HealthKeeper, BlinksOnlyTheLedInSignalAndKeepsItFromBeeping) {
    g_lamp = LampState{{1, 1, 0}, {0, 0, 0}};
    health_checked(account(0), failed(CheckFailure::unreachable));
    ASSERT_TRUE(past_grace(0));
    EXPECT_FALSE(health_signal(1));
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(health_beep(), 0);
    led_end();
    EXPECT_EQ(g_lamp.notified[0], 0);
    EXPECT_EQ(g_lamp.notified[1], 1);
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(health_beep(), 0); // only the LED in signal is newly lit: no beep at all
    led_end();
    EXPECT_EQ(lamp_.commands(), (Commands{"CLS", "BEP", "CLS"}));

    health_lamp_shown(true);
    const std::size_t from = lamp_.commands().size();
    for (int step = 0; step < 8; ++step) {
        health_step();
    }
    Commands commands = lamp_.commands();
    EXPECT_EQ(Commands(commands.begin() + static_cast<long>(from), commands.end()), (Commands{"OF0", "ON0", "OF0"}));

    settings_set(Key::HealthBlink, "0", 0);
    for (int step = 0; step < 8; ++step) {
        health_step();
    }
    commands = lamp_.commands();
    EXPECT_EQ(Commands(commands.begin() + static_cast<long>(from) + 3, commands.end()), Commands{"ON0"});
    EXPECT_FALSE(health_signal(0));
}

// A lamp that went away stops the blink until the next lamp update reaches it: no wait for a dead lamp at every
// step.
TEST_F(HealthKeeper, ALampThatFailsABlinkIsLeftToTheNextUpdate) {
    g_lamp = LampState{{0, 0, 0}, {0, 0, 0}};
    health_checked(account(2), failed(CheckFailure::tls));
    ASSERT_TRUE(past_grace(2));
    health_lamp_shown(true);
    lamp_.stop();
    health_step(); // ON2 fails
    const std::string errors = log_text(dir_, "err");
    ASSERT_NE(errors.find("USB operation ---> "), std::string::npos);
    for (int step = 0; step < 8; ++step) {
        health_step();
    }
    EXPECT_EQ(log_text(dir_, "err"), errors);
    health_lamp_shown(false);
    health_step();
    EXPECT_EQ(log_text(dir_, "err"), errors);
}

} // namespace
