// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"

#include <chrono>
#include <string>

// The access tokens of accounts signed in with the browser (OAuthSource 1): kept in memory until shortly before
// they expire, then refreshed with the account's refresh token. A refresh comes before expiry (the timing record's
// token_refresh_margin_ms), or when the server refused the token (once per check: the check asks only once).
// A refresh token the provider refuses (revoked, expired) gives one line that says to sign in again, and no
// further request to the provider until the account is signed in anew.

// What to do for a token request; pure.
enum class TokenAction { use_kept, refresh };
TokenAction token_action(bool have_token, std::chrono::system_clock::time_point expires_at,
                         std::chrono::system_clock::time_point now, std::chrono::milliseconds margin, bool renew);

// The source for OAuthSource 1 (a TokenSource, mail/sasl/access_token.h).
int browser_token(int index, bool renew, std::string& token, CheckOutcome& failure);

// Plugs browser_token in as source 1.
void install_browser_token_source();

// Whether the account's refresh token was refused by the provider in this process: kd5lite --check says to sign
// in again.
bool browser_sign_in_refused(int index);

// Forgets every kept token and refusal (tests; a new sign-in).
void forget_browser_tokens();
