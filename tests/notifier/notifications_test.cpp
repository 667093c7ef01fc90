// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications on a private session bus, against a notification server of the tests' own that records
// every call and clicks as a user does.

#include "notifier/desktop_notifications.h"

#include "lamp/quiet.h"
#include "settings/settings_access.h"
#include "tests/notifier/gui_bus.h"
#include "tests/support/desktop_services.h"
#include "tests/support/temp_corvo.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kPatienceMs = 20000;
using Subject = DesktopNotifications::Subject;

Announcement two_new() {
    Announcement a;
    a.account = 1;
    a.label = "taro@example.org";
    a.count = 2;
    a.fresh = 2;
    a.newest = {{"张三", "新邮件"}, {"Bob & Co", "a <b>"}};
    return a;
}

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gui_bus().ok()) << dir_.read("session-bus.out");
        settings_put(Key::ErrorLog, "1");
        // The mail client stand-in: xdg-email first on PATH, recording that it was started.
        std::filesystem::create_directory(dir_.path("bin"));
        std::string client = dir_.path("bin/xdg-email");
        std::ofstream(client) << "#!/bin/sh\ntouch \"" << dir_.path("mail-client.started") << "\"\n";
        std::filesystem::permissions(client, std::filesystem::perms::owner_all);
        old_path_ = std::getenv("PATH");
        setenv("PATH", (dir_.path("bin") + ":" + old_path_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", old_path_.c_str(), 1);
        quiet_set_inhibited(false);
    }

    // A server that answers with these capabilities, and notifications that have seen it.
    RecordingNotificationServer& server(const std::string& caps, const std::string& inhibited = "") {
        server_.reset();
        std::filesystem::remove(dir_.path("notification-calls.log"));
        server_ = std::make_unique<RecordingNotificationServer>(dir_.dir(), caps, inhibited);
        EXPECT_TRUE(server_->wait_ready(kPatienceMs)) << dir_.read("notification-server.out");
        notifications_.start();
        return *server_;
    }
    bool wait_notifies(int n) {
        return QTest::qWaitFor([&] { return count_of(server_->notifies(), "Notify ") >= n; }, kPatienceMs);
    }
    std::string last_notify() const {
        const std::string all = server_->notifies();
        const std::size_t end = all.size() > 0 ? all.size() - 1 : 0;
        const std::size_t start = all.rfind('\n', end > 0 ? end - 1 : 0);
        return all.substr(start == std::string::npos ? 0 : start + 1);
    }
    uint wait_id(Subject subject, int account) {
        (void)QTest::qWaitFor([&] { return notifications_.notification_id(subject, account) != 0; }, kPatienceMs);
        return notifications_.notification_id(subject, account);
    }
    // A round trip through the server after everything sent so far: what it had to answer, it has answered.
    void round_trip() {
        ASSERT_NE(dbus_call(dir_.dir(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                            "org.freedesktop.Notifications.GetServerInformation"),
                  "");
        QCoreApplication::processEvents();
        QTest::qWait(0);
    }
    std::string error_log() const {
        std::string errors;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.dir())) {
            if (entry.path().filename().string().starts_with("err")) {
                errors += dir_.read(entry.path().filename());
            }
        }
        return errors;
    }

    TempCorvo dir_;
    std::string old_path_;
    std::unique_ptr<RecordingNotificationServer> server_;
    DesktopNotifications notifications_;
};

// Catches a notification beside the last instead of in its place, a close that never goes out, the server's
// capabilities asked at every notification, and a second notice sent before the first one's id is known.
TEST_F(Notifications, OnePerAccountReplacedInPlaceAndClosed) {
    RecordingNotificationServer& s = server("body body-markup actions");
    notifications_.show_mail(two_new());
    ASSERT_TRUE(wait_notifies(1)) << s.calls();
    const std::string first = last_notify();
    EXPECT_NE(first.find("replaces=0 summary=taro@example.org：2 封新邮件 body=张三：新邮件\\nBob &amp; Co：a &lt;b&gt; "),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("actions=[default,打开邮件,open,打开邮件,acknowledge,已读]"), std::string::npos) << first;
    for (const char* hint : {"category=email.arrived", "desktop-entry=kd5lite", "urgency=1", "suppress-sound=1",
                             "image-data=48x48+192+8x4+9216"}) {
        EXPECT_NE(first.find(hint), std::string::npos) << hint << " in " << first;
    }
    const uint id = wait_id(Subject::mail, 1);
    ASSERT_NE(id, 0u);

    Announcement three = two_new();
    three.fresh = 3;
    three.count = 3;
    notifications_.show_mail(three);
    ASSERT_TRUE(wait_notifies(2));
    EXPECT_NE(last_notify().find("replaces=" + std::to_string(id) + " summary=taro@example.org：3 封新邮件"),
              std::string::npos)
        << last_notify();

    notifications_.close_mail(1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s.calls().find("CloseNotification from=") != std::string::npos; }, kPatienceMs));
    EXPECT_NE(s.calls().find("id=" + std::to_string(id)), std::string::npos);
    EXPECT_EQ(notifications_.notification_id(Subject::mail, 1), 0u);

    // Two at once on an empty slot: the second waits for the first one's id and replaces it.
    notifications_.show_mail(two_new());
    notifications_.show_mail(three);
    ASSERT_TRUE(wait_notifies(4));
    const std::string notifies = s.notifies();
    const std::string newer = last_notify();
    EXPECT_EQ(newer.find("replaces=0"), std::string::npos) << notifies;
    EXPECT_EQ(count_of(s.calls(), "GetCapabilities"), 1) << s.calls();
}

