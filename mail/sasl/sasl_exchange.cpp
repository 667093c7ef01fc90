// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/sasl_exchange.h"

#include "platform/secret.h"

namespace {

OAuthMechanism oauth_of(SaslMechanism mechanism) {
    switch (mechanism) {
    case SaslMechanism::oauthbearer:
        return OAuthMechanism::oauthbearer;
    case SaslMechanism::xoauth2:
        return OAuthMechanism::xoauth2;
    default:
        return OAuthMechanism::none;
    }
}

// RFC 4616: no authorisation identity, the user name, the password, a NUL before each; base64 into out, whose
// storage is reserved first so that no copy of the password is left behind by a string that grows.
void plain_response(std::string_view user, std::string_view password, std::string& out) {
    std::string message;
    message.reserve(user.size() + password.size() + 2);
    message.append(1, '\0').append(user).append(1, '\0').append(password);
    out.reserve(4 * ((message.size() + 2) / 3));
    base64_append(out, message);
    wipe_secret(message);
}

} // namespace

const char* sasl_mechanism_name(SaslMechanism mechanism) {
    return mechanism == SaslMechanism::plain ? "PLAIN" : oauth_mechanism_name(oauth_of(mechanism));
}

SaslMechanism sasl_oauth_mechanism(bool offers_oauthbearer, bool offers_xoauth2) {
    switch (choose_oauth_mechanism(offers_oauthbearer, offers_xoauth2)) {
    case OAuthMechanism::oauthbearer:
        return SaslMechanism::oauthbearer;
    case OAuthMechanism::xoauth2:
        return SaslMechanism::xoauth2;
    case OAuthMechanism::none:
        break;
    }
    return SaslMechanism::none;
}

SaslExchange::~SaslExchange() {
    wipe_secret(initial_);
}

bool SaslExchange::start(SaslMechanism mechanism, std::string_view user, std::string_view secret) {
    wipe_secret(initial_);
    mechanism_ = SaslMechanism::none;
    state_ = State::unstarted;
    error_ = {};
    if (mechanism == SaslMechanism::plain) {
        plain_response(user, secret, initial_);
    } else if (!oauth_initial_response(oauth_of(mechanism), user, secret, initial_)) {
        return false;
    }
    mechanism_ = mechanism;
    state_ = State::initial_due;
    return true;
}

void SaslExchange::initial_sent_inline() {
    if (state_ == State::initial_due) {
        state_ = State::answer_due;
    }
}

SaslExchange::Reply SaslExchange::challenge(std::string_view text, std::string& answer) {
    wipe_secret(answer);
    const bool oauth = mechanism_ == SaslMechanism::oauthbearer || mechanism_ == SaslMechanism::xoauth2;
    if (state_ == State::initial_due && (text.empty() || !oauth)) {
        answer.reserve(initial_.size() + 2); // room for the caller's line end: the token is not copied again
        answer = initial_;
        state_ = State::answer_due;
        return Reply::respond;
    }
    if (oauth && (state_ == State::initial_due || state_ == State::answer_due)) {
        // RFC 7628 3.2.2: the failure comes as a challenge with the error in JSON; the client's answer lets the
        // server end the exchange with its failure.
        error_ = parse_oauth_error_challenge(text);
        answer = oauth_error_answer(oauth_of(mechanism_));
        state_ = State::error_answered;
        return Reply::respond;
    }
    return Reply::abort;
}
