// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/oauth/oauth_flow.h"

#include <QByteArray>

#include <chrono>

// A token endpoint's answer (RFC 6749 5.1, 5.2) read into a grant: its HTTP status and its body, at most
// kTokenReplyMax bytes (a longer answer is aborted on the way). Pure, for any bytes.
//
// 200 with a JSON object holding an access_token: granted, with the refresh_token when there is one; its life is
// expires_in seconds, or kAssumedTokenLife when the provider does not say (RFC 6749 5.1 makes it optional), so
// that a missing one does not mean a refresh at every use: a server that refuses the token earlier brings a
// renewal all the same. 400 and 401 are the provider's no (invalid_grant and its kin): refused. A redirect is
// a failure, never followed: a token endpoint has no business sending a refresh token on to another address.
// Anything else fails, to be tried again later. The error text never holds a byte of the body but the error code.

inline constexpr long long kTokenReplyMax = 64 * 1024;
inline constexpr std::chrono::seconds kAssumedTokenLife{3600};

TokenGrant read_token_reply(int http_status, const QByteArray& body, std::chrono::system_clock::time_point now);
