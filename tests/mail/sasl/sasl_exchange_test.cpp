// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/sasl_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string encoded(const std::string& bytes) {
    std::string out;
    base64_append(out, bytes);
    return out;
}

const std::string kPlain = encoded(std::string("\0alice\0secret", 13));
const std::string kBearer = encoded("n,a=alice,\x01"
                                    "auth=Bearer at-1\x01\x01");
const std::string kXoauth2 = encoded("user=alice\x01"
                                     "auth=Bearer at-1\x01\x01");
const std::string kError = encoded(R"({"status":"invalid_token","scope":"mail"})");
constexpr char kAbort[] = "(abort)";

// Every challenge a server may send, and what the client answers: the initial response to the first empty one,
// the mechanism's answer to an OAuth2 error challenge, and nothing after that. Catches an initial response sent
// twice, an error challenge taken for a request of the token, and a client that keeps answering a server that
// never ends the exchange.
TEST(SaslExchange, AnswersEachChallengeAsItsMechanismSays) {
    struct Row {
        const char* name;
        SaslMechanism mechanism;
        const char* secret;
        bool inline_initial;
        std::vector<std::string> challenges;
        std::vector<std::string> answers; // kAbort for a challenge given up
        SaslExchange::State end;
        std::string status; // what the error challenge said
    };
    using State = SaslExchange::State;
    const Row rows[] = {
        {"plain after +", SaslMechanism::plain, "secret", false, {""}, {kPlain}, State::answer_due, ""},
        {"plain takes any first challenge",
         SaslMechanism::plain,
         "secret",
         false,
         {"x"},
         {kPlain},
         State::answer_due,
         ""},
        {"plain inline, then a challenge", SaslMechanism::plain, "secret", true, {""}, {kAbort}, State::answer_due, ""},
        {"plain asked twice", SaslMechanism::plain, "secret", false, {"", ""}, {kPlain, kAbort}, State::answer_due, ""},
        {"bearer after +", SaslMechanism::oauthbearer, "at-1", false, {""}, {kBearer}, State::answer_due, ""},
        {"bearer refused",
         SaslMechanism::oauthbearer,
         "at-1",
         false,
         {"", kError},
         {kBearer, "AQ=="},
         State::error_answered,
         "invalid_token"},
        {"bearer inline refused",
         SaslMechanism::oauthbearer,
         "at-1",
         true,
         {kError},
         {"AQ=="},
         State::error_answered,
         "invalid_token"},
        {"error instead of the +",
         SaslMechanism::oauthbearer,
         "at-1",
         false,
         {kError},
         {"AQ=="},
         State::error_answered,
         "invalid_token"},
        {"endless challenges",
         SaslMechanism::oauthbearer,
         "at-1",
         true,
         {kError, kError, ""},
         {"AQ==", kAbort, kAbort},
         State::error_answered,
         "invalid_token"},
        {"xoauth2 refused",
         SaslMechanism::xoauth2,
         "at-1",
         false,
         {"", kError},
         {kXoauth2, ""},
         State::error_answered,
         "invalid_token"},
        {"xoauth2 error not json", SaslMechanism::xoauth2, "at-1", true, {"bm9wZQ=="}, {""}, State::error_answered, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SaslExchange sasl;
        ASSERT_TRUE(sasl.start(row.mechanism, "alice", row.secret));
        EXPECT_EQ(sasl.initial(), row.mechanism == SaslMechanism::plain     ? kPlain
                                  : row.mechanism == SaslMechanism::xoauth2 ? kXoauth2
                                                                            : kBearer);
        if (row.inline_initial) {
            sasl.initial_sent_inline();
        }
        ASSERT_EQ(row.challenges.size(), row.answers.size());
        for (std::size_t i = 0; i < row.challenges.size(); ++i) {
            std::string answer = "left over";
            const SaslExchange::Reply reply = sasl.challenge(row.challenges[i], answer);
            EXPECT_EQ(reply == SaslExchange::Reply::abort ? kAbort : answer, row.answers[i]) << i;
        }
        EXPECT_EQ(sasl.state(), row.end);
        EXPECT_EQ(sasl.error().status, row.status);
    }
}

// Nothing that would break the message starts an exchange; a started one can be started anew for another try.
TEST(SaslExchange, StartsOnlyWithAMessageItCanSend) {
    SaslExchange sasl;
    EXPECT_FALSE(sasl.start(SaslMechanism::none, "alice", "secret"));
    EXPECT_FALSE(sasl.start(SaslMechanism::oauthbearer, "alice", "two words"));
    EXPECT_FALSE(sasl.start(SaslMechanism::xoauth2, "al\nice", "at-1"));
    EXPECT_EQ(sasl.state(), SaslExchange::State::unstarted);
    std::string answer;
    EXPECT_EQ(sasl.challenge("", answer), SaslExchange::Reply::abort);

    ASSERT_TRUE(sasl.start(SaslMechanism::oauthbearer, "alice", "at-1"));
    sasl.initial_sent_inline();
    EXPECT_EQ(sasl.challenge(kError, answer), SaslExchange::Reply::respond);
    ASSERT_TRUE(sasl.start(SaslMechanism::oauthbearer, "alice", "at-1"));
    EXPECT_EQ(sasl.state(), SaslExchange::State::initial_due);
    EXPECT_TRUE(sasl.error().status.empty());

    EXPECT_EQ(sasl_oauth_mechanism(true, true), SaslMechanism::oauthbearer);
    EXPECT_EQ(sasl_oauth_mechanism(false, true), SaslMechanism::xoauth2);
    EXPECT_EQ(sasl_oauth_mechanism(false, false), SaslMechanism::none);
}

} // namespace
