// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite binary, driven only through the settings file as the setup and option programs drive it.

#include "tests/notifier/harness.h"
#include "tests/notifier/x11_tray_host.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include "kd5_version.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>

namespace {

std::string joined(const std::vector<std::string>& commands, std::size_t from = 0) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

class Notifier : public ::testing::Test {
protected:
    void switch_logs_on() {
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
    }
    bool key_is(const char* key, const std::string& value, int timeout_ms = kPatience) {
        return wait_until([&] { return file_key(dir_, key) == value; }, timeout_ms);
    }
    std::string state_log() const { return log_text(dir_, "log"); }
    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
};

TEST_F(Notifier, FirstStartFillsTheFileRefusesASecondInstanceAndEndsOnRequest99) {
    NotifierProcess first(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    for (auto [key, want] : {std::pair{"Request", "0"},
                             {"Answer", "0"},
                             {"Error", "0"},
                             {"Job", "0"},
                             {"EntryCount", "0"},
                             {"IntervalTimer", "10"},
                             {"BeepTime", "1"},
                             {"Language", "Japanese"},
                             {"Version", "Ver " KD5_VERSION},
                             {"SerialNumber", ""}}) {
        EXPECT_EQ(file_key(dir_, key), want) << key;
    }
    EXPECT_EQ(file_key(dir_, "StateLog").substr(0, 1), "0");
    EXPECT_EQ(file_key(dir_, "Switch", 0), "0");
    EXPECT_EQ(file_key(dir_, "SpecialSearch3", 2), "");

    std::string before = dir_.read("corvo_kd5lite.ini");
    NotifierProcess second(dir_);
    EXPECT_EQ(second.wait_exit(), 1);
    EXPECT_NE(second.output().find("corvo KD-5 lite does not come by multiplex start.\n"), std::string::npos);
    EXPECT_NE(second.output().find("kd5lite 已经在运行"), std::string::npos) << second.output(); // and in Chinese
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini"), before);
    EXPECT_TRUE(first.running());

    tool_write("Request", "99");
    EXPECT_EQ(first.wait_exit(), 1);
    EXPECT_EQ(file_key(dir_, "Job"), "199");
}

TEST_F(Notifier, AStopLeftInJobKeepsItIdle) {
    switch_logs_on();
    tool_write("Job", "104");
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    // Had monitoring resumed, it would hold the notifier busy and this check would never run.
    tool_write("Request", "3");
    ASSERT_TRUE(wait_until([&] { return state_log().find("A mail account check --> The end") != std::string::npos; },
                           kPatience));
    EXPECT_EQ(count_of(state_log(), "email check"), 0);
}

TEST_F(Notifier, MonitoringLeftInJobResumesAndStopsWithinASecond) {
    switch_logs_on();
    LampSim lamp(lamp_dir());
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "10"); // a long wait, which the stop must cut short
    tool_write("Job", "101");
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(wait_until([&] { return state_log().find("monitor --> A start") != std::string::npos; }, kPatience));
    EXPECT_EQ(file_key(dir_, "Request"), "1");
    EXPECT_EQ(file_key(dir_, "Job"), "101");
    EXPECT_EQ(file_key(dir_, "State"), "1");
    EXPECT_EQ(file_key(dir_, "Answer"), "1");
    ASSERT_TRUE(lamp.wait_for_commands(4, kPatience)); // a pass with no account enabled: all off
    EXPECT_EQ(joined(lamp.commands()), "CLS OF0 OF1 OF2 ");

    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104", 5000));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    EXPECT_NE(state_log().find("Email arrival of the mail monitor --> The end"), std::string::npos);
    EXPECT_EQ(joined(lamp.commands()), "CLS OF0 OF1 OF2 CLS ");
}

TEST_F(Notifier, ConnectionTestRepeatsItsPatternUntilStopped) {
    switch_logs_on();
    LampSim lamp(lamp_dir());
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));

    tool_write("Request", "2");
    const std::string pattern = "CLS ON0 ON0 ON1 ON0 ON1 ON2 BEP CLS ";
    ASSERT_TRUE(wait_until([&] { return count_of(joined(lamp.commands()), pattern) >= 2; }, kPatience))
        << joined(lamp.commands()) << lamp.output() << log_text(dir_, "err") << state_log();
    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104"));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    std::string commands = joined(lamp.commands());
    EXPECT_EQ(commands.size() % pattern.size(), 0u) << commands; // the last run was completed, not cut off
    EXPECT_EQ(count_of(commands, pattern) * pattern.size(), commands.size()) << commands;
    std::string log = state_log();
    EXPECT_EQ(count_of(log, "connection test(KD-5)"), count_of(log, "A connection test (KD -5) --> The end"));
}

