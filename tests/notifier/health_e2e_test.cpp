// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite binary telling an account that is not being watched from one without mail: on the lamp (the
// slow blink), in the tray's tip (read from the panel's side of the StatusNotifier item on a private bus), in one
// desktop notification and in the state log. A real Dovecot serves the accounts, the lamp simulator is the lamp,
// and the timing record is scaled by 0.02: the grace of 10 minutes is 12 s, an interval of one minute 1.2 s.

#include "tests/notifier/harness.h"
#include "tests/notifier/x11_tray_host.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"
#include "tests/support/tray_host_mock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>

namespace {

constexpr double kScale = 0.02; // NotifierProcess's KD5LITE_TIME_SCALE
constexpr int kGraceAndMore = 3 * kPatience;

std::string joined(const std::vector<std::string>& commands, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

DovecotServer::Options quick_refusals() {
    DovecotServer::Options options;
    options.quick_refusals = true;
    return options;
}

class Health : public ::testing::Test {
protected:
    void SetUp() override {
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "1");
        tool_write("BeepTime", "1");
        ASSERT_TRUE(bus_.ok()) << dir_.read("session-bus.out");
        ASSERT_TRUE(notifications_.wait_ready(kPatience)) << dir_.read("notification-server.out");
        ASSERT_TRUE(panel_.wait_ready(kPatience)) << dir_.read("tray-host.out");
        ASSERT_FALSE(display_.name().empty()) << dir_.read("xvfb.out");
        dovecot_.add_user("taro", "secret");
        ASSERT_TRUE(dovecot_.start()) << dovecot_.error() << dovecot_.log();
        ASSERT_TRUE(dovecot_.deliver("taro", "From: Hana <hana@kd5lite.test>\r\nSubject: Hello\r\n\r\nHi.\r\n"));
    }

    void add_imap_account(int account, const std::string& password = "secret") {
        tool_write_account(account, dovecot_.server_name(), "taro", password);
        tool_write("Protocol", "1", account);
    }

    void start_monitoring() {
        notifier_ = std::make_unique<NotifierProcess>(
            dir_, std::map<std::string, std::string>{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display_.name()}});
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience)) << notifier_->output();
        tool_write("Request", "1");
    }

    std::string lamp_since(std::size_t from) const { return joined(lamp_.commands(), from); }

    // Waits until the lamp has received `expected` after command number `from`; returns the new command count.
    std::size_t expect_lamp(std::size_t from, const std::string& expected, int timeout_ms = kPatience) {
        bool seen = wait_until([&] { return lamp_since(from).find(expected) != std::string::npos; }, timeout_ms);
        EXPECT_TRUE(seen) << "wanted '" << expected << "'\n" << diagnosis();
        return lamp_.commands().size();
    }

    // The ON and OF commands for led after command `from` that no lamp update sent: each update is CLS and the
    // three LEDs' commands after it.
    int blink_commands(std::size_t from, int led) const {
        const std::vector<std::string> commands = lamp_.commands();
        const std::string on = "ON" + std::to_string(led), off = "OF" + std::to_string(led);
        int blinks = 0;
        // from may fall inside an update (the lamp took its CLS just before): its LED commands are not blinks.
        int in_update = 0;
        for (std::size_t back = 1; back <= 3 && back <= from && from - back < commands.size(); ++back) {
            if (commands[from - back] == "CLS") {
                in_update = 4 - static_cast<int>(back);
                break;
            }
        }
        for (std::size_t i = from; i < commands.size(); ++i) {
            if (commands[i] == "CLS") {
                in_update = 3;
            } else if (in_update > 0) {
                --in_update;
            } else if (commands[i] == on || commands[i] == off) {
                ++blinks;
            }
        }
        return blinks;
    }

    bool wait_for_blink(std::size_t from, int led, int timeout_ms = kGraceAndMore) {
        return wait_until([&] { return blink_commands(from, led) >= 3; }, timeout_ms);
    }

    bool wait_for_log(const std::string& line, int times = 1, int timeout_ms = kGraceAndMore) {
        return wait_until([&] { return count_of(log_text(dir_, "log"), line) >= times; }, timeout_ms);
    }

    bool wait_for_tip(const std::string& text, int timeout_ms = kPatience) {
        return wait_until([&] { return panel_.tip().find(text) != std::string::npos; }, timeout_ms);
    }

    int notices(const std::string& summary) const { return count_of(notifications_.calls(), summary); }

    std::string diagnosis() const {
        return "lamp: " + lamp_since(0) + "\ntip:\n" + panel_.tip() + "\nnotifications:\n" + notifications_.calls() +
               "\nerr:\n" + log_text(dir_, "err") + "log:\n" + log_text(dir_, "log") +
               (notifier_ ? "notifier:\n" + notifier_->output() : std::string());
    }

    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
    PrivateSessionBus bus_{dir_.dir()};
    NotificationServerMock notifications_{dir_.dir()};
    TrayHostMock panel_{dir_.dir()};
    VirtualDisplay display_{dir_};
    LampSim lamp_{lamp_dir()};
    DovecotServer dovecot_{quick_refusals()};
    std::unique_ptr<NotifierProcess> notifier_;
};

