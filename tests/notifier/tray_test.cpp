// SPDX-License-Identifier: GPL-3.0-or-later
// The tray on the offscreen platform: the icon drawn per lamp state and the menu's entries.

#include "notifier/notifier_dlg.h"
#include "notifier/tray_icons.h"

#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <QAction>
#include <QColor>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using enum LampLook;

// What a pixel at a lamp's centre shows: grey has no colour, a lit lamp is bright, a dark one is dim.
LampLook seen(const QImage& image, int account) {
    QColor c = image.pixelColor(tray_lamp_centre(account));
    if (c.hsvSaturation() < 40) {
        return grey;
    }
    return c.value() > 150 ? lit : dark;
}

// Catches lamps drawn in the wrong place or colour, a dark lamp that looks lit, and the chevrons' frame changing
// the lamps.
TEST(TrayIcon, DrawsEachLampAsItsLook) {
    const std::array<LampLook, 3> looks[] = {
        {grey, grey, grey}, {dark, dark, dark}, {lit, dark, dark}, {dark, lit, dark},
        {dark, dark, lit},  {lit, lit, lit},    {lit, dark, lit},
    };
    for (const auto& look : looks) {
        for (int frame : {0, 3, 6}) {
            QImage image = tray_image(look, frame);
            ASSERT_EQ(image.size(), QSize(32, 32));
            for (int account = 0; account < 3; ++account) {
                EXPECT_EQ(seen(image, account), look[static_cast<std::size_t>(account)])
                    << "account " << account << " frame " << frame;
            }
        }
    }
    // Each lamp keeps its own colour: red, green, yellow by account.
    QImage all = tray_image({lit, lit, lit}, 0);
    EXPECT_GT(all.pixelColor(tray_lamp_centre(0)).red(), all.pixelColor(tray_lamp_centre(0)).green());
    EXPECT_GT(all.pixelColor(tray_lamp_centre(1)).green(), all.pixelColor(tray_lamp_centre(1)).red());
    EXPECT_GT(all.pixelColor(tray_lamp_centre(2)).green(), all.pixelColor(tray_lamp_centre(2)).blue());
    EXPECT_GT(all.pixelColor(tray_lamp_centre(2)).red(), all.pixelColor(tray_lamp_centre(2)).blue());
}

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t;
        t.poll_ms = 3600000; // the command mailbox stays out of these tests
        set_timing(t);
    }
    void TearDown() override { set_timing(Timing{}); }

    QAction* entry(CNotifierDlg& dlg, const char* text) {
        for (QAction* action : dlg.tray_menu().actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                return action;
            }
        }
        ADD_FAILURE() << "no entry " << text;
        static QAction none;
        return &none;
    }

    TempCorvo dir_;
};

TEST_F(TrayMenu, OffersItsEntriesInOrder) {
    CNotifierDlg dlg;
    QStringList texts;
    for (QAction* action : dlg.tray_menu().actions()) {
        if (!action->isSeparator()) {
            texts << action->text();
        }
    }
    EXPECT_EQ(texts.join(QLatin1Char('|')),
              QString::fromUtf8("立即检查|开始使用|停止使用|已读|设定…|选项…|诊断…|关于|关　　闭"));
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