TEST_F(Notifier, EndOfSessionLeavesJobSoMonitoringResumesAtTheNextLogin) {
    for (int sig : {SIGTERM, SIGHUP}) {
        tool_write("Job", "101");
        NotifierProcess notifier(dir_);
        ASSERT_TRUE(key_is("Answer", "1"));
        notifier.signal(sig);
        EXPECT_EQ(notifier.wait_exit(), 1) << sig;
        EXPECT_EQ(file_key(dir_, "Job"), "101") << sig;
    }
}

// A notifier that died mid-job left the keys busy; the next one must reset them even when it can make no
// single-instance lock at all, or it would never act on a request again.
TEST_F(Notifier, KeysLeftBusyAreResetEvenWithoutALockFile) {
    std::filesystem::create_directory(dir_.path("corvo KD-5 lite.lock")); // where both lock files would go
    for (const char* key : {"Request", "State", "Answer"}) {
        tool_write(key, "1");
    }
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2")) << notifier.output();
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    EXPECT_NE(notifier.output().find("cannot use the lock file"), std::string::npos) << notifier.output();
}

// Started at login before the desktop's panel, the notifier docks its icon once the notification area is there
// (here an X11 one, on a display of its own, without a session bus).
TEST_F(Notifier, TrayIconComesWhenTheNotificationAreaComesLater) {
    VirtualDisplay display(dir_);
    ASSERT_FALSE(display.name().empty()) << dir_.read("xvfb.out");
    NotifierProcess notifier(dir_, {{"QT_QPA_PLATFORM", "xcb"},
                                    {"DISPLAY", display.name()},
                                    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.path("no-bus")}});
    ASSERT_TRUE(key_is("State", "2")) << notifier.output(); // up, and found no notification area
    X11TrayHost tray(display.name());
    ASSERT_TRUE(tray.ok());
    EXPECT_TRUE(tray.wait_for_dock_request(kPatience)) << notifier.output();
    EXPECT_TRUE(notifier.running());
}

// With its icon docked in a notification area, the end of the session ends the notifier exactly once: exit code 1,
// Job left as it was for the resume, the single-instance lock free for the next start. Ten times each, since the
// fault it guards against (the end begun again inside itself) showed only with a tray.
TEST_F(Notifier, EndSignalsEndItOnceWithATrayIcon) {
    VirtualDisplay display(dir_);
    ASSERT_FALSE(display.name().empty()) << dir_.read("xvfb.out");
    X11TrayHost tray(display.name());
    ASSERT_TRUE(tray.ok());
    const std::map<std::string, std::string> desktop = {
        {"QT_QPA_PLATFORM", "xcb"},
        {"DISPLAY", display.name()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.path("no-bus")}};
    for (int sig : {SIGTERM, SIGHUP}) {
        for (int run = 0; run < 10; ++run) {
            SCOPED_TRACE("signal " + std::to_string(sig) + ", run " + std::to_string(run));
            tool_write("Job", "101");
            tool_write("Request", "0");
            tool_write("Answer", "0"); // the last run ended mid-job with 1 there
            NotifierProcess notifier(dir_, desktop);
            // Monitoring resumed: the window, its icon and the signals' handling are in place.
            ASSERT_TRUE(key_is("Answer", "1")) << notifier.output();
            ASSERT_TRUE(tray.wait_for_dock_request(kPatience)) << notifier.output();
            notifier.signal(sig);
            ASSERT_EQ(notifier.wait_exit(), 1) << notifier.output();
            EXPECT_EQ(file_key(dir_, "Job"), "101");
        }
    }
}

