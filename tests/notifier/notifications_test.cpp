// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications on a private session bus, with python3-dbusmock's notification daemon as the desktop.

#include "notifier/desktop_notifications.h"

#include "settings/settings_access.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_corvo.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kPatienceMs = 20000;

int count_in(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        settings_put(Key::ErrorLog, "1");
        // The mail client stand-in: xdg-email first on PATH, recording that it was started.
        std::filesystem::create_directory(dir_.path("bin"));
        std::string client = dir_.path("bin/xdg-email");
        std::ofstream(client) << "#!/bin/sh\ntouch \"" << dir_.path("mail-client.started") << "\"\n";
        std::filesystem::permissions(client, std::filesystem::perms::owner_all);
        old_path_ = std::getenv("PATH");
        setenv("PATH", (dir_.path("bin") + ":" + old_path_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", old_path_.c_str(), 1); }

    TempCorvo dir_;
    std::string old_path_;
};

const Announcement kTwoNew{1, "taro@example.org", 2, {{"张三", "新邮件"}, {"Bob & Co", "a <b>"}}};

TEST_F(Notifications, NewMailBringsOneNotificationWhoseActionStartsTheMailClient) {
    PrivateSessionBus bus(dir_.dir());
    ASSERT_TRUE(bus.ok()) << dir_.read("session-bus.out");
    NotificationServerMock server(dir_.dir());
    ASSERT_TRUE(server.wait_ready(kPatienceMs)) << dir_.read("notification-server.out");

    DesktopNotifications notifications;
    notifications.show(kTwoNew);
    QTRY_VERIFY_WITH_TIMEOUT(server.calls().find("Notify") != std::string::npos, kPatienceMs);
    std::string calls = server.calls();
    EXPECT_NE(calls.find("taro@example.org：2 封新邮件"), std::string::npos) << calls.substr(0, 500);
    EXPECT_NE(calls.find("张三：新邮件\nBob &amp; Co：a &lt;b&gt;"), std::string::npos) << calls.substr(0, 500);
    EXPECT_NE(calls.find("打开邮件"), std::string::npos);
    EXPECT_NE(calls.find("image-data"), std::string::npos);

    // The server gave the first notification the id 1; the reply must have come before a click can count.
    QTest::qWait(0);
    ASSERT_TRUE(server.invoke_action(1, "open"));
    QTRY_VERIFY_WITH_TIMEOUT(dir_.exists("mail-client.started"), kPatienceMs);

    // Actions of notifications that are not ours start nothing.
    std::filesystem::remove(dir_.path("mail-client.started"));
    ASSERT_TRUE(server.invoke_action(77, "open"));
    notifications.show(kTwoNew); // a round trip through the bus after the signal
    QTRY_VERIFY_WITH_TIMEOUT(server.calls().find("Notify", calls.size()) != std::string::npos, kPatienceMs);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dir_.exists("mail-client.started"));
}

// An account's health notification is one per account: a change replaces it in place (the server's id as
// replaces_id), watching again closes it, and a close asked for before the server answered the show still closes
// it. Catches a notification repeated beside the old one, one left open, and accounts sharing one notification.
TEST_F(Notifications, HealthNotificationIsReplacedInPlaceAndClosed) {
    PrivateSessionBus bus(dir_.dir());
    ASSERT_TRUE(bus.ok()) << dir_.read("session-bus.out");
    NotificationServerMock server(dir_.dir());
    ASSERT_TRUE(server.wait_ready(kPatienceMs)) << dir_.read("notification-server.out");
    auto count = [&](const std::string& what) { return count_in(server.calls(), what); };

    DesktopNotifications notifications;
    notifications.show_health(0, QStringLiteral("红 taro：需要处理"), QStringLiteral("服务器拒绝了密码"));
    QTRY_COMPARE_WITH_TIMEOUT(count(" Notify "), 1, kPatienceMs);
    notifications.show_health(0, QStringLiteral("红 taro：未能检查"), QStringLiteral("无法连接"));
    notifications.show_health(1, QStringLiteral("绿 hana：需要处理"), QStringLiteral("密钥环已锁定"));
    QTRY_COMPARE_WITH_TIMEOUT(count(" Notify "), 3, kPatienceMs);
    EXPECT_EQ(count("Notify \"kd5lite\" 1 "), 1) << server.calls(); // account 0's replaced in place
    EXPECT_EQ(count("Notify \"kd5lite\" 0 "), 2) << server.calls(); // account 0's first, account 1's own
    notifications.close_health(0);
    QTRY_COMPARE_WITH_TIMEOUT(count("CloseNotification 1"), 1, kPatienceMs);
    notifications.close_health(0); // already closed: nothing more

    // Shown and closed at once, before the server's answer: the close waits for the id.
    notifications.show_health(2, QStringLiteral("黄 jiro：需要处理"), QStringLiteral("没有登录令牌"));
    notifications.close_health(2);
    QTRY_COMPARE_WITH_TIMEOUT(count("CloseNotification 3"), 1, kPatienceMs);
    EXPECT_EQ(count(" Notify "), 4);
    EXPECT_EQ(count("CloseNotification"), 2) << server.calls();
}

// A desktop without a notification service, or without any session bus: nothing waits, nothing is logged.
TEST_F(Notifications, NoServiceIsNoErrorAndNoHang) {
    PrivateSessionBus bus(dir_.dir());
    ASSERT_TRUE(bus.ok());
    DesktopNotifications notifications;
    for (int i = 0; i < 5; ++i) {
        notifications.show(kTwoNew); // returns at once: the call is asynchronous
    }
    // A round trip through the bus that surely ends after the error replies to the five calls.
    QTRY_VERIFY_WITH_TIMEOUT(std::system("dbus-send --session --print-reply --dest=org.freedesktop.DBus "
                                         "/org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null") == 0,
                             kPatienceMs);
    QCoreApplication::processEvents();
    for (const auto& entry : std::filesystem::directory_iterator(dir_.dir())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("err")) << dir_.read(entry.path().filename());
    }
}

} // namespace
