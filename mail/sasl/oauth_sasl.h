// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// The two SASL mechanisms that carry an OAuth2 bearer token to a mail server: OAUTHBEARER (RFC 7628) and Google's
// older XOAUTH2, which Microsoft takes as well. Pure: the IMAP and POP3 logins, the table tests and the fuzzer all
// use these the same way. Whatever holds a token here is wiped before it is let go.
enum class OAuthMechanism { none, oauthbearer, xoauth2 };

const char* oauth_mechanism_name(OAuthMechanism mechanism); // "OAUTHBEARER", "XOAUTH2", ""

// OAUTHBEARER where the server offers it, else XOAUTH2, else none.
OAuthMechanism choose_oauth_mechanism(bool offers_oauthbearer, bool offers_xoauth2);

// Whether a token can go into the message as it is: the b64token form of RFC 6750 2.1, at most 8 KB. A token
// command's or provider's output with a space, a control byte or a line break in it is refused before it reaches
// a server.
bool oauth_token_usable(std::string_view token);

// The client's first message, base64-encoded into out (which is wiped first): for OAUTHBEARER the GS2 header with
// the user as authorisation identity ("=" and "," escaped) and the auth=Bearer pair, for XOAUTH2 the user= and
// auth= pairs, each ended with ^A and the whole with ^A^A. False, with out empty, when the token is unusable or the
// user holds a control byte.
bool oauth_initial_response(OAuthMechanism mechanism, std::string_view user, std::string_view token, std::string& out);

// The response a client gives to the server's error challenge so that the server can end the exchange with its
// failure: ^A for OAUTHBEARER (RFC 7628 3.2.3), empty for XOAUTH2; base64-encoded (RFC 4954 / 5034 form).
std::string oauth_error_answer(OAuthMechanism mechanism);

// What a server's error challenge says (RFC 7628 3.2.2): the base64 text of a JSON object with "status", and
// perhaps "scope" and "schemes". The texts kept are cut to what may go into a log line: letters, digits and
// -._:/ only, at most 64 bytes each.
struct OAuthErrorChallenge {
    bool valid = false; // base64 of a JSON object
    std::string status; // e.g. "invalid_token", "400", "401"
    std::string scope;
};
OAuthErrorChallenge parse_oauth_error_challenge(std::string_view base64_text);

// Base64 (RFC 4648, with padding). The decoder is strict: other characters, padding anywhere but the end, or bits
// set beyond the last byte (RFC 4648 3.5) fail.
void base64_append(std::string& out, std::string_view bytes);
bool base64_decode(std::string_view text, std::string& out);
