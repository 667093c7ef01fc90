// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier's StatusNotifier item and its menu, in a panel of the tests' own on a private session bus; the
// host's calls come from a connection of their own, as from another program.

#include "notifier/notifier_dlg.h"

#include "notifier/acknowledge.h"
#include "notifier/tray_status.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/notifier/gui_bus.h"
#include "tests/support/desktop_services.h"
#include "tests/support/temp_corvo.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int kPatienceMs = 20000;

struct MenuItem {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuItem> children;
};

MenuItem menu_item(const QDBusArgument& a) {
    MenuItem item;
    a.beginStructure();
    a >> item.id >> item.properties;
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant child;
        a >> child;
        item.children.push_back(menu_item(child.variant().value<QDBusArgument>()));
    }
    a.endArray();
    a.endStructure();
    return item;
}

const MenuItem* labelled(const MenuItem& from, const QString& label) {
    if (from.properties.value(QStringLiteral("label")).toString() == label) {
        return &from;
    }
    for (const MenuItem& child : from.children) {
        if (const MenuItem* found = labelled(child, label)) {
            return found;
        }
    }
    return nullptr;
}

bool enabled(const MenuItem* item) {
    return item != nullptr && item->properties.value(QStringLiteral("enabled"), true).toBool();
}

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

class StatusNotifier : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gui_bus().ok());
        Timing t;
        t.poll_ms = 3600000; // the ticks are the test's: show_status() by hand
        set_timing(t);
        panel_ = std::make_unique<StatusNotifierPanel>(dir_.dir());
        ASSERT_TRUE(panel_->wait_ready(kPatienceMs)) << dir_.read("status-notifier-host.out");
        settings_put(Key::Switch, "1", 0);
        settings_put(Key::ID, "taro@example.org", 0);
        dlg_ = std::make_unique<CNotifierDlg>();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel_->item().empty(); }, kPatienceMs)) << panel_->log();
        item_ = QString::fromStdString(panel_->item());
    }
    void TearDown() override {
        dlg_.reset();
        tray_status_monitoring(false);
        ack_reset_for_test();
        set_timing(Timing{});
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args = {}, const QString& destination = {}) {
        static QDBusConnection client =
            QDBusConnection::connectToBus(QString::fromStdString(gui_bus().address()), QStringLiteral("host"));
        QDBusMessage m = QDBusMessage::createMethodCall(destination.isEmpty() ? item_ : destination, path, interface,
                                                        method);
        m.setArguments(args);
        QDBusPendingCallWatcher w(client.asyncCall(m));
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.isFinished(); }, kPatienceMs)) << method.toStdString();
        return w.reply();
    }
    QVariant item_property(const char* name) {
        QDBusMessage reply = call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QString::fromLatin1(name)});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << name << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    std::pair<uint, MenuItem> layout() {
        QDBusMessage reply = call(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                                  QStringLiteral("GetLayout"), {0, -1, QStringList()});
        EXPECT_EQ(reply.arguments().size(), 2) << reply.errorMessage().toStdString();
        return {reply.arguments().value(0).toUInt(), menu_item(reply.arguments().value(1).value<QDBusArgument>())};
    }
    bool about_to_show() {
        return call(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("AboutToShow"),
                    {0})
            .arguments()
            .value(0)
            .toBool();
    }
    // Signals of the item the panel has seen: a call to the item has come back after them (the item's connection
    // keeps its order), then a call to the panel (which the bus queues behind them).
    int signals_seen(const char* member) {
        item_property("Status");
        call(QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("ProtocolVersion")},
             QStringLiteral("org.kde.StatusNotifierWatcher"));
        return count_of(panel_->log(), std::string("signal org.kde.StatusNotifierItem.") + member);
    }
    void mail_waits_on_red() {
        CheckIds ids;
        ids.known = true;
        ids.messages = {{"a", 1}, {"b", 1}};
        ack_filter(0, 2, ids);
        tray_status_checked(0, 2, true, 0);
        tray_status_lamp(true, {true, false, false});
    }

    TempCorvo dir_;
    std::unique_ptr<StatusNotifierPanel> panel_;
    std::unique_ptr<CNotifierDlg> dlg_;
    QString item_;
};

