// SPDX-License-Identifier: GPL-3.0-or-later
// The SASL texts that come from outside: the server's error challenge (base64 of JSON), a token from a token command
// or a provider going into the client's message, and a server's run of challenges through the login's exchange.
// Input: the first byte chooses which.

#include "fuzz/fuzz_check.h"
#include "mail/sasl/oauth_sasl.h"
#include "mail/sasl/sasl_exchange.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Challenges one per line: the client answers at most the request for its initial response and one error
// challenge, each answer fits one line, and once it has given up it never answers again.
void drive_exchange(std::uint8_t choice, std::string_view challenges) {
    const SaslMechanism mechanisms[] = {SaslMechanism::plain, SaslMechanism::oauthbearer, SaslMechanism::xoauth2};
    SaslExchange sasl;
    FUZZ_CHECK(sasl.start(mechanisms[choice / 3 % 3], "alice", "at-1"));
    if (choice / 9 % 2 == 1) {
        sasl.initial_sent_inline();
    }
    int answers = 0;
    bool aborted = false;
    while (!challenges.empty()) {
        const std::size_t end = challenges.find('\n');
        std::string answer;
        const SaslExchange::Reply reply = sasl.challenge(challenges.substr(0, end), answer);
        FUZZ_CHECK(!aborted || reply == SaslExchange::Reply::abort);
        aborted = reply == SaslExchange::Reply::abort;
        answers += aborted ? 0 : 1;
        FUZZ_CHECK(answer.find_first_of("\r\n") == std::string::npos);
        challenges = end == std::string_view::npos ? std::string_view() : challenges.substr(end + 1);
    }
    FUZZ_CHECK(answers <= 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 3 == 2) {
        drive_exchange(data[0], rest);
        return 0;
    }
    if (data[0] % 3 == 0) {
        const OAuthErrorChallenge c = parse_oauth_error_challenge(rest);
        FUZZ_CHECK(c.status.size() <= 64 && c.scope.size() <= 64);
        for (char ch : c.status + c.scope) {
            FUZZ_CHECK(ch > 0x20 && ch < 0x7f); // nothing that breaks or forges a log line
        }
        std::string decoded;
        if (base64_decode(rest, decoded)) {
            std::string again;
            base64_append(again, decoded);
            FUZZ_CHECK(again == rest);
        }
        return 0;
    }
    const std::size_t split = rest.find('\n');
    const std::string_view user = rest.substr(0, split);
    const std::string_view token = split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
    for (OAuthMechanism m : {OAuthMechanism::oauthbearer, OAuthMechanism::xoauth2}) {
        std::string out;
        const bool made = oauth_initial_response(m, user, token, out);
        FUZZ_CHECK(made != out.empty());
        if (made) {
            FUZZ_CHECK(out.find_first_of("\r\n ") == std::string::npos); // one command-line argument
            std::string message;
            FUZZ_CHECK(base64_decode(out, message));
            FUZZ_CHECK(message.ends_with("\x01\x01"));
            FUZZ_CHECK(message.find(std::string("auth=Bearer ").append(token)) != std::string::npos);
        }
    }
    return 0;
}
