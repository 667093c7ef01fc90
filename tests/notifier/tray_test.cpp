// SPDX-License-Identifier: GPL-3.0-or-later
// The tray on the offscreen platform: the icon drawn per state and size, and the menu's entries.

#include "notifier/notifier_dlg.h"
#include "notifier/tray_icons.h"

#include "lamp/quiet.h"
#include "notifier/acknowledge.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/notifier/gui_bus.h"
#include "tests/support/temp_corvo.h"

#include <QAction>
#include <QColor>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using enum LampLook;

// What a lamp's centre shows.
enum class Seen { lit, dark, grey, hollow, exclamation };

Seen seen(const QImage& image, int account, int size) {
    const QColor c = image.pixelColor(tray_lamp_centre(account, size));
    if (c.alpha() < 60) {
        return Seen::hollow;
    }
    if (c.hsvSaturation() < 40) {
        return c.value() > 190 ? Seen::exclamation : Seen::grey; // white, or the grey of 0x9a
    }
    return c.value() > 150 ? Seen::lit : Seen::dark;
}

QImage on_panel(const QImage& icon, QColor panel) {
    QImage shown(icon.size(), QImage::Format_ARGB32);
    shown.fill(panel);
    QPainter p(&shown);
    p.drawImage(0, 0, icon);
    return shown;
}

// The most a pixel of the lamp's box differs from the panel in brightness: how well the lamp shows on it.
int contrast(const QImage& icon, int account, int size, QColor panel) {
    const QImage shown = on_panel(icon, panel);
    const QRect box = tray_lamp_box(account, size).toRect().intersected(shown.rect());
    int most = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            most = std::max(most, std::abs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())));
        }
    }
    return most;
}

TrayIconState state(std::array<LampLook, 3> lamps, std::array<Health, 3> health = {}, bool quiet = false,
                    bool checking = false) {
    TrayIconState s;
    s.lamps = lamps;
    s.health = health;
    s.quiet = quiet;
    s.checking = checking;
    return s;
}

// Per size a panel uses, every look and mark: catches lamps drawn in the wrong place or colour, a dark lamp that
// looks lit or vanishes on a dark or a light panel, lamps too small to see at 16 px, health marks and the quiet and
// checking marks that do not show, or show when they should not.
TEST(TrayIcon, DrawsEachStateAtEachPanelSize) {
    using H = Health;
    const struct {
        TrayIconState state;
        std::array<Seen, 3> lamps;
    } rows[] = {
        {state({grey, grey, grey}), {Seen::grey, Seen::grey, Seen::grey}},
        {state({dark, dark, dark}), {Seen::dark, Seen::dark, Seen::dark}},
        {state({lit, dark, dark}), {Seen::lit, Seen::dark, Seen::dark}},
        {state({dark, lit, dark}), {Seen::dark, Seen::lit, Seen::dark}},
        {state({dark, dark, lit}), {Seen::dark, Seen::dark, Seen::lit}},
        {state({lit, lit, lit}), {Seen::lit, Seen::lit, Seen::lit}},
        {state({lit, dark, dark}, {H::late, H::none, H::none}), {Seen::hollow, Seen::dark, Seen::dark}},
        {state({dark, dark, dark}, {H::none, H::needs_you, H::late}), {Seen::dark, Seen::exclamation, Seen::hollow}},
        {state({lit, lit, dark}, {H::needs_you, H::watching, H::none}), {Seen::exclamation, Seen::lit, Seen::dark}},
        {state({dark, lit, dark}, {}, true), {Seen::dark, Seen::lit, Seen::dark}},
        {state({dark, dark, lit}, {}, false, true), {Seen::dark, Seen::dark, Seen::lit}},
        {state({lit, dark, dark}, {}, true, true), {Seen::lit, Seen::dark, Seen::dark}},
    };
    const QColor dark_panel(0x20, 0x20, 0x24);
    const QColor light_panel(0xf0, 0xf0, 0xf0);
    for (int size : {16, 22, 32}) {
        for (const auto& r : rows) {
            const QImage image = tray_image(r.state, size);
            ASSERT_EQ(image.size(), QSize(size, size));
            for (int account = 0; account < 3; ++account) {
                const auto k = static_cast<std::size_t>(account);
                SCOPED_TRACE("size " + std::to_string(size) + " account " + std::to_string(account));
                EXPECT_EQ(seen(image, account, size), r.lamps[k]);
                EXPECT_GE(tray_lamp_box(account, size).width(), 0.45 * size); // the lamps fill the icon
                EXPECT_GE(contrast(image, account, size, dark_panel), 80);
                EXPECT_GE(contrast(image, account, size, light_panel), 80);
            }
            EXPECT_EQ(image.pixelColor(tray_quiet_mark_centre(size)).alpha() > 128, r.state.quiet) << size;
            EXPECT_EQ(image.pixelColor(tray_checking_mark_centre(size)).alpha() > 128, r.state.checking) << size;
        }
    }
    // Each lamp keeps its own colour: red, green, yellow by account.
    const QImage all = tray_image(state({lit, lit, lit}), 22);
    const QColor red = all.pixelColor(tray_lamp_centre(0, 22));
    const QColor green = all.pixelColor(tray_lamp_centre(1, 22));
    const QColor yellow = all.pixelColor(tray_lamp_centre(2, 22));
    EXPECT_GT(red.red(), red.green());
    EXPECT_GT(green.green(), green.red());
    EXPECT_GT(yellow.green(), yellow.blue());
    EXPECT_GT(yellow.red(), yellow.blue());
}