// Catches an item that says Active whatever happens, a tooltip with everything in its title, a left click sent to
// a menu of ours at a position Wayland does not give, and pixmaps in the wrong byte order or size.
TEST_F(StatusNotifier, TheItemSaysWhatTheHostNeeds) {
    EXPECT_EQ(item_.toStdString(), "org.kde.StatusNotifierItem-" + std::to_string(QCoreApplication::applicationPid()) + "-1");
    EXPECT_NE(panel_->log().find("from=" + QDBusConnection::sessionBus().baseService().toStdString()),
              std::string::npos);
    EXPECT_EQ(item_property("ItemIsMenu").toBool(), true);
    EXPECT_EQ(item_property("Menu").value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
    EXPECT_EQ(item_property("Category").toString(), QStringLiteral("Communications"));
    EXPECT_EQ(item_property("Id").toString(), QStringLiteral("kd5lite"));
    EXPECT_EQ(item_property("Status").toString(), QStringLiteral("Passive")) << "monitoring is stopped";

    const QDBusArgument pixmaps = item_property("IconPixmap").value<QDBusArgument>();
    std::vector<int> sizes;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int w = 0, h = 0;
        QByteArray argb;
        pixmaps.beginStructure();
        pixmaps >> w >> h >> argb;
        pixmaps.endStructure();
        EXPECT_EQ(argb.size(), w * h * 4);
        EXPECT_EQ(static_cast<unsigned char>(argb[0]), 0) << "the corner is transparent: alpha comes first";
        sizes.push_back(w);
    }
    pixmaps.endArray();
    EXPECT_EQ(sizes, (std::vector<int>{16, 22, 32, 48}));

    const QDBusArgument tip = item_property("ToolTip").value<QDBusArgument>();
    QString icon, title, text;
    tip.beginStructure();
    tip >> icon;
    tip.beginArray();
    while (!tip.atEnd()) {
        int w = 0, h = 0;
        QByteArray argb;
        tip.beginStructure();
        tip >> w >> h >> argb;
        tip.endStructure();
    }
    tip.endArray();
    tip >> title >> text;
    tip.endStructure();
    EXPECT_EQ(title, QStringLiteral("corvo KD5 lite"));
    EXPECT_TRUE(text.contains(QString::fromUtf8("红 taro@example.org：尚未检查"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("邮件检查已停止"))) << text.toStdString();

    // A left click: the host shows the exported menu, nothing of ours pops up.
    EXPECT_EQ(call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
                   QStringLiteral("Activate"), {10, 10})
                  .type(),
              QDBusMessage::ReplyMessage);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_FALSE(dlg_->tray_menu().isVisible());
}

// One NewStatus and one NewIcon per change of what the item shows, none for a tick that changes nothing.
TEST_F(StatusNotifier, OneSignalPerChange) {
    const int icons = signals_seen("NewIcon");
    tray_status_monitoring(true);
    dlg_->show_status();
    dlg_->show_status();
    EXPECT_EQ(item_property("Status").toString(), QStringLiteral("Active"));
    mail_waits_on_red();
    for (int i = 0; i < 20; ++i) {
        dlg_->show_status();
    }
    EXPECT_EQ(item_property("Status").toString(), QStringLiteral("NeedsAttention"));
    EXPECT_EQ(signals_seen("NewStatus"), 2) << panel_->log();
    EXPECT_EQ(signals_seen("NewIcon") - icons, 2) << panel_->log(); // grey to dark, then red lit
    tray_status_monitoring(false);
    dlg_->show_status();
    EXPECT_EQ(item_property("Status").toString(), QStringLiteral("Passive"));
    EXPECT_EQ(signals_seen("NewIcon") - icons, 3) << panel_->log();
    EXPECT_EQ(signals_seen("NewStatus"), 3) << panel_->log();
}

// The layout a host reads without AboutToShow is the one of now, with a new revision after each change;
// AboutToShow says whether a host's copy is behind; a click in the host's menu acts as in ours.
TEST_F(StatusNotifier, TheExportedMenuFollowsTheState) {
    auto [first, stopped] = layout();
    EXPECT_TRUE(enabled(labelled(stopped, QString::fromUtf8("开始使用"))));
    EXPECT_FALSE(enabled(labelled(stopped, QString::fromUtf8("停止使用"))));
    EXPECT_FALSE(enabled(labelled(stopped, QString::fromUtf8("已读")))) << "nothing to acknowledge while stopped";
    EXPECT_FALSE(about_to_show()) << "nothing changed since GetLayout";

    tray_status_monitoring(true);
    mail_waits_on_red();
    dlg_->show_status();
    item_property("Status");
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel_->log().find("LayoutUpdated") != std::string::npos; },
                                kPatienceMs))
        << panel_->log();
    auto [second, waiting] = layout();
    EXPECT_GT(second, first);
    EXPECT_TRUE(enabled(labelled(waiting, QString::fromUtf8("已读"))));
    EXPECT_TRUE(enabled(labelled(waiting, QString::fromUtf8("红 taro@example.org（2 封）"))));
    EXPECT_TRUE(enabled(labelled(waiting, QString::fromUtf8("停止使用"))));

    tray_status_monitoring(false); // no tick since: the host asks before it shows the menu
    EXPECT_TRUE(about_to_show());
    auto [third, again] = layout();
    EXPECT_GT(third, second);
    EXPECT_FALSE(enabled(labelled(again, QString::fromUtf8("已读"))));
    EXPECT_FALSE(about_to_show());

    const MenuItem* start = labelled(again, QString::fromUtf8("开始使用"));
    ASSERT_NE(start, nullptr);
    call(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
         {start->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            ini_read_key(Key::Request);
            return settings_get(Key::Request) == "1";
        },
        kPatienceMs));
}

// A panel that restarts (its watcher and host come again) gets the item again.
TEST_F(StatusNotifier, APanelThatRestartsGetsTheItemAgain) {
    panel_.reset();
    std::filesystem::remove(dir_.path("status-notifier-host.log"));
    panel_ = std::make_unique<StatusNotifierPanel>(dir_.dir());
    ASSERT_TRUE(panel_->wait_ready(kPatienceMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel_->item() == item_.toStdString(); }, kPatienceMs)) << panel_->log();
}

} // namespace
