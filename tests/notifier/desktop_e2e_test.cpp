// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite on a desktop of the tests' own: a private session bus with a notification server that records
// every call, a StatusNotifier panel, an X display; a POP3 server program and the lamp simulator. One story per
// behaviour: a notification's life, the acknowledge from it, quiet hours, a panel that comes after the notifier, a
// session bus that never answers.

#include "tests/notifier/harness.h"
#include "tests/notifier/x11_tray_host.h"
#include "tests/support/desktop_services.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

std::string joined(const std::vector<std::string>& commands, std::size_t from = 0) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

// "HH:MM" of the local time minutes from now.
std::string clock_in(int minutes) {
    const std::time_t t = std::time(nullptr) + minutes * 60;
    std::tm local{};
    localtime_r(&t, &local);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

// The text after "id=" or "-> " in the last line of log that holds needle: the number the server gave.
unsigned last_id(const std::string& log, const std::string& needle, const std::string& before = "-> ") {
    const std::size_t line = log.rfind(needle);
    if (line == std::string::npos) {
        return 0;
    }
    const std::size_t at = log.find(before, line);
    return at == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(log.substr(at + before.size())));
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ok()) << dir_.read("session-bus.out");
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "1");
        tool_write("BeepTime", "2");
        pop3_.set_message_count(3);
        ASSERT_TRUE(pop3_.start({"--transcript", dir_.path("transcript")}));
        tool_write_account(0, pop3_.server_name(), "taro", "secret");
        // The mail client stand-in: xdg-email first on PATH, recording that it was started.
        std::filesystem::create_directory(dir_.path("bin"));
        std::ofstream(dir_.path("bin/xdg-email"))
            << "#!/bin/sh\ntouch \"" << dir_.path("mail-client.started") << "\"\n";
        std::filesystem::permissions(dir_.path("bin/xdg-email"), std::filesystem::perms::owner_all);
    }

    std::unique_ptr<NotifierProcess> start(std::map<std::string, std::string> env = {}) {
        env["PATH"] = dir_.path("bin") + ":" + std::getenv("PATH");
        auto notifier = std::make_unique<NotifierProcess>(dir_, env);
        EXPECT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience)) << notifier->output();
        return notifier;
    }
    bool notified(RecordingNotificationServer& server, int n) {
        return wait_until([&] { return count_of(server.notifies(), "Notify ") >= n; }, kPatience);
    }
    std::string last_notify(RecordingNotificationServer& server) {
        const std::string all = server.notifies();
        const std::size_t start = all.rfind("Notify ");
        return start == std::string::npos ? "" : all.substr(start);
    }
    // Waits until the lamp has received `expected` after command number `from`; returns the new command count.
    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        const bool seen =
            wait_until([&] { return joined(lamp_.commands(), from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' got '" << joined(lamp_.commands(), from) << "'\n"
                          << log_text(dir_, "err");
        return lamp_.commands().size();
    }
    int logins() const { return count_of(dir_.read("transcript"), "USER taro"); }
    // Passes that ended after this call: n more logins, then the one after them begun.
    bool passes(int n) {
        const int from = logins();
        return wait_until([&] { return logins() >= from + n + 1; }, kPatience);
    }
    std::string summary(const std::string& text) { return "summary=taro@" + pop3_.server_name() + "：" + text; }

    TempCorvo dir_;
    PrivateSessionBus bus_{dir_.dir()};
    LampSim lamp_{[this] {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }()};
    Pop3Program pop3_{dir_, "taro", "secret"};
};

// One notification for the account that is replaced while mail comes, closed when the mail is read elsewhere or
// monitoring stops, and not brought up again by a restart; the lamp's own start behaves as it always did.
TEST_F(Desktop, ANotificationIsReplacedClosedAndNotToldTwice) {
    RecordingNotificationServer server(dir_.dir(), "body body-markup actions");
    ASSERT_TRUE(server.wait_ready(kPatience)) << dir_.read("notification-server.out");
    auto notifier = start();
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(notified(server, 1)) << server.calls() << notifier->output();
    std::string first = last_notify(server);
    EXPECT_NE(first.find("replaces=0 " + summary("3 封新邮件 ") +
                         "body=Sender：Message 3\\nSender：Message 2\\nSender：Message 1 "),
              std::string::npos)
        << first;
    const unsigned id = last_id(server.calls(), "Notify ");
    ASSERT_NE(id, 0u);

    pop3_.set_message_count(5);
    ASSERT_TRUE(notified(server, 2)) << server.calls();
    EXPECT_NE(last_notify(server).find("replaces=" + std::to_string(id) + " " + summary("5 封新邮件 ") +
                                       "body=Sender：Message 5\\nSender：Message 4\\nSender：Message 3\\n…… "),
              std::string::npos)
        << last_notify(server);

    pop3_.set_message_count(0); // read and taken away in another mail program
    ASSERT_TRUE(wait_until([&] { return server.calls().find("CloseNotification") != std::string::npos; }, kPatience))
        << server.calls();
    EXPECT_EQ(last_id(server.calls(), "CloseNotification", "id="), id);
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");

    pop3_.set_message_count(1);
    ASSERT_TRUE(notified(server, 3));
    EXPECT_NE(last_notify(server).find("replaces=0 " + summary("1 封新邮件 ")), std::string::npos)
        << last_notify(server);
    const unsigned second = last_id(server.calls(), "Notify ");
    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    EXPECT_TRUE(wait_until([&] { return last_id(server.calls(), "CloseNotification", "id=") == second; }, kPatience))
        << server.calls();

    // A new notifier: the lamp beeps for what waits, as at every start; the notification does not come again.
    tool_write("Request", "99");
    EXPECT_EQ(notifier->wait_exit(), 1);
    tool_write("State", "0"); // the new notifier's "2" is then its own, after it has reset the mailbox
    notifier = start();
    seen = lamp_.commands().size();
    tool_write("Request", "1");
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP BEP ");

    ASSERT_TRUE(passes(2));
    EXPECT_EQ(count_of(server.notifies(), "Notify "), 3) << server.notifies();
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// 已读 in the notification acknowledges the account: the LED goes out at once and the notification goes; a click
// on its body opens the mail client.
TEST_F(Desktop, TheNotificationsActionsAcknowledgeAndOpenTheMailClient) {
    RecordingNotificationServer server(dir_.dir(), "body actions");
    ASSERT_TRUE(server.wait_ready(kPatience));
    auto notifier = start();
    tool_write("Request", "1");
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(notified(server, 1)) << server.calls();
    const unsigned id = last_id(server.calls(), "Notify ");

    ASSERT_TRUE(server.invoke_action(id, "default"));
    EXPECT_TRUE(wait_until([&] { return dir_.exists("mail-client.started"); }, kPatience));
    ASSERT_TRUE(server.invoke_action(id, "acknowledge"));
    expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_TRUE(wait_until([&] { return last_id(server.calls(), "CloseNotification", "id=") == id; }, kPatience))
        << server.calls();
    EXPECT_TRUE(dir_.exists("corvo_kd5lite.ack"));
    EXPECT_EQ(count_of(server.notifies(), "Notify "), 1);
}

// In quiet hours the buzzer keeps still, the LED is lit all the same, and the notification is low and silent.
TEST_F(Desktop, QuietHoursKeepTheBuzzerStillAndTheLedLit) {
    tool_write("QuietStart", clock_in(-30).c_str());
    tool_write("QuietEnd", clock_in(60).c_str());
    RecordingNotificationServer server(dir_.dir(), "body sound");
    ASSERT_TRUE(server.wait_ready(kPatience));
    auto notifier = start();
    tool_write("Request", "1");
    expect_lamp(0, "CLS ON0 OF1 OF2 ");
    ASSERT_TRUE(notified(server, 1)) << server.calls();
    EXPECT_NE(last_notify(server).find("suppress-sound=1,urgency=0}"), std::string::npos) << last_notify(server);
    pop3_.set_message_count(4);
    ASSERT_TRUE(notified(server, 2));
    ASSERT_TRUE(passes(1));
    const std::string commands = joined(lamp_.commands());
    EXPECT_EQ(commands.find("BEP"), std::string::npos) << commands;
    EXPECT_NE(commands.find("ON0"), std::string::npos) << commands;
}

// On X11 with no notification area at the start, a StatusNotifier panel that starts after some passes of monitoring
// gets the item; while monitoring runs with the same mail the icon does not change, and the menu a host reads
// without AboutToShow, the status and the tooltip are those of now. Prints the signals of the idle item as a figure.
TEST_F(Desktop, AStatusNotifierPanelThatComesLaterGetsAStillItem) {
    VirtualDisplay display(dir_);
    ASSERT_FALSE(display.name().empty()) << dir_.read("xvfb.out");
    auto notifier = start({{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}});
    // The notifier has been up and monitoring for a few passes, with no notification area, when the panel starts.
    tool_write("Request", "1");
    expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    ASSERT_TRUE(passes(2));
    StatusNotifierPanel panel(dir_.dir());
    ASSERT_TRUE(panel.wait_ready(kPatience)) << dir_.read("status-notifier-host.out");
    ASSERT_TRUE(wait_until([&] { return !panel.item().empty(); }, kPatience)) << notifier->output() << panel.log();
    const std::string item = panel.item();
    auto get = [&](const char* name) {
        return dbus_call(dir_.dir(), item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                         std::string("['org.kde.StatusNotifierItem', '") + name + "']");
    };
    ASSERT_TRUE(wait_until([&] { return get("Status") == "'NeedsAttention'"; }, kPatience)) << get("Status");
    const std::string layout = dbus_call(dir_.dir(), item, "/MenuBar", "com.canonical.dbusmenu.GetLayout",
                                         "[dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature='s')]");
    EXPECT_NE(layout.find("'label': '红 taro@" + pop3_.server_name() + "（3 封）'"), std::string::npos) << layout;
    EXPECT_NE(layout.find("{'enabled': False, 'label': '开始使用'}"), std::string::npos) << layout;
    EXPECT_NE(get("ToolTip").find("('', [], 'corvo KD5 lite', '红 taro@"), std::string::npos) << get("ToolTip");

    // Eight passes of monitoring (some ten seconds at the tests' time scale), the same mail: no new picture.
    const int icons = count_of(panel.log(), "NewIcon");
    const int from = logins();
    ASSERT_TRUE(passes(8));
    get("Status"); // the item's signals so far have reached the bus
    const int signals = count_of(panel.log(), "signal ");
    EXPECT_EQ(count_of(panel.log(), "NewIcon"), icons) << panel.log();
    std::cout << "[ FIGURE ] idle StatusNotifier item: " << count_of(panel.log(), "NewIcon") - icons << " NewIcon over "
              << logins() - from << " passes (KD5LITE_TIME_SCALE 0.02); " << signals
              << " signals of item and menu in all since it registered\n";

    // Quiet hours set on the 声音 tab while it runs: the icon and the tip say so.
    tool_write("QuietStart", clock_in(-30).c_str());
    tool_write("QuietEnd", clock_in(60).c_str());
    EXPECT_TRUE(wait_until([&] { return get("ToolTip").find("静音时段，到 ") != std::string::npos; }, kPatience))
        << get("ToolTip");
    EXPECT_TRUE(wait_until([&] { return count_of(panel.log(), "NewIcon") == icons + 1; }, kPatience)) << panel.log();

    // Monitoring stopped: the item steps back.
    tool_write("Request", "4");
    EXPECT_TRUE(wait_until([&] { return get("Status") == "'Passive'"; }, kPatience)) << get("Status");
}

// A session bus that takes connections and never answers holds neither the start nor the end: the notifier comes
// up, docks its icon in the X11 tray, says why it has no notifications, and ends at once on SIGTERM.
TEST_F(Desktop, AMuteSessionBusHoldsNeitherTheStartNorTheEnd) {
    VirtualDisplay display(dir_);
    ASSERT_FALSE(display.name().empty()) << dir_.read("xvfb.out");
    X11TrayHost tray(display.name());
    ASSERT_TRUE(tray.ok());
    MuteSessionBus mute(dir_.dir());
    ASSERT_TRUE(mute.ok());
    auto notifier = start({{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}});
    EXPECT_TRUE(tray.wait_for_dock_request(kPatience)) << notifier->output();
    EXPECT_NE(
        log_text(dir_, "err").find("session bus ---> The session bus does not answer: the notifier runs without it"),
        std::string::npos)
        << log_text(dir_, "err");
    tool_write("Request", "1");
    expect_lamp(0, "CLS ON0 OF1 OF2 BEP BEP ");
    const auto asked = std::chrono::steady_clock::now();
    notifier->signal(SIGTERM);
    EXPECT_EQ(notifier->wait_exit(), 1) << notifier->output();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
}

} // namespace
