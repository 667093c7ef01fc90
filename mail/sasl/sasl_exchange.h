// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/sasl/oauth_sasl.h"

#include <string>
#include <string_view>

// One SASL authentication of a client (RFC 4422) as IMAP's AUTHENTICATE (RFC 3501 6.2.2) and POP3's AUTH (RFC 5034)
// carry it: the mechanism, the client's initial response, and what answers each challenge of the server. Pure: each
// protocol drives it from its own framing (its command line, its "+ " challenge lines, its final answer) and sends
// what it says, so that both logins follow the same rules and a table test and the fuzzer can drive it alone.
// Whatever holds the secret is wiped when it goes.

enum class SaslMechanism { none, plain, oauthbearer, xoauth2 };

// "PLAIN", "OAUTHBEARER", "XOAUTH2", "".
const char* sasl_mechanism_name(SaslMechanism mechanism);

// The OAuth2 mechanism a server offering these takes: OAUTHBEARER first, else XOAUTH2, else none.
SaslMechanism sasl_oauth_mechanism(bool offers_oauthbearer, bool offers_xoauth2);

class SaslExchange {
public:
    enum class State {
        unstarted,
        initial_due,    // the initial response waits for the server's empty challenge
        answer_due,     // all the client had to say is said: the server's outcome (or its error challenge) is due
        error_answered, // the error challenge is answered: only the server's failure may come now (RFC 7628 3.2.3)
    };

    // What the client makes of a challenge.
    enum class Reply {
        respond, // send the answer given
        abort,   // a challenge the mechanism has no answer to: the server broke the exchange
    };

    SaslExchange() = default;
    ~SaslExchange();
    SaslExchange(const SaslExchange&) = delete;
    SaslExchange& operator=(const SaslExchange&) = delete;

    // Makes the initial response of the mechanism for user with secret (the password for PLAIN, RFC 4616, without
    // an authorisation identity; the bearer token for the OAuth2 mechanisms). False, the exchange unstarted, when
    // it cannot be made (none, or a token or user that would break the message: oauth_initial_response).
    bool start(SaslMechanism mechanism, std::string_view user, std::string_view secret);

    SaslMechanism mechanism() const { return mechanism_; }
    State state() const { return state_; }
    // The base64 initial response, for the command line (SASL-IR, RFC 4959; or POP3's AUTH when it fits).
    const std::string& initial() const { return initial_; }
    // The initial response went with the command: the next challenge is no request for it.
    void initial_sent_inline();

    // The server's challenge, its base64 text after "+ " (empty for a bare "+"): answer gets what to send back,
    // without a line end. The first empty challenge asks for the initial response (PLAIN takes any first challenge
    // for that, as RFC 4616 servers send an empty one); an OAuth2 challenge after it is the server's error, answered
    // as the mechanism says so that the server can end with its failure; anything more is a broken server.
    Reply challenge(std::string_view text, std::string& answer);

    // What the server's error challenge said (valid only once one came).
    const OAuthErrorChallenge& error() const { return error_; }

private:
    SaslMechanism mechanism_ = SaslMechanism::none;
    State state_ = State::unstarted;
    std::string initial_;
    OAuthErrorChallenge error_;
};