// The tray's menu on a real X11 notification area: a left click opens it (as a right click does) and its entry
// 开始使用 asks for monitoring through the command mailbox, as the tools' button does.
TEST_F(Notifier, LeftClickOpensTheTrayMenuWhoseStartEntryStartsMonitoring) {
    switch_logs_on();
    VirtualDisplay display(dir_);
    ASSERT_FALSE(display.name().empty()) << dir_.read("xvfb.out");
    X11TrayHost tray(display.name());
    ASSERT_TRUE(tray.ok());
    NotifierProcess notifier(dir_, {{"QT_QPA_PLATFORM", "xcb"},
                                    {"DISPLAY", display.name()},
                                    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.path("no-bus")}});
    ASSERT_TRUE(tray.wait_for_dock_request(kPatience)) << notifier.output();
    ASSERT_TRUE(key_is("State", "2")) << notifier.output();
    tray.click_icon(1);
    ASSERT_TRUE(tray.wait_for_popup(kPatience)) << notifier.output();
    constexpr int kDown = 116, kReturn = 36; // keycodes of the X server's default keymap
    tray.press_key_in_popup(kDown);          // 立即检查 is offered only while monitoring: the first entry is 开始使用
    tray.press_key_in_popup(kReturn);
    EXPECT_TRUE(key_is("Job", "101")) << file_key(dir_, "Request") << notifier.output();
    EXPECT_TRUE(wait_until(
        [&] { return state_log().find("Email arrival of the mail monitor --> A start") != std::string::npos; },
        kPatience));
}

