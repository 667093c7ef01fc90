// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/oauth/online_token_source.h"

#include "logging/log.h"
#include "mail/sasl/access_token.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cerrno>

namespace {

constexpr int kSourceOnlineAccounts = 2;

// The error line of a status other than ok, in the mail check's form. The advice says where the user mends it:
// the desktop's settings, not ours.
void write_online_error(int index, OnlineStatus status, const std::string& why, CheckOutcome& failure) {
    switch (status) {
    case OnlineStatus::ok:
        break;
    case OnlineStatus::no_service:
        write_failure_line(failure, CheckStep::token, CheckFailure::no_token, ECONNREFUSED,
                           format_text("check mail ---> The online accounts service cannot be reached (%s): it runs in "
                                       "the GNOME desktop session (gnome-online-accounts)[no.%d error: %d]",
                                       why.c_str(), index, ECONNREFUSED));
        break;
    case OnlineStatus::no_account:
        write_failure_line(
            failure, CheckStep::token, CheckFailure::no_token, ENOENT,
            format_text("check mail ---> The online account is not there: add it again in the desktop's "
                        "Settings → Online Accounts and choose it (kd5lite_op, 连接 tab)[no.%d error: %d]",
                        index, ENOENT));
        break;
    case OnlineStatus::refused:
        write_failure_line(failure, CheckStep::token, CheckFailure::sign_in_again, EACCES,
                           format_text("check mail ---> The online account needs its credentials entered again: sign "
                                       "in there again in the desktop's Settings → Online Accounts[no.%d error: %d]",
                                       index, EACCES));
        break;
    case OnlineStatus::failed:
        write_failure_line(failure, CheckStep::token, CheckFailure::no_token, EIO,
                           format_text("check mail ---> The online account gave no access token: %s[no.%d error: %d]",
                                       why.c_str(), index, EIO));
        break;
    }
}

// The account's OnlineAccount setting, or its line when none is chosen.
bool chosen_account(int index, std::string& id, CheckOutcome& failure) {
    id = settings_get(Key::OnlineAccount, index);
    if (!id.empty()) {
        return true;
    }
    write_failure_line(failure, CheckStep::token, CheckFailure::settings, EINVAL,
                       format_text("check mail ---> No online account is chosen: choose one (kd5lite_op, 连接 "
                                   "tab)[no.%d error: %d]",
                                   index, EINVAL));
    return false;
}

} // namespace

void place_at_online_account(Account& account, const OnlineMailAccount& online, bool security_set) {
    account.server = online.imap_host;
    account.user = online.imap_user;
    account.protocol = MailProtocol::imap; // the desktop's online accounts give mail over IMAP only
    if (!security_set) {
        account.security = online.imap_use_ssl   ? MailSecurity::tls
                           : online.imap_use_tls ? MailSecurity::stls
                                                 : MailSecurity::plain;
    }
}

int online_place(Account& account, CheckOutcome& failure) {
    std::string id;
    if (!chosen_account(account.index, id, failure)) {
        return -1;
    }
    OnlineMailAccount online;
    std::string why;
    const OnlineStatus status = online_mail_account(id, online, timing().token_request_ms, &why);
    if (status != OnlineStatus::ok) {
        write_online_error(account.index, status, why, failure);
        return -1;
    }
    place_at_online_account(account, online, !settings_get(Key::Security, account.index).empty());
    return 0;
}

int online_token(int index, bool, std::string& token, CheckOutcome& failure) {
    wipe_secret(token);
    std::string id;
    if (!chosen_account(index, id, failure)) {
        return -1;
    }
    // The desktop refreshes the token when it is due: a renewal (the server refused the last) just asks again.
    int expires_in_s = 0;
    std::string why;
    const OnlineStatus status = online_access_token(id, token, expires_in_s, timing().token_request_ms, &why);
    if (status != OnlineStatus::ok) {
        wipe_secret(token);
        write_online_error(index, status, why, failure);
        return -1;
    }
    return 0;
}

void install_online_token_source() {
    set_account_place(kSourceOnlineAccounts, online_place);
    set_token_source(kSourceOnlineAccounts, online_token);
}
