// SPDX-License-Identifier: GPL-3.0-or-later
// What the tray and the notification say of an account whose check failed.

#include "notifier/health_words.h"

#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using F = CheckFailure;
using S = CheckStep;

// Catches a cause told in the wrong words (a refused user name sent to the password field, a revoked sign-in of an
// online account sent to the option program's 登录…), a server name left out, and a failure with no words at all.
TEST(HealthWords, CauseAndWhatToDoPerFailure) {
    const HealthContext password{"mail.example.org", OAuthSource::unknown};
    const HealthContext browser{"imap.gmail.com", OAuthSource::browser};
    const HealthContext online{"outlook.office365.com", OAuthSource::online_account};
    const HealthContext command{"imap.example.org", OAuthSource::token_command};
    // Plain fields only: GCC 12 at -O3 takes strings in a table this long for uninitialized.
    const struct {
        S step;
        F failure;
        int error;
        const HealthContext* context;
        const char* cause;
        const char* todo_has;
    } rows[] = {
        {S::resolve, F::unreachable, 0, &password, "找不到服务器 mail.example.org", "服务器名"},
        {S::connect, F::unreachable, ECONNREFUSED, &password, "无法连接 mail.example.org", "会自动重试"},
        {S::greeting, F::unreachable, ETIMEDOUT, &password, "mail.example.org 没有回答", "会自动重试"},
        {S::token, F::unreachable, 0, &browser, "无法连接登录服务", "会自动重试"},
        {S::tls, F::tls, 0, &password, "与 mail.example.org 的加密连接失败", "「方式」"},
        {S::tls, F::certificate, 0, &password, "mail.example.org 的证书不受信任，或与记下的指纹不符", "指纹"},
        {S::count, F::protocol_broken, 0, &password, "mail.example.org 的回答不合协议", "协议和端口"},
        {S::headers, F::flood, EMSGSIZE, &password, "mail.example.org 发来的数据过多", "会自动重试"},
        {S::user, F::refused_login, 0, &password, "服务器拒绝了用户名", "邮件ID"},
        {S::login, F::refused_login, 0, &password, "服务器拒绝了密码", "重新输入密码"},
        {S::login, F::refused_token, EACCES, &browser, "服务器拒绝了登录令牌", "登录…"},
        {S::token, F::sign_in_again, EACCES, &online, "登录已失效", "在线帐户"},
        {S::token, F::no_token, 0, &command, "没有登录令牌", "令牌命令"},
        {S::secret, F::keyring, EACCES, &password, "密钥环已锁定", "解锁"},
        {S::secret, F::keyring, ENOENT, &password, "密钥环中没有密码", "重新输入密码"},
        {S::secret, F::keyring, ENOENT, &browser, "密钥环中没有登录令牌", "登录…"},
        {S::secret, F::keyring, ECONNREFUSED, &password, "密钥环没有运行", "桌面会话"},
        {S::secret, F::keyring, ETIMEDOUT, &password, "密钥环没有回答", "重新启动"},
        {S::secret, F::keyring, EIO, &password, "密钥环拒绝给出密码", "journalctl"},
        {S::settings, F::settings, EINVAL, &password, "账户的设置无法使用", "「连接」页"},
        {S::greeting, F::refused, 0, &password, "mail.example.org 拒绝了连接", "会自动重试"},
    };
    for (const auto& row : rows) {
        const HealthWords words = health_words(CheckOutcome{row.step, row.failure, row.error, {}}, *row.context);
        EXPECT_EQ(words.cause, row.cause) << check_failure_name(row.failure);
        EXPECT_NE(words.todo.find(row.todo_has), std::string::npos) << row.cause << ": " << words.todo;
    }
    for (F quiet : {F::none, F::refused, F::stopped}) {
        EXPECT_TRUE(health_words({S::count, quiet, 0, {}}, password).cause.empty()) << check_failure_name(quiet);
    }
}

class HealthNoticeText : public ::testing::Test {
protected:
    UtcZone utc_;
};

// One notification per state: which LED and account, since when it was not checked (late only), the cause and
// what to do, with the server's name (the user's text) escaped for servers that read markup.
TEST_F(HealthNoticeText, SaysWhichLedSinceWhenWhyAndWhatToDo) {
    constexpr std::time_t kNine41 = 9 * 3600 + 41 * 60, kTen = 10 * 3600;
    const HealthWords away{"无法连接 a<b>&c", "会自动重试"};
    const struct {
        int account;
        Health health;
        std::time_t last_good;
        const char* summary;
        const char* body;
    } rows[] = {
        {0, Health::needs_you, kNine41, "红 taro@example.org：需要处理", "无法连接 a&lt;b&gt;&amp;c — 会自动重试"},
        {1, Health::late, kNine41, "绿 taro@example.org：未能检查",
         "自 09:41:00 起未能检查 — 无法连接 a&lt;b&gt;&amp;c — 会自动重试"},
        {2, Health::late, 0, "黄 taro@example.org：未能检查", "尚未成功检查 — 无法连接 a&lt;b&gt;&amp;c — 会自动重试"},
    };
    for (const auto& row : rows) {
        const HealthNotice notice =
            health_notice(row.account, "taro@example.org", row.health, away, row.last_good, kTen);
        EXPECT_EQ(notice.summary, row.summary);
        EXPECT_EQ(notice.body, row.body);
    }
    EXPECT_EQ(health_time(kNine41 - 86400 * 40, kTen), "11月22日 09:41");
    EXPECT_EQ(health_time(0, kTen), "从未");
}

} // namespace