// The server of the red account stops while its LED is lit; the green account, on another server, has no mail.
// The tip says at once that the red check failed and when the last one worked; after the grace the red LED
// blinks, the account is late in the tip, the state log and one notification. The green LED is not touched. The
// server back, the next pass makes the red LED steady again, closes the notification and beeps for nothing: the
// mail that waits was counted before the outage. Prints the figures of the closing note.
TEST_F(Health, ServerStoppedBlinksAfterTheGraceAndIsSteadyAgainAtTheFirstGoodPass) {
    Pop3Program green(dir_, "hana", "secret");
    ASSERT_TRUE(green.start());
    add_imap_account(0);
    tool_write_account(1, green.server_name(), "hana", "secret");
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    const std::string red = "红 taro@" + dovecot_.server_name();
    ASSERT_TRUE(wait_for_tip(red + "：1 封邮件")) << diagnosis();

    const Clock::time_point stopped = Clock::now();
    dovecot_.stop();
    ASSERT_TRUE(wait_for_tip(red + "：检查失败")) << diagnosis();
    EXPECT_NE(panel_.tip().find("　上次成功检查："), std::string::npos) << panel_.tip();
    EXPECT_EQ(notices(red + "：未能检查"), 0); // within the grace a failure is no news yet

    ASSERT_TRUE(wait_until([&] { return blink_commands(seen, 0) >= 1; }, kGraceAndMore)) << diagnosis();
    const long long to_blink = ms_since(stopped);
    ASSERT_TRUE(wait_for_blink(seen, 0)) << diagnosis();
    ASSERT_TRUE(wait_for_log("Email arrival of the mail health --> Late (unreachable)[No.0]")) << diagnosis();
    ASSERT_TRUE(wait_for_tip(red + "：未能检查")) << diagnosis();
    EXPECT_NE(panel_.tip().find("无法连接 127.0.0.1"), std::string::npos) << panel_.tip();
    ASSERT_TRUE(wait_until([&] { return notices(red + "：未能检查") == 1; }, kPatience)) << diagnosis();
    // Blinking and passes go on; the notification is not repeated per pass.
    const std::size_t blinking = lamp_.commands().size();
    expect_lamp(blinking, "CLS ON0 OF1 OF2 ");
    expect_lamp(lamp_.commands().size(), "CLS ON0 OF1 OF2 ");
    EXPECT_EQ(notices(red + "：未能检查"), 1);

    ASSERT_TRUE(dovecot_.start()) << dovecot_.error();
    const Clock::time_point back = Clock::now();
    ASSERT_TRUE(wait_for_log("Email arrival of the mail health --> Watching[No.0]", 1, kPatience)) << diagnosis();
    const std::size_t steady = expect_lamp(lamp_.commands().size(), "CLS ON0 OF1 OF2 ");
    const long long to_steady = ms_since(back);
    expect_lamp(steady, "CLS ON0 OF1 OF2 "); // a whole wait later, still no blink
    EXPECT_EQ(blink_commands(steady, 0), 0) << diagnosis();
    EXPECT_TRUE(wait_until([&] { return count_of(notifications_.calls(), "CloseNotification") == 1; }, kPatience))
        << diagnosis();
    ASSERT_TRUE(wait_for_tip(red + "：1 封邮件")) << diagnosis();
    const std::string after_stop = lamp_since(seen);
    EXPECT_EQ(count_of(after_stop, "BEP"), 0) << after_stop;
    EXPECT_EQ(count_of(after_stop, "ON1"), 0) << after_stop;
    EXPECT_EQ(blink_commands(0, 1), 0);
    EXPECT_EQ(count_of(log_text(dir_, "log"), "health -->"), 2) << log_text(dir_, "log"); // late, then watching

    std::cout << "[ FIGURE ] server stopped to the first blink " << to_blink << " ms, server back to a steady LED "
              << to_steady << " ms (KD5LITE_TIME_SCALE " << kScale << "; unscaled about " << to_blink / kScale / 1000
              << " s and " << to_steady / kScale / 1000 << " s with IntervalTimer 1)\n";
}