class Monitoring : public Notifier {
protected:
    void SetUp() override {
        switch_logs_on();
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "1");
        tool_write("BeepTime", "2");
        pop3_.set_message_count(3);
        ASSERT_TRUE(pop3_.start());
        tool_write_account(0, pop3_.server_name(), "taro", "secret");
    }
    // Commands the lamp received after the first `from`, joined.
    std::string lamp_since(std::size_t from) const { return joined(lamp_.commands(), from); }
    // Waits until the lamp has received `expected` after command number `from`; returns the new command count.
    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen = wait_until([&] { return lamp_since(from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' got '" << lamp_since(from) << "'\n"
                          << log_text(dir_, "err") << state_log();
        return lamp_.commands().size();
    }

    LampSim lamp_{lamp_dir()};
    Pop3Program pop3_{dir_, "taro", "secret"};
};

TEST_F(Monitoring, LightsAndBeepsForNewMailOnlyAndStopsWithEveryLedOff) {
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2")); // a request written before the start would be reset
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    pop3_.set_message_count(5);
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP BEP ");
    // The same count: lit again, no beep before the next pass begins.
    expect_lamp(seen, "CLS ON0 OF1 OF2 ");
    pop3_.set_message_count(0);
    expect_lamp(seen, "CLS ON0 OF1 OF2 CLS OF0 OF1 OF2 ");

    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104", 10000));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    std::string commands = lamp_since(0);
    EXPECT_TRUE(commands.ends_with("CLS ")) << commands;
    std::string log = state_log();
    EXPECT_EQ(count_of(log, "Status:  There is email arrival of the mail[No.0]"), 2) << log;
    EXPECT_GE(count_of(log, "and it is a new what's-his-name[No.0]"), 1) << log;
    EXPECT_GE(count_of(log, "Email arrival of the mail nothing[No.0]"), 1) << log;
    EXPECT_NE(log.find("Email arrival of the mail monitor --> The end"), std::string::npos);
    EXPECT_TRUE(notifier.running());
}

TEST_F(Monitoring, UnpluggedLampIsLitAgainWhenItComesBack) {
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2")); // a request written before the start would be reset
    tool_write("Request", "1");
    expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    lamp_.kill();
    ASSERT_TRUE(
        wait_until([&] { return log_text(dir_, "err").find("USB operation ---> ") != std::string::npos; }, kPatience));
    std::size_t seen = lamp_.commands().size();
    ASSERT_TRUE(lamp_.start());
    expect_lamp(seen, "CLS ON0 OF1 OF2 CLS ON0 OF1 OF2 "); // announced before the unplug: no beep again
    EXPECT_TRUE(notifier.running());
    EXPECT_EQ(file_key(dir_, "Answer"), "1");
}

// A check that fails on the way keeps the account's LED as it was, and so does a refused password: the mail may
// still wait on the server, and the account is not "no mail" but not checked.
TEST_F(Monitoring, ServerDownAndRefusedPasswordBothKeepTheLed) {
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2")); // a request written before the start would be reset
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    pop3_.stop();
    ASSERT_TRUE(wait_until(
        [&] {
            return log_text(dir_, "err").find("check mail ---> TCP/IP connection is abnormal[no.0 error: ") !=
                   std::string::npos;
        },
        kPatience));
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 ");
    ASSERT_TRUE(pop3_.start({"--reply", "PASS=-ERR invalid password"}));
    const std::string refused = "check mail ---> Contents abnormality of a POP confirmation [a password] message[no.0 "
                                "error: ";
    ASSERT_TRUE(wait_until([&] { return count_of(log_text(dir_, "err"), refused) >= 2; }, kPatience));
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 ");
    EXPECT_EQ(count_of(lamp_since(0), "CLS OF0"), 0) << lamp_since(0);
    EXPECT_EQ(state_log().find("Email arrival of the mail nothing[No.0]"), std::string::npos);
    EXPECT_NE(state_log().find("Email arrival of the mail health --> Needs you (login refused)[No.0]"),
              std::string::npos)
        << state_log();
}

// New mail brings one desktop notification per account and pass, with the senders and subjects of the new messages
// read by "TOP n 0" alone; a pass without new mail brings none. Prints the delivery-to-LED and
// delivery-to-notification times (under the scaled timing of these tests) as figures, never asserts them.
TEST_F(Monitoring, NewMailBringsOneDesktopNotificationBesideTheLed) {
    PrivateSessionBus bus(dir_.dir());
    ASSERT_TRUE(bus.ok()) << dir_.read("session-bus.out");
    NotificationServerMock server(dir_.dir());
    ASSERT_TRUE(server.wait_ready(kPatience)) << dir_.read("notification-server.out");
    const std::string transcript = dir_.path("transcript");
    ASSERT_TRUE(pop3_.start({"--transcript", transcript}));
    tool_write_account(0, pop3_.server_name(), "taro", "secret");
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    tool_write("Request", "1");
    auto notifies = [&] { return count_of(server.calls(), " Notify "); };
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(wait_until([&] { return notifies() == 1; }, kPatience)) << server.calls();
    std::string calls = server.calls();
    EXPECT_NE(calls.find("taro@" + pop3_.server_name() + "：3 封新邮件"), std::string::npos) << calls.substr(0, 400);
    EXPECT_NE(calls.find("Sender：Message 3\nSender：Message 2\nSender：Message 1"), std::string::npos)
        << calls.substr(0, 400);

    const auto delivered = std::chrono::steady_clock::now();
    pop3_.set_message_count(4);
    ASSERT_TRUE(wait_until([&] { return lamp_since(seen).find("ON0 OF1 OF2 BEP BEP ") != std::string::npos; },
                           kPatience));
    const auto lit = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until([&] { return notifies() == 2; }, kPatience)) << server.calls();
    const auto shown = std::chrono::steady_clock::now();
    auto ms = [&](auto t) { return std::chrono::duration_cast<std::chrono::milliseconds>(t - delivered).count(); };
    std::cout << "[ FIGURE ] delivery to LED " << ms(lit) << " ms, delivery to notification " << ms(shown)
              << " ms (KD5LITE_TIME_SCALE 0.02)\n";
    calls = server.calls();
    EXPECT_NE(calls.find("Sender：Message 4", calls.rfind(" Notify ")), std::string::npos) << calls;

    // Passes without new mail: no notification, and only UIDL beside the usual commands.
    std::size_t logins = static_cast<std::size_t>(count_of(dir_.read("transcript"), "USER taro"));
    ASSERT_TRUE(wait_until(
        [&] { return static_cast<std::size_t>(count_of(dir_.read("transcript"), "USER taro")) >= logins + 2; },
        kPatience));
    EXPECT_EQ(notifies(), 2);
    std::string commands = dir_.read("transcript");
    EXPECT_EQ(count_of(commands, "TOP 3 0"), 1) << commands;
    EXPECT_EQ(count_of(commands, "TOP 4 0"), 1) << commands;
    EXPECT_EQ(count_of(commands, "TOP "), 4) << commands; // the first pass's three, the second's one
    EXPECT_NE(commands.find("STAT\nUIDL\nQUIT\n"), std::string::npos) << commands;
    EXPECT_EQ(log_text(dir_, "err").find("check mail"), std::string::npos) << log_text(dir_, "err");
}