// A server without body-markup shows the text as it is: escaping it there would show "R&amp;D". Without actions it
// gets no buttons.
TEST_F(Notifications, APlainServerGetsPlainTextAndNoButtons) {
    RecordingNotificationServer& s = server("body");
    Announcement a = two_new();
    a.newest = {{"R&D Team", "Q&A <urgent>"}};
    a.fresh = 1;
    notifications_.show_mail(a);
    ASSERT_TRUE(wait_notifies(1)) << s.calls();
    EXPECT_NE(last_notify().find("body=R&D Team：Q&A <urgent> actions=[] "), std::string::npos) << last_notify();
}

// A click on the body (default) or on 打开邮件 starts the mail client, 已读 asks for the acknowledge; the same
// signal from any other client of the bus, or for another id, does nothing.
TEST_F(Notifications, ActionsAreTakenFromTheServerThatShowedTheNotification) {
    RecordingNotificationServer& s = server("body body-markup actions");
    QSignalSpy acknowledged(&notifications_, &DesktopNotifications::acknowledge_requested);
    notifications_.show_mail(two_new());
    const uint id = wait_id(Subject::mail, 1);
    ASSERT_NE(id, 0u) << s.calls();

    ASSERT_TRUE(dbus_foreign_signal(dir_.dir(), "/org/freedesktop/Notifications",
                                    "org.freedesktop.Notifications.ActionInvoked",
                                    {"uint32:" + std::to_string(id), "string:default"}));
    ASSERT_TRUE(s.invoke_action(id + 1, "default")); // not ours
    ASSERT_TRUE(s.invoke_action(id, "acknowledge"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return acknowledged.count() == 1; }, kPatienceMs));
    EXPECT_EQ(acknowledged.at(0).at(0).toInt(), 1);
    round_trip();
    EXPECT_FALSE(dir_.exists("mail-client.started")) << "a foreign ActionInvoked started the mail client";

    for (const char* key : {"default", "open"}) {
        std::filesystem::remove(dir_.path("mail-client.started"));
        ASSERT_TRUE(s.invoke_action(id, key));
        EXPECT_TRUE(QTest::qWaitFor([&] { return dir_.exists("mail-client.started"); }, kPatienceMs)) << key;
    }
}

// Without a mail client the notification says so once, in place of the mail notification, rather than a click that
// does nothing; the error log has each failure.
TEST_F(Notifications, AMissingMailClientIsSaidOnce) {
    RecordingNotificationServer& s = server("body body-markup actions");
    std::filesystem::create_directory(dir_.path("empty"));
    setenv("PATH", dir_.path("empty").c_str(), 1);
    notifications_.show_mail(two_new());
    const uint id = wait_id(Subject::mail, 1);
    ASSERT_NE(id, 0u) << s.calls();
    ASSERT_TRUE(s.invoke_action(id, "default"));
    ASSERT_TRUE(wait_notifies(2)) << s.calls();
    EXPECT_NE(last_notify().find("replaces=" + std::to_string(id) + " summary=无法打开邮件程序 body=没有找到 xdg-email"),
              std::string::npos)
        << last_notify();
    ASSERT_TRUE(s.invoke_action(id, "open"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return count_of(error_log(), "The mail client cannot be started") == 2; },
                                kPatienceMs))
        << error_log();
    round_trip();
    EXPECT_EQ(count_of(s.notifies(), "Notify "), 2) << s.notifies();
}

// Quiet: low and silent. The theme's sound goes with the notification only to a server that plays sounds; any other
// notification keeps quiet, since the lamp sounds itself.
TEST_F(Notifications, QuietIsLowAndSilentAndTheSoundGoesOneWay) {
    const struct {
        const char* caps;
        bool quiet;
        bool by_notification;
        const char* want;
        const char* never;
    } rows[] = {
        {"body sound", true, false, "suppress-sound=1,urgency=0", "sound-name"},
        {"body sound", false, true, "sound-name=message-new-email,urgency=1", "suppress-sound"},
        {"body", false, true, "suppress-sound=1,urgency=1", "sound-name"},
        {"body sound", false, false, "suppress-sound=1,urgency=1", "sound-name"},
    };
    for (const auto& r : rows) {
        RecordingNotificationServer& s = server(r.caps);
        DesktopNotifications notifications; // a notifier that starts with this server
        notifications.start();
        Announcement a = two_new();
        a.quiet = r.quiet;
        a.sound_by_notification = r.by_notification;
        notifications.show_mail(a);
        ASSERT_TRUE(wait_notifies(1)) << s.calls();
        EXPECT_NE(last_notify().find(r.want), std::string::npos) << r.caps << ": " << last_notify();
        EXPECT_EQ(last_notify().find(r.never), std::string::npos) << r.caps << ": " << last_notify();
    }
}

