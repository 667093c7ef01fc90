// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

#include "logging/log_text.h"
#include "mail/account_settings.h"
#include "mail/sasl/access_token.h"
#include "notifier/check/account_check.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <atomic>
#include <future>

namespace {

std::atomic<PublishedSettings> g_published{nullptr};

// An OAuth2 account whose token comes from the desktop's online accounts, which also say where its mail is.
bool online_source(int index) {
    return account_auth(index) == CredentialKind::oauth2 && account_oauth_source(index) == OAuthSource::online_account;
}

std::string keyring_hint(SecretResult result) {
    switch (result) {
    case SecretResult::locked: return "unlock it (log in to the desktop, or open its keyring manager)";
    case SecretResult::not_found: return "it holds no password for this account: type it again (kd5lite_ap, 账户 tab)";
    case SecretResult::no_service:
        return "run kd5lite --check in the desktop session, where the keyring runs; or type the password again in "
               "kd5lite_ap without a keyring to keep it in the settings file";
    case SecretResult::timed_out: return "restart the keyring daemon, or log out and in again";
    default: return "see the keyring's own log (journalctl --user)";
    }
}

// The keyring's own words for why it did not answer, which come from the desktop's bus.
std::string reason_text(const std::string& reason) {
    return reason.empty() ? "" : " (" + log_safe_text(reason) + ")";
}

// Where the password lives and whether the check can read it, as the next pass will.
bool check_password(const AccountCheck& a) {
    const int index = a.account.index;
    if (!password_in_keyring(index)) {
        if (settings_get(Key::Password, index).empty()) {
            a.fail("switched on but no Password set (kd5lite_ap, 账户 tab)");
            return false;
        }
        a.report.info(a.topic, "password in the settings file, scrambled (anyone who reads the file can undo that): "
                               "with a desktop keyring running, 应用 on kd5lite_ap's 账户 tab moves it there");
        return true;
    }
    const SecretKey key = account_secret_key(index);
    const std::string label = log_safe_text(secret_label(key));
    std::string secret;
    std::string reason;
    const SecretResult result =
        secret_lookup(key, secret, SecretUnlock::never, std::min(timing().keyring_wait_ms, a.left_ms()), &reason);
    wipe_secret(secret);
    if (result != SecretResult::ok) {
        a.fail("password in the desktop keyring (" + label + "), not readable: " + secret_result_text(result) +
               reason_text(reason) + ": " + keyring_hint(result));
        return false;
    }
    a.report.ok(a.topic, "password in the desktop keyring (" + label + "), readable");
    return true;
}

// What to do about a refresh token the keyring did not give: a missing one wants a new sign-in.
std::string token_hint(SecretResult result) {
    switch (result) {
    case SecretResult::not_found: return "sign in again (kd5lite_op, 连接 tab, 登录…)";
    case SecretResult::no_service: return "run kd5lite --check in the desktop session, where the keyring runs";
    default: return keyring_hint(result);
    }
}

// Where an account signed in with the browser keeps its refresh token, and whether the check can read it, as the
// next pass will. The token itself is the browser source's business; this only names its place.
bool check_refresh_token(const AccountCheck& a) {
    const int index = a.account.index;
    std::string token;
    TokenRead read;
    const int rc =
        refresh_token_load(index, token, SecretUnlock::never, std::min(timing().keyring_wait_ms, a.left_ms()), &read);
    wipe_secret(token);
    const std::string label = log_safe_text(secret_label(account_secret_key(index, SecretKind::refresh_token)));
    switch (read.place) {
    case TokenPlace::file:
        a.report.info(a.topic,
                      "refresh token in the settings file, scrambled (anyone who reads the file can undo that): "
                      "with a desktop keyring running, sign in again (kd5lite_op, 连接 tab, 登录…) to move it there");
        return true;
    case TokenPlace::keyring:
        if (rc != 0) {
            a.fail("refresh token in the desktop keyring (" + label + "), not readable: " +
                   secret_result_text(read.keyring) + reason_text(read.reason) + ": " + token_hint(read.keyring));
            return false;
        }
        a.report.ok(a.topic, "refresh token in the desktop keyring (" + label + "), readable");
        return true;
    default:
        a.fail(rc != 0 ? "the settings file cannot be read for the refresh token"
                       : "not signed in: no refresh token kept: sign in (kd5lite_op, 连接 tab, 登录…)");
        return false;
    }
}

// An online account: whether the desktop has it and gives a token, and where its mail is read. Each failure is the
// source's own error line, which says where to mend it; everything the desktop gives is shown made safe.
bool check_online_account(AccountCheck& a) {
    CheckOutcome failure;
    auto failed = [&a, &failure] {
        if (a.time_up()) {
            a.fail_out_of_time(CheckStep::token); // the desktop's bus did not answer in time
        } else {
            a.fail(failure.line.empty() ? unexplained(failure) : log_safe_text(failure.line));
        }
        return false;
    };
    if (place_account(a.account, &failure) != 0) {
        return failed();
    }
    a.report.ok(a.topic, "online account " + log_safe_text(settings_get(Key::OnlineAccount, a.account.index)) +
                             ": IMAP " + log_safe_text(a.account.server) + " as " + log_safe_text(a.account.user));
    a.progress("asking the online account for an access token");
    std::string token;
    const int rc = access_token(a.account, token, &failure);
    wipe_secret(token);
    if (rc != 0) {
        return failed();
    }
    a.report.ok(a.topic, "the online account gives an access token");
    return true;
}

// What the settings need before any server is asked: the names, and the password or the sign-in.
bool check_credentials(const AccountCheck& a) {
    const int index = a.account.index;
    for (Key k : {Key::ServerName, Key::ID}) {
        if (settings_get(k, index).empty()) {
            a.fail(std::string("switched on but no ") + key_name(k) + " set (kd5lite_ap, 账户 tab)");
            return false;
        }
    }
    // An OAuth2 account signs in with a token, not a password.
    if (account_auth(index) != CredentialKind::oauth2) {
        return check_password(a);
    }
    return account_oauth_source(index) != OAuthSource::browser || check_refresh_token(a);
}

// What the account's domain publishes now, looked up beside the probes (it waits on DNS and https, within its own
// deadlines) and told next to the server's lines.
class Published {
public:
    explicit Published(const Account& account) {
        const PublishedSettings source = g_published.load();
        const int security = account.security == MailSecurity::tls ? 2 : account.security == MailSecurity::stls ? 1 : 0;
        if (source != nullptr && account.security != MailSecurity::unknown) {
            line_ = std::async(std::launch::async, source, account.user, account.server,
                               account.protocol == MailProtocol::imap, security);
        }
    }
    void report(const AccountCheck& a) {
        if (!line_.valid()) {
            return;
        }
        const std::string line = line_.get();
        if (!line.empty()) {
            a.report.info(a.topic, log_safe_text(line));
        }
    }

private:
    std::future<std::string> line_;
};

void check_account(CheckReport& report, int index) {
    AccountCheck a{report, account_topic(index), read_account(index),
                   AccountCheck::Clock::now() + std::chrono::milliseconds(timing().check_account_ms)};
    AccountClock clock(a);
    if (online_source(index) ? !check_online_account(a) : !check_credentials(a)) {
        return;
    }
    if (a.account.protocol == MailProtocol::unknown) {
        a.fail("the account's Protocol key is neither 0 (POP3) nor 1 (IMAP)");
        return;
    }
    Published published(a.account);
    const bool reached = check_reach(a);
    published.report(a);
    if (reached && check_login(a) && a.account.protocol == MailProtocol::imap) {
        check_push(a);
    }
}

} // namespace

void set_published_settings(PublishedSettings source) {
    g_published = source;
}

void check_accounts(CheckReport& report) {
    bool any = false;
    for (int i = 0; i < kAccountCount; ++i) {
        if (account_watched(i)) {
            any = true;
            check_account(report, i);
        }
    }
    if (!any) {
        report.fail("accounts", "none switched on: enter one in kd5lite_ap, 账户 tab");
    }
}
