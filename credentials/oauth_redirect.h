// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The browser's return to the sign-in's loopback address (RFC 8252 7.3, RFC 6749 4.1.2): one HTTP request whose
// query carries the code and the state, or an error and the state. Anyone on this machine can send a request to
// that port, so only one that carries this sign-in's state counts (RFC 6749 10.12); every other is ignored, errors
// included, and can neither end the sign-in nor put its words on the screen.

// A request line and headers longer than this are no browser's: the connection is answered and closed.
inline constexpr std::size_t kRedirectRequestMax = 8192;

struct RedirectRequest {
    enum class Kind {
        incomplete, // the request's head has not all come yet
        ignored,    // not this sign-in's answer: another method or path, no state or another, a broken query, too long
        code,       // the provider's code
        error,      // the provider's refusal (RFC 6749 4.1.2.1)
    };
    Kind kind = Kind::incomplete;
    std::string code;
    std::string error; // the error code, printable ASCII of at most kRedirectErrorMax bytes
};

inline constexpr std::size_t kRedirectErrorMax = 64;

// Reads what came so far on one connection, for a sign-in that sent state and redirect_uri "http://127.0.0.1:P/";
// pure.
RedirectRequest read_redirect_request(std::string_view received, std::string_view state);

// One component of a query as HTML forms encode it: %XX a byte, '+' a space. False for a broken %-escape; pure.
bool form_decode(std::string_view text, std::string& out);