// Do not disturb, where the server has an Inhibited property: the lamp's sounds follow it, now and when it changes.
TEST_F(Notifications, TheServersInhibitedPropertyMakesItQuiet) {
    RecordingNotificationServer& s = server("body", "inhibited=1");
    notifications_.show_mail(two_new());
    ASSERT_TRUE(QTest::qWaitFor([] { return quiet_at(std::time(nullptr)).cause == QuietCause::desktop; },
                                kPatienceMs))
        << s.calls();
    ASSERT_TRUE(s.set_inhibited(false));
    EXPECT_TRUE(QTest::qWaitFor([] { return !quiet_at(std::time(nullptr)).quiet; }, kPatienceMs));
    ASSERT_TRUE(s.set_inhibited(true));
    EXPECT_TRUE(QTest::qWaitFor([] { return quiet_at(std::time(nullptr)).quiet; }, kPatienceMs));
    server_.reset(); // the server went: so did its do not disturb
    EXPECT_TRUE(QTest::qWaitFor([] { return !quiet_at(std::time(nullptr)).quiet; }, kPatienceMs));
}

// A notification the user dismissed is gone: the next one is a new one, not a replacement of nothing.
TEST_F(Notifications, ADismissedNotificationIsNotReplaced) {
    RecordingNotificationServer& s = server("body actions");
    notifications_.show_mail(two_new());
    const uint id = wait_id(Subject::mail, 1);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(s.dismiss(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications_.notification_id(Subject::mail, 1) == 0; }, kPatienceMs));
    notifications_.show_mail(two_new());
    ASSERT_TRUE(wait_notifies(2));
    EXPECT_NE(last_notify().find("replaces=0 "), std::string::npos) << last_notify();
}

// A desktop without a notification service: nothing waits, nothing is logged.
// An account's health notification is one per account: a change replaces it in place (the server's id as
// replaces_id), watching again closes it, and a close asked for before the server answered the show still closes
// it; the mail's notification of the same account is another one. Catches a notification repeated beside the old
// one, one left open, accounts sharing one notification, and a body escaped for a server that shows it as it is.
TEST_F(Notifications, HealthNotificationIsReplacedInPlaceAndClosed) {
    RecordingNotificationServer& s = server("body body-markup");
    auto count = [&](const std::string& what) { return count_of(s.calls(), what); };
    notifications_.show_health(0, QStringLiteral("红 taro：需要处理"), QStringLiteral("服务器拒绝了密码"));
    const uint id = wait_id(Subject::health, 0);
    ASSERT_NE(id, 0u) << s.calls();
    notifications_.show_health(0, QStringLiteral("红 taro：未能检查"), QStringLiteral("无法连接 a<b>&c"));
    notifications_.show_health(1, QStringLiteral("绿 hana：需要处理"), QStringLiteral("密钥环已锁定"));
    notifications_.show_mail(two_new());
    ASSERT_TRUE(wait_notifies(4)) << s.calls();
    EXPECT_EQ(count("replaces=" + std::to_string(id) + " summary=红 taro：未能检查 body=无法连接 a&lt;b&gt;&amp;c "), 1)
        << s.calls();
    EXPECT_EQ(count("replaces=0 "), 3) << s.calls(); // account 0's first, account 1's own, the mail's own
    notifications_.close_health(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count("CloseNotification from=") == 1; }, kPatienceMs));
    EXPECT_NE(s.calls().find(" id=" + std::to_string(id)), std::string::npos) << s.calls();
    notifications_.close_health(0); // already closed: nothing more

    // Shown and closed at once, before the server's answer: the close waits for the id.
    notifications_.show_health(2, QStringLiteral("黄 jiro：需要处理"), QStringLiteral("没有登录令牌"));
    notifications_.close_health(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count("CloseNotification from=") == 2; }, kPatienceMs)) << s.calls();
    round_trip();
    EXPECT_EQ(count("Notify "), 5);
    EXPECT_EQ(count("CloseNotification from="), 2) << s.calls();
    EXPECT_NE(notifications_.notification_id(Subject::mail, 1), 0u); // the mail's stays

    // Another server, without body-markup, gets the words as they are.
    RecordingNotificationServer& plain = server("body");
    notifications_.show_health(1, QStringLiteral("绿 hana：未能检查"), QStringLiteral("无法连接 a<b>&c"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return plain.notifies().find("body=无法连接 a<b>&c actions=[]") != std::string::npos; }, kPatienceMs))
        << plain.calls();
}

TEST_F(Notifications, NoServiceIsNoErrorAndNoHang) {
    notifications_.start();
    for (int i = 0; i < 5; ++i) {
        notifications_.show_mail(two_new()); // returns at once: the call is asynchronous
    }
    ASSERT_NE(dbus_call(dir_.dir(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"),
              "");
    QTest::qWait(0);
    EXPECT_EQ(error_log(), "");
    EXPECT_EQ(notifications_.notification_id(Subject::mail, 1), 0u);
}

} // namespace