// Health marks and the checking mark belong to a running monitor: a stopped one shows grey lamps without them.
TEST(TrayIcon, MarksOnlyWhileMonitoring) {
    TrayStatus s;
    s.accounts[0].health = Health::needs_you;
    s.accounts[1].health = Health::late;
    s.accounts[2].health = Health::watching;
    TrayIconState off = tray_icon_state(s, true, true);
    EXPECT_EQ(off.health, (std::array<Health, 3>{}));
    EXPECT_FALSE(off.checking);
    EXPECT_TRUE(off.quiet);
    s.monitoring = true;
    TrayIconState on = tray_icon_state(s, false, true);
    EXPECT_EQ(on.health, (std::array<Health, 3>{Health::needs_you, Health::late, Health::none}));
    EXPECT_TRUE(on.checking);
    EXPECT_FALSE(on.quiet);
}

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gui_bus().ok()); // no test reaches the desktop's own session bus
        Timing t;
        t.poll_ms = 3600000; // the command mailbox stays out of these tests
        set_timing(t);
    }
    void TearDown() override {
        set_timing(Timing{});
        quiet_snooze(0);
        tray_status_monitoring(false);
        ack_reset_for_test();
    }

    QAction* entry(QMenu& menu, const char* text) {
        for (QAction* action : menu.actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                return action;
            }
        }
        ADD_FAILURE() << "no entry " << text;
        static QAction none;
        return &none;
    }
    QAction* entry(CNotifierDlg& dlg, const char* text) { return entry(dlg.tray_menu(), text); }

    TempCorvo dir_;
};

TEST_F(TrayMenu, OffersItsEntriesInOrder) {
    CNotifierDlg dlg;
    QStringList texts;
    for (QAction* action : dlg.tray_menu().actions()) {
        if (!action->isSeparator() && action->isVisible()) {
            texts << action->text();
        }
    }
    EXPECT_EQ(texts.join(QLatin1Char('|')),
              QString::fromUtf8("立即检查|开始使用|停止使用|已读|静音 1 小时|静音到明天|设定…|选项…|诊断…|关于|关　　闭"));
}

// Start and stop go through the command mailbox as the tools' buttons do; a pass at once needs a running monitor.
TEST_F(TrayMenu, StartAndStopWriteTheToolsRequests) {
    CNotifierDlg dlg;
    EXPECT_FALSE(entry(dlg, "立即检查")->isEnabled());
    ASSERT_TRUE(entry(dlg, "开始使用")->isEnabled());
    entry(dlg, "开始使用")->trigger();
    ini_read_key(Key::Request);
    EXPECT_EQ(settings_get(Key::Request), "1");
    EXPECT_FALSE(entry(dlg, "开始使用")->isEnabled());
    ASSERT_TRUE(entry(dlg, "停止使用")->isEnabled());
    entry(dlg, "停止使用")->trigger();
    ini_read_key(Key::Request);
    EXPECT_EQ(settings_get(Key::Request), "4");
}

