// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/oauth/browser_token_source.h"

#include "credentials/oauth/oauth_flow.h"
#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/sasl/access_token.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <array>
#include <cerrno>
#include <mutex>

namespace {

using SystemClock = std::chrono::system_clock;

struct Kept {
    std::string access_token;
    SystemClock::time_point expires_at{};
    std::string refused_refresh_token; // the refresh token the provider refused; nothing is asked with it again
};

std::mutex g_mutex; // one refresh at a time: a check and an IDLE watcher may ask at once
std::array<Kept, kAccountCount> g_kept;

bool endpoints_for(int index, OAuthEndpoints& endpoints, CheckOutcome& failure) {
    std::string why;
    const bool imap = settings_number(Key::Protocol, index) == 1;
    if (oauth_endpoints(settings_get(Key::OAuthProvider, index), imap, settings_get(Key::AuthUrl, index),
                        settings_get(Key::TokenUrl, index), settings_get(Key::Scope, index),
                        settings_get(Key::ClientId, index), endpoints, &why)) {
        return true;
    }
    write_failure_line(failure, CheckStep::token, CheckFailure::settings, EINVAL,
                       format_text("check mail ---> The OAuth2 provider setting is abnormal: %s[no.%d error: %d]",
                                   why.c_str(), index, EINVAL));
    return false;
}

} // namespace

TokenAction token_action(bool have_token, SystemClock::time_point expires_at, SystemClock::time_point now,
                         std::chrono::milliseconds margin, bool renew) {
    if (!have_token || renew || expires_at - now <= margin) {
        return TokenAction::refresh;
    }
    return TokenAction::use_kept;
}

int browser_token(int index, bool renew, std::string& token, CheckOutcome& failure) {
    wipe_secret(token);
    if (index < 0 || index >= kAccountCount) {
        return -1;
    }
    std::lock_guard lock(g_mutex);
    Kept& kept = g_kept[static_cast<std::size_t>(index)];
    std::string refresh;
    TokenRead read;
    // On the check's thread, within the keyring wait, never asking to unlock: a locked keyring is this check's
    // error line, and the next check asks again.
    const int rc = refresh_token_load(index, refresh, SecretUnlock::never, timing().keyring_wait_ms, &read);
    if (rc != 0 && read.place == TokenPlace::keyring && read.keyring != SecretResult::not_found) {
        write_keyring_error(index, read.keyring, SecretKind::refresh_token, &failure);
        return -1;
    }
    if (rc != 0 || refresh.empty()) {
        write_failure_line(failure, CheckStep::token, CheckFailure::no_token, ENOENT,
                           format_text("check mail ---> The account is not signed in: sign in with 登录… in the "
                                       "option program[no.%d error: %d]",
                                       index, ENOENT));
        return -1;
    }
    if (refresh == kept.refused_refresh_token) {
        wipe_secret(refresh);
        // Said once; asking again would only be refused again.
        failure = CheckOutcome{CheckStep::token, CheckFailure::sign_in_again, EACCES, {}};
        return -1;
    }
    const std::chrono::milliseconds margin(timing().token_refresh_margin_ms);
    if (token_action(!kept.access_token.empty(), kept.expires_at, SystemClock::now(), margin, renew) ==
        TokenAction::use_kept) {
        wipe_secret(refresh);
        token.assign(kept.access_token);
        return 0;
    }
    wipe_secret(kept.access_token);
    OAuthEndpoints endpoints;
    if (!endpoints_for(index, endpoints, failure)) {
        wipe_secret(refresh);
        return -1;
    }
    TokenGrant grant = refresh_access_token(endpoints, refresh, timing().token_request_ms);
    int result = -1;
    switch (grant.status) {
    case TokenGrant::Status::granted:
        if (grant.refresh_token != refresh &&
            refresh_token_replace(index, grant.refresh_token, read.place, timing().keyring_wait_ms) != 0) {
            write_error_logf("check mail ---> The new refresh token could not be kept[no.%d error: %d]", index, EIO);
        }
        kept.access_token = grant.access_token;
        kept.expires_at = grant.expires_at;
        token.assign(grant.access_token);
        result = 0;
        break;
    case TokenGrant::Status::refused:
        kept.refused_refresh_token = refresh;
        write_failure_line(failure, CheckStep::token, CheckFailure::sign_in_again, EACCES,
                           format_text("check mail ---> The OAuth2 sign-in was revoked or has expired (%s): sign in "
                                       "again with 登录… in the option program[no.%d error: %d]",
                                       grant.error.c_str(), index, EACCES));
        break;
    case TokenGrant::Status::failed:
        // The provider could not be reached or made no sense: the next check asks again.
        write_failure_line(failure, CheckStep::token, CheckFailure::unreachable, EAGAIN,
                           format_text("check mail ---> The OAuth2 access token could not be refreshed: %s[no.%d "
                                       "error: %d]",
                                       grant.error.c_str(), index, EAGAIN));
        break;
    }
    wipe_secret(grant.access_token);
    wipe_secret(grant.refresh_token);
    wipe_secret(refresh);
    return result;
}

void install_browser_token_source() {
    set_token_source(1, browser_token);
}

bool browser_sign_in_refused(int index) {
    if (index < 0 || index >= kAccountCount) {
        return false;
    }
    std::lock_guard lock(g_mutex);
    return !g_kept[static_cast<std::size_t>(index)].refused_refresh_token.empty();
}

void forget_browser_tokens() {
    std::lock_guard lock(g_mutex);
    for (Kept& kept : g_kept) {
        wipe_secret(kept.access_token);
        wipe_secret(kept.refused_refresh_token);
        kept.expires_at = {};
    }
}