// An IMAP account on a real Dovecot: its LED is lit while unread mail waits, and goes out once the mail has been
// read in another mail program, without any new mail.
class ImapMonitoring : public Monitoring {
protected:
    void SetUp() override {
        Monitoring::SetUp();
        dovecot_.add_user("alice", "secret");
        ASSERT_TRUE(dovecot_.start()) << dovecot_.error();
        tool_write_account(0, dovecot_.server_name(), "alice", "secret");
        tool_write("Protocol", "1", 0);
    }

    DovecotServer dovecot_;
};

TEST_F(ImapMonitoring, LedLitWhileUnreadMailWaitsAndOutOnceReadElsewhere) {
    ASSERT_TRUE(dovecot_.deliver("alice", "From: Taro <taro@example.com>\r\nSubject: one\r\n\r\nbody\r\n"));
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(dovecot_.mark_all_read("alice"));
    expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104", 10000));
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// With sender filters, a running monitor reads the headers of each message once: later passes send TOP for new
// messages only. A stopped monitor forgets, so the next monitoring reads every message again.
TEST_F(Monitoring, FilteredPassesReadNewMessagesOnlyUntilMonitoringStops) {
    const std::string transcript = dir_.path("transcript");
    ASSERT_TRUE(pop3_.start({"--transcript", transcript}));
    tool_write("SpecialAddress1", "sender@kd5lite.test", 0);
    tool_write("SpecialSearch1", "1", 0);
    auto tops = [&] { return count_of(dir_.read("transcript"), "TOP "); };
    auto logins = [&] { return count_of(dir_.read("transcript"), "USER taro"); };
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(wait_until([&] { return logins() >= 3; }, kPatience));
    EXPECT_EQ(tops(), 3); // the first pass only
    pop3_.set_message_count(4);
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP BEP ");
    EXPECT_EQ(count_of(dir_.read("transcript"), "TOP 4 10"), 1);
    EXPECT_EQ(tops(), 4);

    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104", 10000));
    tool_write("Request", "1");
    const std::string every_message = "UIDL\nCAPA\nTOP 1 10\nTOP 2 10\nTOP 3 10\nTOP 4 10\nQUIT\n";
    EXPECT_TRUE(wait_until([&] { return count_of(dir_.read("transcript"), every_message) == 1; }, kPatience))
        << dir_.read("transcript");
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// A stop written while a filtered pass reads hundreds of messages ends the check with QUIT within moments; the
// next account is not checked, the lamp goes dark as at any stop, and the notifier is idle again.
TEST_F(Monitoring, StopDuringALongFilteredPassEndsTheMonitorAtOnce) {
    const std::string transcript = dir_.path("transcript");
    pop3_.set_message_count(400);
    // Every answer goes out 8 bytes a millisecond: the whole pass would take some 8 s.
    ASSERT_TRUE(pop3_.start({"--transcript", transcript, "--slow", "1", "--piece", "8"}));
    tool_write("SpecialAddress1", "sender@kd5lite.test", 0);
    tool_write("SpecialSearch1", "1", 0);
    tool_write_account(1, pop3_.server_name(), "taro", "secret");
    auto tops = [&] { return count_of(dir_.read("transcript"), "TOP "); };
    NotifierProcess notifier(dir_);
    ASSERT_TRUE(key_is("State", "2"));
    tool_write("Request", "1");
    ASSERT_TRUE(wait_until([&] { return tops() >= 20; }, kPatience)) << log_text(dir_, "err");

    tool_write("Request", "4");
    ASSERT_TRUE(key_is("Job", "104", 10000));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    std::string commands = dir_.read("transcript");
    EXPECT_LT(tops(), 400);
    EXPECT_TRUE(commands.ends_with("QUIT\n")) << commands.substr(commands.size() - 200);
    EXPECT_EQ(count_of(commands, "USER taro"), 1); // account 1 never checked
    EXPECT_EQ(lamp_since(0), "CLS ");              // no lamp update of the pass, only the stop's
    EXPECT_NE(state_log().find("Email arrival of the mail monitor --> The end"), std::string::npos);
    EXPECT_EQ(log_text(dir_, "err"), "");
    EXPECT_TRUE(notifier.running());
}

} // namespace
