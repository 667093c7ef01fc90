// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/health_words.h"

#include "notifier/announcements.h"

#include <cerrno>
#include <cstdio>

namespace {

constexpr const char* kLampNames[3] = {"红", "绿", "黄"};

constexpr char kRetry[] = "会自动重试；如持续失败，请用托盘菜单的「诊断…」";
constexpr char kPassword[] = "请在 kd5lite_ap 的「账户」页重新输入密码";
constexpr char kSignIn[] = "请重新登录（kd5lite_op 的「连接」页，登录…）";
constexpr char kSignInOnline[] = "请在桌面的「在线帐户」中重新登录";
constexpr char kConnectionTab[] = "请检查 kd5lite_op 的「连接」页";

// Where an OAuth2 account gets its token decides where the user signs in again.
const char* sign_in_todo(OAuthSource source) {
    switch (source) {
    case OAuthSource::online_account:
        return kSignInOnline;
    case OAuthSource::token_command:
        return "请在终端运行令牌命令查看原因（kd5lite_op 的「连接」页）";
    default:
        return kSignIn;
    }
}

HealthWords unreachable_words(CheckStep step, const std::string& host) {
    switch (step) {
    case CheckStep::token:
        return {"无法连接登录服务", kRetry};
    case CheckStep::resolve:
        return {"找不到服务器 " + host, "请检查服务器名（kd5lite_ap 的「账户」页）和网络；" + std::string(kRetry)};
    case CheckStep::connect:
        return {"无法连接 " + host, kRetry};
    default:
        return {host + " 没有回答", kRetry};
    }
}

// The keyring's answer is in the error number of its line (mail/account_settings.cpp).
HealthWords keyring_words(int error, CheckStep step, OAuthSource source) {
    const bool token = step == CheckStep::token || source != OAuthSource::unknown;
    switch (error) {
    case EACCES:
        return {"密钥环已锁定", "请解锁密钥环（登录桌面，或打开密钥环管理器）"};
    case ENOENT:
        return token ? HealthWords{"密钥环中没有登录令牌", kSignIn} : HealthWords{"密钥环中没有密码", kPassword};
    case ECONNREFUSED:
        return {"密钥环没有运行", "请在桌面会话中运行 kd5lite，或在 kd5lite_ap 重新输入密码"};
    case ETIMEDOUT:
        return {"密钥环没有回答", "请重新启动密钥环，或注销后重新登录"};
    default:
        return {"密钥环拒绝给出密码", "请查看密钥环的日志（journalctl --user）"};
    }
}

} // namespace

HealthWords health_words(const CheckOutcome& outcome, const HealthContext& context) {
    const std::string& host = context.host;
    switch (outcome.failure) {
    case CheckFailure::none:
    case CheckFailure::stopped:
        return {};
    case CheckFailure::refused:
        if (outcome.step > CheckStep::login) {
            return {}; // the count stands
        }
        return {host + " 拒绝了连接", kRetry};
    case CheckFailure::unreachable:
        return unreachable_words(outcome.step, host);
    case CheckFailure::tls:
        return {"与 " + host + " 的加密连接失败", "请检查「方式」（kd5lite_op 的「连接」页）；" + std::string(kRetry)};
    case CheckFailure::certificate:
        return {host + " 的证书不受信任，或与记下的指纹不符",
                "确认是自己的服务器后，在 kd5lite_op 的「连接」页填写它的指纹"};
    case CheckFailure::protocol_broken:
        return {host + " 的回答不合协议", "请检查协议和端口（kd5lite_op 的「连接」页）；" + std::string(kRetry)};
    case CheckFailure::flood:
        return {host + " 发来的数据过多", kRetry};
    case CheckFailure::refused_login:
        if (outcome.step == CheckStep::user) {
            return {"服务器拒绝了用户名", "请改正邮件ID（kd5lite_ap 的「账户」页）"};
        }
        return {"服务器拒绝了密码", kPassword};
    case CheckFailure::refused_token:
        return {"服务器拒绝了登录令牌", sign_in_todo(context.source)};
    case CheckFailure::sign_in_again:
        return {"登录已失效", sign_in_todo(context.source)};
    case CheckFailure::no_token:
        return {"没有登录令牌", sign_in_todo(context.source)};
    case CheckFailure::keyring:
        return keyring_words(outcome.error, outcome.step, context.source);
    case CheckFailure::settings:
        return {"账户的设置无法使用", kConnectionTab};
    }
    return {"检查失败", kRetry};
}

std::string health_time(std::time_t when, std::time_t now) {
    if (when == 0) {
        return "从未";
    }
    std::tm at{};
    std::tm today{};
    localtime_r(&when, &at);
    localtime_r(&now, &today);
    char text[32];
    if (at.tm_year == today.tm_year && at.tm_yday == today.tm_yday) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", at.tm_hour, at.tm_min, at.tm_sec);
    } else {
        std::snprintf(text, sizeof text, "%d月%d日 %02d:%02d", at.tm_mon + 1, at.tm_mday, at.tm_hour, at.tm_min);
    }
    return text;
}

HealthNotice health_notice(int account, const std::string& label, Health health, const HealthWords& words,
                           std::time_t last_good, std::time_t now) {
    HealthNotice notice;
    const char* lamp = account >= 0 && account < 3 ? kLampNames[account] : "";
    notice.summary = std::string(lamp) + " " + label + (health == Health::late ? "：未能检查" : "：需要处理");
    if (health == Health::late) {
        notice.body = last_good == 0 ? "尚未成功检查 — " : "自 " + health_time(last_good, now) + " 起未能检查 — ";
    }
    notice.body += markup_escaped(words.cause) + " — " + markup_escaped(words.todo);
    return notice;
}
