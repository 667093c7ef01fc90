// SPDX-License-Identifier: GPL-3.0-or-later
// What the tray shows of the monitor: the look of each lamp and the tip, from the status record.

#include "notifier/tray_status.h"

#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>


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
    UtcZone utc_;
};

AccountStatus checked(int count, std::time_t when) {
    AccountStatus a;
    a.checked = true;
    a.count = count;
    a.lit = count > 0;
    a.when = when;
    a.last_good = when;
    a.health = Health::watching;
    return a;
}

// A check that failed at when, after the last good one at last_good.
AccountStatus failed(Health health, std::time_t when, std::time_t last_good, const char* cause, const char* todo) {
    AccountStatus a = checked(2, last_good);
    a.failed = true;
    a.when = when;
    a.health = health;
    a.cause = cause;
    a.todo = todo;
    return a;
}

TEST_F(TrayTip, ListsWatchedAccountsWithCountAndTime) {
    TrayStatus s = monitoring_with(true, false, false);
    s.accounts[0] = checked(3, 3600 * 14 + 60 * 5 + 9);
    s.accounts[2] = failed(Health::watching, 3600 * 9, 0, "", "");
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", "hana@example.org"}),
              "corvo KD5 lite\n"
              "红 taro@example.org：3 封邮件（14:05:09 检查）\n"
              "黄 hana@example.org：检查失败（09:00:00 检查）\n"
              "　上次成功检查：从未");
    // An account of several folders: a line of them below its own, but not the counts of a check before the one
    // that failed.
    s.accounts[0].folders = "INBOX 1，Work 2";
    s.accounts[2].folders = "INBOX 0，Work 1";
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", "hana@example.org"}),
              "corvo KD5 lite\n"
              "红 taro@example.org：3 封邮件（14:05:09 检查）\n　INBOX 1，Work 2\n"
              "黄 hana@example.org：检查失败（09:00:00 检查）\n"
              "　上次成功检查：从未");
    s.accounts[0].checked = false;
    s.accounts[0].folders.clear();
    EXPECT_EQ(tray_tip(s, {"taro@example.org", "", ""}), "corvo KD5 lite\n红 taro@example.org：尚未检查");
}

// Per health, one account's lines: a healthy one exactly as ever; a failing one with the state, the cause and
// what to do, and its last good check (not the time of the failure, which the first line gives); one whose push
// is down with how often it is checked meanwhile. Catches a failure that reads like "no mail", the last good check
// left out or taken from the failed check, and words of one account shown on another.
TEST_F(TrayTip, SaysPerHealthWhyAndWhatToDo) {
    constexpr std::time_t kNine = 3600 * 9, kTen = 3600 * 10, kDayBefore = kNine - 86400;
    AccountStatus push_down = checked(0, kTen);
    push_down.push_down = true;
    const struct {
        const char* what;
        AccountStatus account;
        int interval;
        const char* lines;
    } rows[] = {
        {"watching", checked(2, kTen), 10, "2 封邮件（10:00:00 检查）"},
        {"watching, one failure within the grace",
         failed(Health::watching, kTen, kNine, "无法连接 pop.example.org", "会自动重试"), 10,
         "检查失败（10:00:00 检查）\n　无法连接 pop.example.org：会自动重试\n　上次成功检查：09:00:00"},
        {"late", failed(Health::late, kTen, kNine, "pop.example.org 没有回答", "会自动重试"), 10,
         "未能检查（10:00:00 检查）\n　pop.example.org 没有回答：会自动重试\n　上次成功检查：09:00:00"},
        {"late since the day before", failed(Health::late, kTen, kDayBefore, "找不到服务器 x", "请检查服务器名"), 10,
         "未能检查（10:00:00 检查）\n　找不到服务器 x：请检查服务器名\n　上次成功检查：12月31日 09:00"},
        {"needs you", failed(Health::needs_you, kTen, kNine, "服务器拒绝了密码", "请重新输入密码"), 10,
         "需要处理（10:00:00 检查）\n　服务器拒绝了密码：请重新输入密码\n　上次成功检查：09:00:00"},
        {"push down, checked at the interval", push_down, 5,
         "0 封邮件（10:00:00 检查）\n　推送中断，每 5 分钟检查一次"},
        {"push down, no interval", push_down, 0, "0 封邮件（10:00:00 检查）\n　推送中断，按检查间隔检查"},
    };
    for (const auto& row : rows) {
        TrayStatus s = monitoring_with(false, false, false);
        s.interval_minutes = row.interval;
        s.accounts[1] = row.account;
        s.accounts[0] = checked(1, kTen); // a healthy neighbour keeps its own line
        EXPECT_EQ(tray_tip(s, {"taro", "hana", ""}),
                  std::string("corvo KD5 lite\n红 taro：1 封邮件（10:00:00 检查）\n绿 hana：") + row.lines)
            << row.what;
    }
}

// The record keeps what the monitor told it: a good check is the last good one, a failure keeps count and lit.
TEST(TrayStatusRecord, FailureKeepsTheCountAndTheLastGoodCheck) {
    tray_status_checked(2, 4, true, 1000);
    tray_status_check_failed(2, 2000);
    tray_status_health(2, Health::needs_you, "服务器拒绝了密码", "请重新输入密码");
    tray_status_push(2, true);
    AccountStatus a = tray_status().accounts[2];
    EXPECT_TRUE(a.failed);
    EXPECT_EQ(a.count, 4);
    EXPECT_TRUE(a.lit);
    EXPECT_EQ(a.when, 2000);
    EXPECT_EQ(a.last_good, 1000);
    EXPECT_EQ(a.health, Health::needs_you);
    EXPECT_EQ(a.cause, "服务器拒绝了密码");
    EXPECT_TRUE(a.push_down);
    tray_status_checked(2, 4, true, 3000);
    tray_status_health(2, Health::watching, "", "");
    a = tray_status().accounts[2];
    EXPECT_FALSE(a.failed);
    EXPECT_EQ(a.last_good, 3000);
    EXPECT_EQ(a.health, Health::watching);
    EXPECT_EQ(tray_status().accounts[0].health, Health::none);
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
