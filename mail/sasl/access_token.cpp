// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/access_token.h"

#include "credentials/token_command.h"
#include "logging/log.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/key_values.h"
#include "settings/settings.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

constexpr int kSourceBrowser = static_cast<int>(OAuthSource::browser);
constexpr int kSourceOnlineAccounts = static_cast<int>(OAuthSource::online_account);
constexpr int kSourceCommand = static_cast<int>(OAuthSource::token_command);

std::mutex g_mutex;
std::array<TokenSource, 3> g_sources; // by OAuthSource - 1; the command's slot stays empty
std::array<AccountPlace, 3> g_places; // the same
std::array<std::atomic<bool>, kAccountCount> g_renew{};

int command_token(const Account& account, std::string& token, CheckOutcome& failure) {
    const TokenCommandResult r = run_token_command(account.token_command, timing().token_command_ms, token);
    if (r.status == TokenCommandResult::Status::ok) {
        return 0;
    }
    // Only its standard error reaches the log, as one line; what it printed never does.
    write_failure_line(failure, CheckStep::token, CheckFailure::no_token, r.exit_code,
                       format_text("check mail ---> The token command %s%s%s[no.%d error: %d]",
                                   token_command_status_text(r.status), r.error_line.empty() ? "" : ": ",
                                   r.error_line.c_str(), account.index, r.exit_code));
    return -1;
}

// A source that failed without saying how: no token, then.
int failed_unless_said(int rc, CheckOutcome& failure) {
    if (rc != 0 && failure.ok()) {
        failure = CheckOutcome{CheckStep::token, CheckFailure::no_token, 0, {}};
    }
    return rc;
}

} // namespace

void set_token_source(int source, TokenSource fn) {
    if (source != kSourceBrowser && source != kSourceOnlineAccounts) {
        return;
    }
    std::lock_guard lock(g_mutex);
    g_sources[static_cast<std::size_t>(source - 1)] = std::move(fn);
}

void set_account_place(int source, AccountPlace fn) {
    if (source != kSourceBrowser && source != kSourceOnlineAccounts) {
        return;
    }
    std::lock_guard lock(g_mutex);
    g_places[static_cast<std::size_t>(source - 1)] = std::move(fn);
}

int place_account(Account& account, CheckOutcome* failure) {
    if (account.credential.kind != CredentialKind::oauth2 || account.index < 0 || account.index >= kAccountCount) {
        return 0;
    }
    const int source = static_cast<int>(account.oauth_source);
    AccountPlace fn;
    if (source == kSourceBrowser || source == kSourceOnlineAccounts) {
        std::lock_guard lock(g_mutex);
        fn = g_places[static_cast<std::size_t>(source - 1)];
    }
    CheckOutcome said;
    const int rc = failed_unless_said(fn ? fn(account, said) : 0, said);
    if (failure != nullptr) {
        *failure = std::move(said);
    }
    return rc;
}

int access_token(const Account& account, std::string& token, CheckOutcome* failure) {
    wipe_secret(token);
    const int index = account.index;
    if (index < 0 || index >= kAccountCount) {
        return -1;
    }
    const bool renew = g_renew[static_cast<std::size_t>(index)].exchange(false);
    const int source = static_cast<int>(account.oauth_source);
    CheckOutcome said;
    int rc = -1;
    if (source == kSourceCommand) {
        rc = command_token(account, token, said);
    } else {
        TokenSource fn;
        if (source == kSourceBrowser || source == kSourceOnlineAccounts) {
            std::lock_guard lock(g_mutex);
            fn = g_sources[static_cast<std::size_t>(source - 1)];
        }
        if (fn) {
            rc = failed_unless_said(fn(index, renew, token, said), said);
        } else {
            write_failure_line(said, CheckStep::token, CheckFailure::settings, EINVAL,
                               format_text("check mail ---> The OAuth2 token source setting is abnormal[no.%d error: "
                                           "%d]",
                                           index, EINVAL));
        }
    }
    if (failure != nullptr) {
        *failure = std::move(said);
    }
    return rc;
}

int sign_account(Account& account, CheckOutcome* failure) {
    if (account.credential.kind != CredentialKind::oauth2) {
        return 0;
    }
    std::string token;
    const int rc = access_token(account, token, failure);
    account.credential.secret.assign(token);
    wipe_secret(token);
    return rc;
}

void ask_token_renewal(int index) {
    if (index >= 0 && index < kAccountCount) {
        g_renew[static_cast<std::size_t>(index)] = true;
    }
}