// A password the server refuses is a failed check, not "no mail": the LED stays lit with the count it had, and the
// account needs the user at once, in the tip and in one notification; the LED blinks once that has lasted the
// grace. The right password typed again (a saved setting the running monitor takes up at its next pass) makes it
// watched again, without a beep for the mail it already showed.
TEST_F(Health, RefusedPasswordNeedsYouAtOnceAndTheRightOneMendsIt) {
    add_imap_account(0);
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    const std::string red = "红 taro@" + dovecot_.server_name();

    add_imap_account(0, "wrong"); // as the setup program saves it
    ASSERT_TRUE(wait_for_log("Email arrival of the mail health --> Needs you (login refused)[No.0]", 1, kPatience))
        << diagnosis();
    ASSERT_TRUE(wait_for_tip(red + "：需要处理")) << diagnosis();
    EXPECT_NE(panel_.tip().find("服务器拒绝了密码：请在 kd5lite_ap 的「账户」页重新输入密码"), std::string::npos)
        << panel_.tip();
    ASSERT_TRUE(wait_until([&] { return notices(red + "：需要处理") == 1; }, kPatience)) << diagnosis();
    EXPECT_EQ(blink_commands(seen, 0), 0) << "the tip and the notification come at once, the blink after the grace\n"
                                          << diagnosis();

    ASSERT_TRUE(wait_for_blink(seen, 0)) << diagnosis();
    EXPECT_EQ(count_of(lamp_since(seen), "CLS OF0"), 0) << "a refused login put the LED out\n" << diagnosis();
    EXPECT_EQ(count_of(log_text(dir_, "log"), "Email arrival of the mail nothing[No.0]"), 0);

    add_imap_account(0, "secret");
    ASSERT_TRUE(wait_for_log("Email arrival of the mail health --> Watching[No.0]", 1, kPatience)) << diagnosis();
    const std::size_t steady = expect_lamp(lamp_.commands().size(), "CLS ON0 OF1 OF2 ");
    expect_lamp(steady, "CLS ON0 OF1 OF2 ");
    EXPECT_EQ(blink_commands(steady, 0), 0) << diagnosis();
    EXPECT_TRUE(wait_until([&] { return count_of(notifications_.calls(), "CloseNotification") == 1; }, kPatience));
    EXPECT_EQ(count_of(lamp_since(seen), "BEP"), 0) << lamp_since(seen);
    EXPECT_EQ(notices(red + "：需要处理"), 1);
}

// With HealthBlink 0 the lamp keeps the LED as it was however long the server is away; the tip, the state log
// and the notification still say it.
TEST_F(Health, WithoutTheBlinkTheLedStaysButTheTrayAndTheNotificationSayIt) {
    add_imap_account(0);
    tool_write("HealthBlink", "0", 0);
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    const std::string red = "红 taro@" + dovecot_.server_name();
    dovecot_.stop();
    ASSERT_TRUE(wait_for_log("Email arrival of the mail health --> Late (unreachable)[No.0]")) << diagnosis();
    ASSERT_TRUE(wait_for_tip(red + "：未能检查")) << diagnosis();
    ASSERT_TRUE(wait_until([&] { return notices(red + "：未能检查") == 1; }, kPatience)) << diagnosis();
    const std::size_t late = lamp_.commands().size();
    expect_lamp(late, "CLS ON0 OF1 OF2 ");
    expect_lamp(lamp_.commands().size(), "CLS ON0 OF1 OF2 "); // a whole wait between two passes
    EXPECT_EQ(blink_commands(seen, 0), 0) << diagnosis();
}

