// SPDX-License-Identifier: GPL-3.0-or-later
// The login and the count as the next pass makes them, and the push: what went wrong is told from the check's
// outcome (its step, its kind and the account's token source), never from the wording of its log line.
#include "notifier/check/account_check.h"

#include "credentials/mail_providers.h"
#include "logging/log_text.h"
#include "mail/account_settings.h"
#include "mail/imap/folder_report.h"
#include "mail/mail_check.h"
#include "mail/mail_probe.h"
#include "mail/net/server_name.h"
#include "mail/sasl/access_token.h"
#include "notifier/check/provider_hints.h"

#include <algorithm>

namespace {

constexpr char kSignIn[] = "(kd5lite_op, 连接 tab, 登录…)";
constexpr char kOnlineAccounts[] = "(the desktop's Settings → Online Accounts)";

OAuthSource token_source(const Account& account) {
    return account.credential.kind == CredentialKind::oauth2 ? account.oauth_source : OAuthSource::unknown;
}

// What the provider of the account's address wants instead of the mailbox password, from the provider table.
std::string secret_hint(const Account& account) {
    const MailProvider* p = mail_provider_for(account.user);
    if (p == nullptr) {
        return "";
    }
    switch (p->secret) {
    case ProviderSecret::oauth2:
        return "; " + std::string(p->name) + " takes OAuth2: choose it and sign in " + kSignIn;
    case ProviderSecret::app_password:
        return "; " + std::string(p->name) + " wants an app password made in the account's security settings";
    case ProviderSecret::authorization_code:
        return "; " + std::string(p->name) + " wants the authorization code (授权码) from its web mail settings";
    }
    return "";
}

// A refused password, with what the provider wants instead where the provider table or the server's domain
// knows it.
std::string refused_password(const Account& account) {
    std::string text = "the server refused the login: check the ID and type the password again (kd5lite_ap, 账户 "
                       "tab)" +
                       secret_hint(account);
    const std::string host = split_server_name(account.server).host;
    const char* hint = provider_hint(host);
    if (hint != nullptr && secret_hint(account).empty()) {
        text += "; " + log_safe_text(host) + ": " + hint;
    }
    return text;
}

// The token step's failures, by the source the token comes from.
std::string token_trouble(const Account& account, const CheckOutcome& o) {
    const OAuthSource source = token_source(account);
    const std::string line = log_safe_text(o.line);
    switch (o.failure) {
    case CheckFailure::sign_in_again:
        if (source == OAuthSource::online_account) {
            return std::string("the online account needs its credentials entered again: sign in there again ") +
                   kOnlineAccounts;
        }
        return std::string("the provider refused the sign-in (revoked, or expired after months unused): sign in "
                           "again ") +
               kSignIn;
    case CheckFailure::no_token:
        if (source == OAuthSource::token_command) {
            return line + ": run the account's TokenCommand in a terminal to see why (kd5lite_op, 连接 tab)";
        }
        if (source == OAuthSource::browser) {
            return std::string("not signed in: sign in ") + kSignIn;
        }
        return line; // the online accounts' lines say where to mend them
    case CheckFailure::unreachable:
        return line + ": the provider did not answer; the next check asks again";
    default:
        return unexplained(o);
    }
}

std::string refused_token(const Account& account) {
    switch (token_source(account)) {
    case OAuthSource::online_account:
        return std::string("the server refused the online account's token: sign in there again ") + kOnlineAccounts;
    case OAuthSource::token_command:
        return "the server refused the token the TokenCommand gave: check the command and the ID (kd5lite_op, 连接 "
               "tab)";
    default:
        return std::string("the server refused the OAuth2 token: sign in again ") + kSignIn;
    }
}

std::string explained(const AccountCheck& a, const CheckOutcome& o) {
    const Account& account = a.account;
    switch (o.failure) {
    case CheckFailure::refused_login:
        if (token_source(account) != OAuthSource::unknown) {
            return unexplained(o);
        }
        return o.step == CheckStep::user ? "the server refused the user name: correct the ID (kd5lite_ap, 账户 tab)"
                                         : refused_password(account);
    case CheckFailure::refused_token:
        return refused_token(account);
    case CheckFailure::refused:
        if (o.step == CheckStep::folder) {
            return "the server refused to open the folder " +
                   log_safe_text(account.folder.empty() ? "INBOX" : account.folder) +
                   ": check Folder (kd5lite_op, 连接 tab)";
        }
        return unexplained(o);
    case CheckFailure::settings:
        if (account.credential.kind == CredentialKind::oauth2 && account.security == MailSecurity::plain) {
            return log_safe_text(o.line) + ": choose Security 1 or 2 for the account (kd5lite_op, 连接 tab)";
        }
        return o.step == CheckStep::token ? token_trouble(account, o) : unexplained(o);
    default:
        return o.step == CheckStep::token ? token_trouble(account, o) : unexplained(o);
    }
}

const char* protocol_name(const Account& account) {
    return account.protocol == MailProtocol::imap ? "IMAP" : "POP3";
}

} // namespace

bool check_login(AccountCheck& a) {
    a.progress("logging in and counting");
    CheckOutcome outcome;
    const int count = mail_check(a.account.index, &outcome);
    if (!outcome.ok()) {
        // A failure past the account's time is the bound's doing, whatever the step made of it.
        if (a.time_up()) {
            a.fail_out_of_time(outcome.step);
        } else {
            a.fail(explained(a, outcome));
        }
        return false;
    }
    if (count < 0) {
        a.fail(std::string(protocol_name(a.account)) + " check failed");
        return false;
    }
    const char* counted = a.account.protocol == MailProtocol::imap ? "unseen messages" : "messages waiting";
    a.report.ok(a.topic, std::string(protocol_name(a.account)) + " login accepted; count " + std::to_string(count) +
                             " (" + (a.account.filters.any() ? "sender hits" : counted) + ")");
    return true;
}

// A connection of its own, logged in as the watcher logs in: whether the server offers IDLE, and where the account
// watches several folders, each with its count and how the push watches it. A failure here has been reported by
// the check before.
void check_push(const AccountCheck& a) {
    Account account;
    if (read_account(a.account.index, account) != 0 || sign_account(account) != 0) {
        return;
    }
    a.progress(account.folders.empty() ? "asking whether the server offers IDLE"
                                       : "counting each watched folder and asking how the server pushes");
    std::vector<FolderReport> folders;
    CheckOutcome outcome;
    if (folder_report(account, folders, &outcome) != 0 || (folders.empty() && !outcome.ok())) {
        return; // not logged in: the server's word on IDLE is not known
    }
    if (!account.folders.empty()) {
        for (const FolderReport& f : folders) {
            const std::string line = "folder " + folder_report_line(f, account.filters.any());
            f.missing ? a.report.warn(a.topic, line) : a.report.info(a.topic, line);
        }
    }
    const bool idle = std::any_of(folders.begin(), folders.end(),
                                  [](const FolderReport& f) { return f.watch != FolderWatch::interval; });
    if (idle) {
        a.report.ok(a.topic, "push: the server offers IDLE; while monitoring runs, a change reaches the LED at once");
    } else {
        a.report.info(a.topic, "no push: the server does not offer IDLE; the interval alone brings the checks "
                               "(IntervalTimer, kd5lite_ap)");
    }
}
