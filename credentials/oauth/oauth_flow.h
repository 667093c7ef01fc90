// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/mail_providers.h"

#include <chrono>
#include <functional>
#include <string>

class QUrl;

// The two OAuth2 exchanges with a provider, over Qt's network access: the sign-in in the browser (authorization
// code with PKCE and a loopback redirect, RFC 6749 4.1, RFC 7636 and RFC 8252) and the refresh of an access token
// (RFC 6749 6). Both block the calling thread in a local event loop, at most timeout_ms, and a stop (token_stop.h)
// ends them at once. Token endpoints must pass oauth_url_allowed (https, or http on loopback only); their answers
// are read by read_token_reply (token_reply.h): no redirect is followed and no answer is taken past 64 KB.
struct TokenGrant {
    enum class Status {
        granted,
        refused,   // the provider said no: a refresh token revoked or expired, a code refused; sign in again
        failed,    // no answer, a network or TLS failure, a broken answer: worth another try later
        cancelled, // a stop came first
    };
    Status status = Status::failed;
    std::string access_token;
    std::string refresh_token; // a refresh may bring none: the old one then stays valid
    std::chrono::system_clock::time_point expires_at{};
    std::string error; // for the error line; never holds a token
};

// Opens the browser at the provider's authorization page (open_browser: QDesktopServices in the programs, a test
// in its stead), waits on 127.0.0.1 at a free port for the redirect with the code (LoopbackListener: only one that
// carries this sign-in's state counts), and trades the code for the tokens. login_hint (the account's address)
// preselects the account on the provider's page.
TokenGrant sign_in_with_browser(const OAuthEndpoints& endpoints, const std::string& login_hint,
                                const std::function<void(const QUrl&)>& open_browser, int timeout_ms);

// A new access token for the refresh token.
TokenGrant refresh_access_token(const OAuthEndpoints& endpoints, const std::string& refresh_token, int timeout_ms);

// PKCE (RFC 7636 4.1, 4.2): a verifier of 64 unreserved characters, and its S256 challenge.
std::string pkce_verifier();
std::string pkce_challenge(const std::string& verifier);

// A sign-in's state: 256 bits from the system's generator, base64url without padding (43 characters).
std::string oauth_state();
