// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/oauth/browser_token_source.h"

#include "credentials/oauth/oauth_flow.h"
#include "credentials/token_stop.h"
#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/sasl/access_token.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/key_values.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <array>
#include <atomic>
#include <cerrno>

namespace {

using SystemClock = std::chrono::system_clock;

struct Kept {
    std::string access_token;
    SystemClock::time_point expires_at{};
    std::string refused_refresh_token; // the refresh token the provider refused; nothing is asked with it again
    // A refresh token the provider rotated in that could not be stored (the settings file's lock busy, the keyring
    // locked): a provider that detects reuse would end the sign-in at the next refresh with the stored one, so this
    // one is used instead, and stored at each later use until it is. replaced is what the store held when it came.
    std::string unsaved_refresh_token;
    std::string replaced_refresh_token;
    TokenPlace unsaved_place = TokenPlace::none;
    // Refreshes that ended (counted while the turn is held), and how the last one ended: a caller that waited for
    // the turn while a refresh failed takes that answer instead of asking the provider again at once.
    std::atomic<unsigned> refreshes{0};
    bool last_failed = false;
    std::string last_error;
};

TokenTurn g_turn; // one fetch at a time: a check and an IDLE watcher may ask at once; a stop ends the wait
std::array<Kept, kAccountCount> g_kept;

bool endpoints_for(int index, OAuthEndpoints& endpoints, CheckOutcome& failure) {
    std::string why;
    const bool imap = account_protocol(index) == MailProtocol::imap;
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

void forget_unsaved(Kept& kept) {
    wipe_secret(kept.unsaved_refresh_token);
    wipe_secret(kept.replaced_refresh_token);
    kept.unsaved_place = TokenPlace::none;
}

// Stores a rotated token where the old one was read; kept in memory, with what the store holds, until that works.
void keep_rotated(int index, Kept& kept, const std::string& token, const std::string& replaced, TokenPlace place) {
    if (refresh_token_replace(index, token, place, timing().keyring_wait_ms) == 0) {
        forget_unsaved(kept);
        return;
    }
    if (&replaced != &kept.replaced_refresh_token) {
        kept.replaced_refresh_token = replaced;
    }
    kept.unsaved_refresh_token = token;
    kept.unsaved_place = place;
    write_error_logf("check mail ---> The new refresh token could not be kept: it is used from memory and stored at "
                     "the next use[no.%d error: %d]",
                     index, EIO);
}

// Whether the rotated token in memory is the one to use (into refresh, and where it goes into place): while the
// store still holds what it replaced, or cannot be read now. A store that holds anything else has a new sign-in
// (or none) in it, and that wins.
bool use_unsaved(Kept& kept, std::string& refresh, int rc, TokenPlace& place) {
    if (kept.unsaved_refresh_token.empty()) {
        return false;
    }
    if (rc == 0 && refresh != kept.replaced_refresh_token) {
        forget_unsaved(kept); // stored by now, signed in anew, or no longer signed in
        return false;
    }
    refresh.assign(kept.unsaved_refresh_token);
    if (place == TokenPlace::none) {
        place = kept.unsaved_place;
    }
    return true;
}

// Why no refresh token was loaded, in its line; 0 when there is one.
int say_not_loaded(int index, int rc, const std::string& refresh, const TokenRead& read, CheckOutcome& failure) {
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
    return 0;
}

// The provider could not be reached or made no sense: the next check asks again.
void say_failed(int index, const std::string& error, CheckOutcome& failure) {
    write_failure_line(failure, CheckStep::token, CheckFailure::unreachable, EAGAIN,
                       format_text("check mail ---> The OAuth2 access token could not be refreshed: %s[no.%d error: %d]",
                                   error.c_str(), index, EAGAIN));
}

void say_stopped(int index, CheckOutcome& failure) {
    write_failure_line(failure, CheckStep::token, CheckFailure::stopped, ECANCELED,
                       format_text("check mail ---> The OAuth2 access token was not fetched: a stop came first[no.%d "
                                   "error: %d]",
                                   index, ECANCELED));
}

// Asks the provider, and keeps what it says. 0 with the access token in token.
int refresh(int index, Kept& kept, const std::string& refresh_token, bool from_memory, TokenPlace place,
            std::string& token, CheckOutcome& failure) {
    OAuthEndpoints endpoints;
    if (!endpoints_for(index, endpoints, failure)) {
        return -1;
    }
    TokenGrant grant = refresh_access_token(endpoints, refresh_token, timing().token_request_ms);
    kept.last_failed = grant.status != TokenGrant::Status::granted;
    kept.last_error = grant.error;
    ++kept.refreshes;
    int result = -1;
    switch (grant.status) {
    case TokenGrant::Status::granted:
        if (grant.refresh_token != refresh_token) {
            keep_rotated(index, kept, grant.refresh_token, from_memory ? kept.replaced_refresh_token : refresh_token,
                         place);
        }
        kept.access_token = grant.access_token;
        kept.expires_at = grant.expires_at;
        token.assign(grant.access_token);
        result = 0;
        break;
    case TokenGrant::Status::refused:
        kept.refused_refresh_token = refresh_token;
        write_failure_line(failure, CheckStep::token, CheckFailure::sign_in_again, EACCES,
                           format_text("check mail ---> The OAuth2 sign-in was revoked or has expired (%s): sign in "
                                       "again with 登录… in the option program[no.%d error: %d]",
                                       grant.error.c_str(), index, EACCES));
        break;
    case TokenGrant::Status::failed:
        say_failed(index, grant.error, failure);
        break;
    case TokenGrant::Status::cancelled:
        say_stopped(index, failure);
        break;
    }
    wipe_secret(grant.access_token);
    wipe_secret(grant.refresh_token);
    return result;
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
    Kept& kept = g_kept[static_cast<std::size_t>(index)];
    const unsigned refreshes_before = kept.refreshes.load();
    TokenTurnHeld turn(g_turn);
    if (!turn.held()) {
        say_stopped(index, failure);
        return -1;
    }
    std::string refresh_token;
    TokenRead read;
    // On the check's thread, within the keyring wait, never asking to unlock: a locked keyring is this check's
    // error line, and the next check asks again.
    const int rc = refresh_token_load(index, refresh_token, SecretUnlock::never, timing().keyring_wait_ms, &read);
    TokenPlace place = read.place;
    bool from_memory = use_unsaved(kept, refresh_token, rc, place);
    if (from_memory && refresh_token_replace(index, refresh_token, place, timing().keyring_wait_ms) == 0) {
        forget_unsaved(kept); // stored at last: from now on it is the stored one
        from_memory = false;
    }
    int result = -1;
    if (!from_memory && say_not_loaded(index, rc, refresh_token, read, failure) != 0) {
        // its line is written
    } else if (refresh_token == kept.refused_refresh_token) {
        // Said once; asking again would only be refused again.
        failure = CheckOutcome{CheckStep::token, CheckFailure::sign_in_again, EACCES, {}};
    } else if (kept.refreshes != refreshes_before && kept.last_failed) {
        // A refresh failed while this caller waited for the turn: its answer, not another request at once.
        say_failed(index, kept.last_error, failure);
    } else {
        // A refresh that worked while this caller waited replaced the token the server may have refused.
        renew = renew && kept.refreshes == refreshes_before;
        const std::chrono::milliseconds margin(timing().token_refresh_margin_ms);
        if (token_action(!kept.access_token.empty(), kept.expires_at, SystemClock::now(), margin, renew) ==
            TokenAction::use_kept) {
            token.assign(kept.access_token);
            result = 0;
        } else {
            wipe_secret(kept.access_token);
            result = refresh(index, kept, refresh_token, from_memory, place, token, failure);
        }
    }
    wipe_secret(refresh_token);
    return result;
}

void install_browser_token_source() {
    set_token_source(1, browser_token);
}

bool browser_sign_in_refused(int index) {
    if (index < 0 || index >= kAccountCount) {
        return false;
    }
    TokenTurnHeld turn(g_turn);
    return turn.held() && !g_kept[static_cast<std::size_t>(index)].refused_refresh_token.empty();
}

void forget_browser_tokens() {
    TokenTurnHeld turn(g_turn, false);
    for (Kept& kept : g_kept) {
        wipe_secret(kept.access_token);
        wipe_secret(kept.refused_refresh_token);
        forget_unsaved(kept);
        kept.expires_at = {};
        kept.last_failed = false;
        kept.last_error.clear();
    }
}
