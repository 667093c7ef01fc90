// SPDX-License-Identifier: GPL-3.0-or-later
// The tray's words beside its tip: the quiet line, the StatusNotifier status, the tooltip's title and text.

#include "notifier/tray_text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class TrayText : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
};

// Catches an end time without "明天" when it falls on the next day, a snooze of days called tomorrow, and a line
// while not quiet.
TEST_F(TrayText, TheQuietLineSaysUntilWhen) {
    const std::time_t noon = 1767268800; // 2026-01-01 12:00 UTC
    const struct {
        QuietNow quiet;
        const char* line;
    } rows[] = {
        {{}, ""},
        {{true, QuietCause::snooze, noon + 3600 + 5 * 60}, "已静音，到 13:05"},
        {{true, QuietCause::snooze, noon + 20 * 3600}, "已静音，到明天 08:00"},
        {{true, QuietCause::hours, noon + 11 * 3600 + 59 * 60}, "静音时段，到 23:59"},
        {{true, QuietCause::hours, noon + 19 * 3600}, "静音时段，到明天 07:00"},
        {{true, QuietCause::snooze, noon + 7 * 86400 - 3600}, "已静音，到 1月8日 11:00"},
        {{true, QuietCause::snooze, noon + 36 * 3600}, "已静音，到 1月3日 00:00"},
        {{true, QuietCause::desktop, 0}, "桌面勿扰：不响铃"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(quiet_tip_line(r.quiet, noon), r.line);
    }
}

TEST_F(TrayText, StatusFollowsMonitoringAndWaitingMail) {
    TrayStatus s;
    EXPECT_STREQ(tray_item_status(s), "Passive");
    s.accounts[2].lit = true;
    EXPECT_STREQ(tray_item_status(s), "Passive"); // stopped with mail: the lamp says nothing now
    s.monitoring = true;
    EXPECT_STREQ(tray_item_status(s), "NeedsAttention");
    s.accounts[2].lit = false;
    EXPECT_STREQ(tray_item_status(s), "Active");
}

TEST_F(TrayText, TheTooltipHasAShortTitle) {
    TipParts p = tip_parts("corvo KD5 lite\n红 taro：3 封邮件\n已静音，到 13:05");
    EXPECT_EQ(p.title, "corvo KD5 lite");
    EXPECT_EQ(p.text, "红 taro：3 封邮件\n已静音，到 13:05");
    p = tip_parts("corvo KD5 lite");
    EXPECT_EQ(p.title, "corvo KD5 lite");
    EXPECT_EQ(p.text, "");
}

} // namespace
