// SPDX-License-Identifier: GPL-3.0-or-later
// What the tray shows of the monitor: the look of each lamp and the tip, from the status record.

#include "notifier/tray_status.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using enum LampLook;

TrayStatus monitoring_with(bool red, bool green, bool yellow) {
    TrayStatus s;
    s.monitoring = true;
    s.accounts[0].lit = red;
    s.accounts[1].lit = green;
    s.accounts[2].lit = yellow;
    return s;
}

// Catches an icon that shows lamps lit while nothing watches the mail (or the lamp is gone), and lamps swapped
// between accounts.
TEST(TrayLook, EachLampAsTheMonitorLeftIt) {
    TrayStatus off = monitoring_with(true, true, true);
    off.monitoring = false;
    TrayStatus missing = monitoring_with(true, false, true);
    missing.lamp_missing = true;
    const struct {
        const char* what;
        TrayStatus status;
        std::array<LampLook, 3> look;
    } cases[] = {
        {"never started", TrayStatus{}, {grey, grey, grey}},
        {"stopped with mail", off, {grey, grey, grey}},
        {"lamp missing", missing, {grey, grey, grey}},
        {"no mail", monitoring_with(false, false, false), {dark, dark, dark}},
        {"red only", monitoring_with(true, false, false), {lit, dark, dark}},
        {"green and yellow", monitoring_with(false, true, true), {dark, lit, lit}},
        {"all", monitoring_with(true, true, true), {lit, lit, lit}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tray_look(c.status), c.look) << c.what;
    }
}

class TrayTip : public ::testing::Test {
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

TEST_F(TrayTip, ListsWatchedAccountsWithCountAndTime) {
    TrayStatus s = monitoring_with(true, false, false);
    // Field by field: the record grows (health, cause), and a braced list would leave the new fields to a warning.
    const auto checked = [](bool failed, int count, bool lit, std::time_t when) {
        AccountStatus a;
        a.checked = true;
        a.failed = failed;
        a.count = count;
        a.lit = lit;
        a.when = when;
        return a;
    };
    s.accounts[0] = checked(false, 3, true, 3600 * 14 + 60 * 5 + 9);
    s.accounts[2] = checked(true, 1, false, 3600 * 9);
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", "hana@example.org"}),
              "corvo KD5 lite\n"
              "红 taro@example.org：3 封邮件（14:05:09 检查）\n"
              "黄 hana@example.org：检查失败（09:00:00 检查）");
    // An account of several folders: a line of them below its own.
    s.accounts[0].folders = "INBOX 1，Work 2";
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", ""}),
              "corvo KD5 lite\n红 taro@example.org：3 封邮件（14:05:09 检查）\n　INBOX 1，Work 2");
    s.accounts[0].checked = false;
    s.accounts[0].folders.clear();
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", ""}), "corvo KD5 lite\n红 taro@example.org：尚未检查");
}

// A first start (no account, nothing monitored) says what is missing and where it is entered.
TEST_F(TrayTip, SaysWhyTheLampSaysNothing) {
    TrayStatus missing;
    missing.monitoring = true;
    missing.lamp_missing = true;
    const struct {
        TrayStatus status;
        std::array<std::string, 3> labels;
        const char* tip;
    } rows[] = {
        {TrayStatus{}, {"", "", ""}, "corvo KD5 lite\n尚未设置邮件账户（设定程序的「账户」页）\n邮件检查已停止"},
        {missing, {"", "", ""}, "corvo KD5 lite\n尚未设置邮件账户（设定程序的「账户」页）\n找不到 KD-5lite"},
        {TrayStatus{}, {"", "taro", ""}, "corvo KD5 lite\n绿 taro：尚未检查\n邮件检查已停止"},
        {missing, {"", "", "hana"}, "corvo KD5 lite\n黄 hana：尚未检查\n找不到 KD-5lite"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(tray_tip(row.status, row.labels), row.tip);
    }
}

TEST(AccountLabel, AddressOrUserAtServer) {
    EXPECT_EQ(account_label("taro@example.org", "pop.example.org"), "taro@example.org");
    EXPECT_EQ(account_label("taro", "pop.example.org"), "taro@pop.example.org");
    EXPECT_EQ(account_label("taro", ""), "taro");
}

} // namespace