// 静音 1 小时 and 静音到明天 make it quiet until then, the tip says until when, and 取消静音 is offered while a snooze
// lasts.
TEST_F(TrayMenu, SnoozeEntriesMakeItQuietAndTheTipSaysUntilWhen) {
    CNotifierDlg dlg;
    EXPECT_FALSE(entry(dlg.tray_menu(), "取消静音")->isVisible());
    const std::time_t before = std::time(nullptr);
    entry(dlg, "静音 1 小时")->trigger();
    EXPECT_GE(quiet_snoozed_until(), before + 3600);
    EXPECT_LE(quiet_snoozed_until(), std::time(nullptr) + 3600);
    EXPECT_TRUE(dlg.tray_icon_shown().quiet);
    EXPECT_TRUE(dlg.tray_tip().contains(QString::fromUtf8("已静音，到 "))) << dlg.tray_tip().toStdString();
    EXPECT_TRUE(entry(dlg.tray_menu(), "取消静音")->isVisible());

    const std::time_t asked = std::time(nullptr);
    entry(dlg, "静音到明天")->trigger();
    EXPECT_GE(quiet_snoozed_until(), quiet_tomorrow(asked));
    EXPECT_LE(quiet_snoozed_until(), quiet_tomorrow(std::time(nullptr)));
    EXPECT_TRUE(dlg.tray_tip().contains(QString::fromUtf8("已静音，到"))) << dlg.tray_tip().toStdString();

    entry(dlg, "取消静音")->trigger();
    EXPECT_EQ(quiet_snoozed_until(), 0);
    EXPECT_FALSE(dlg.tray_icon_shown().quiet);
    EXPECT_FALSE(dlg.tray_tip().contains(QString::fromUtf8("静音")));
}

// 已读 names each account with its count, and offers only what can be acknowledged now: nothing while monitoring
// is stopped, whatever the last check left.
TEST_F(TrayMenu, AcknowledgeShowsCountsAndOnlyWhatWaits) {
    settings_put(Key::Switch, "1", 0);
    settings_put(Key::ID, "taro@example.org", 0);
    settings_put(Key::Switch, "1", 1);
    settings_put(Key::ID, "hana@example.org", 1);
    CheckIds ids;
    ids.known = true;
    ids.messages = {{"a", 1}, {"b", 1}};
    ack_filter(0, 2, ids);
    ack_filter(1, 0, CheckIds{});
    tray_status_checked(0, 2, true, 0);
    tray_status_checked(1, 0, false, 0);
    CNotifierDlg dlg;
    QMenu* ack = entry(dlg, "已读")->menu();
    ASSERT_NE(ack, nullptr);
    EXPECT_FALSE(ack->menuAction()->isEnabled()) << "monitoring is stopped";

    tray_status_monitoring(true);
    dlg.tray_menu();
    EXPECT_TRUE(ack->menuAction()->isEnabled());
    EXPECT_TRUE(entry(*ack, "红 taro@example.org（2 封）")->isEnabled());
    EXPECT_FALSE(entry(*ack, "绿 hana@example.org")->isEnabled());
    EXPECT_TRUE(entry(*ack, "全部")->isEnabled());
}

// The setup and option programs are found on PATH first (a build's own ones beside the test program must not win
// over the stand-ins); a stand-in records that it was started.
TEST_F(TrayMenu, SetupAndOptionEntriesStartTheTools) {
    std::filesystem::create_directory(dir_.path("bin"));
    for (const char* tool : {"kd5lite_ap", "kd5lite_op"}) {
        std::string path = dir_.path(std::string("bin/") + tool);
        std::ofstream(path) << "#!/bin/sh\ntouch \"" << dir_.path(std::string(tool) + ".started") << "\"\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    std::string old_path = std::getenv("PATH");
    setenv("PATH", (dir_.path("bin") + ":" + old_path).c_str(), 1);
    CNotifierDlg dlg;
    entry(dlg, "设定…")->trigger();
    entry(dlg, "选项…")->trigger();
    setenv("PATH", old_path.c_str(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(dir_.exists("kd5lite_ap.started"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(dir_.exists("kd5lite_op.started"), 20000);
}

} // namespace

namespace {

// The checking mark: a pass that has run a while shows it, its end takes it away, and a short pass shows nothing
// (two icon changes that tell a person nothing).
TEST_F(TrayMenu, TheCheckingMarkShowsOnlyForAPassThatRunsAWhile) {
    CNotifierDlg dlg;
    tray_status_monitoring(true);
    Timing t = timing();
    t.checking_mark_ms = 3600000;
    set_timing(t);
    tray_status_pass_begins();
    dlg.show_status();
    EXPECT_FALSE(dlg.tray_icon_shown().checking);
    t.checking_mark_ms = 0;
    set_timing(t);
    dlg.show_status();
    EXPECT_TRUE(dlg.tray_icon_shown().checking);
    tray_status_lamp(true, {false, false, false}); // the pass's lamp update ends it
    dlg.show_status();
    EXPECT_FALSE(dlg.tray_icon_shown().checking);
}

} // namespace