// The scripted server says BYE a moment after every IDLE begins, so the push watcher never stays connected; the
// interval's checks all work. The account is watched: no blink, no notification, no change of health. The tip
// says that push is down and how often the account is checked meanwhile.
TEST_F(Health, PushThatCannotStayIsStillWatchedThroughTheInterval) {
    const std::string port_file = dir_.path("imap.port");
    ChildProcess server({KD5LITE_IMAPSERVER, "--port-file", port_file, "--user", "taro:secret", "--from",
                         "Hana <hana@kd5lite.test>", "--fault", "bye@IDLE", "--fault-delay", "100"},
                        {}, dir_.path("imap.out"));
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(port_file); }, kPatience));
    const std::string address = "127.0.0.1:" + std::to_string(std::stoi(dir_.read("imap.port")));
    tool_write_account(0, address, "taro", "secret");
    tool_write("Protocol", "1", 0);
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(wait_for_tip("推送中断，每 1 分钟检查一次")) << diagnosis();
    ASSERT_TRUE(wait_for_log("Email arrival of the mail push --> A start[No.0]", 3)) << diagnosis();
    // Twelve passes of the interval are longer than the grace: the account would be late by now, were push its
    // only way of being checked.
    const std::size_t from = lamp_.commands().size();
    ASSERT_TRUE(wait_until([&] { return count_of(lamp_since(from), "CLS ON0 OF1 OF2 ") >= 12; }, kGraceAndMore))
        << diagnosis();
    EXPECT_EQ(blink_commands(seen, 0), 0) << diagnosis();
    EXPECT_EQ(count_of(log_text(dir_, "log"), "health -->"), 0) << log_text(dir_, "log");
    EXPECT_EQ(notices("：未能检查") + notices("：需要处理"), 0) << notifications_.calls();
    EXPECT_EQ(count_of(lamp_since(seen), "BEP"), 0);
}

// A saved change of server reaches the running monitor at its next pass: here the pass that the tray's 立即检查
// brings at once, long before the interval (an hour) is over. On an X11 notification area, whose menu the test
// drives with the keyboard.
TEST(SettingsChange, NewServerIsUsedByTheNextCheckNow) {
    TempCorvo dir;
    std::filesystem::create_directory(dir.path("lamp"));
    LampSim lamp(dir.path("lamp"));
    tool_write("StateLog", "1");
    tool_write("ErrorLog", "1");
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "60");
    tool_write("BeepTime", "1");
    Pop3Program empty(dir, "taro", "secret");
    ASSERT_TRUE(empty.start());
    DovecotServer::Options pop3;
    pop3.pop3 = true;
    DovecotServer dovecot(pop3);
    dovecot.add_user("taro", "secret");
    ASSERT_TRUE(dovecot.start()) << dovecot.error();
    ASSERT_TRUE(dovecot.deliver("taro", "From: Hana <hana@kd5lite.test>\r\nSubject: Hello\r\n\r\nHi.\r\n"));
    tool_write_account(0, empty.server_name(), "taro", "secret");

    VirtualDisplay display(dir);
    ASSERT_FALSE(display.name().empty()) << dir.read("xvfb.out");
    X11TrayHost tray(display.name());
    ASSERT_TRUE(tray.ok());
    NotifierProcess notifier(dir, {{"QT_QPA_PLATFORM", "xcb"},
                                   {"DISPLAY", display.name()},
                                   {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.path("no-bus")}});
    ASSERT_TRUE(tray.wait_for_dock_request(kPatience)) << notifier.output();
    ASSERT_TRUE(wait_until([&] { return file_key(dir, "State") == "2"; }, kPatience));
    tool_write("Request", "1");
    ASSERT_TRUE(lamp.wait_for_commands(4, kPatience));
    EXPECT_EQ(joined(lamp.commands(), 0), "CLS OF0 OF1 OF2 ");

    tool_write("ServerName", dovecot.pop3_server_name().c_str(), 0);
    tray.click_icon(1);
    ASSERT_TRUE(tray.wait_for_popup(kPatience)) << notifier.output();
    constexpr int kDown = 116, kReturn = 36; // keycodes of the X server's default keymap
    tray.press_key_in_popup(kDown);          // the first entry, 立即检查, offered while monitoring runs
    tray.press_key_in_popup(kReturn);
    // A pass that a wake-up of the start brings (the network watch's first look) may come before the change is
    // read, still with the empty server; the interval (an hour) brings none, so the lit LED is the check's.
    EXPECT_TRUE(wait_until(
        [&] { return joined(lamp.commands(), 4).find("CLS ON0 OF1 OF2 BEP ") != std::string::npos; }, kPatience))
        << joined(lamp.commands(), 0) << log_text(dir, "err");
    EXPECT_EQ(log_text(dir, "err"), "");
}

} // namespace
