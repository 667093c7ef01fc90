// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/oauth_sasl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string decoded(const std::string& text) {
    std::string out;
    EXPECT_TRUE(base64_decode(text, out)) << text;
    return out;
}

std::string encoded(const std::string& bytes) {
    std::string out;
    base64_append(out, bytes);
    return out;
}

// The messages byte for byte: a wrong separator or a missing ^A and every server refuses the login.
TEST(OAuthSasl, InitialResponsesAreTheMechanismsMessages) {
    struct Row {
        OAuthMechanism mechanism;
        std::string user;
        std::string token;
        std::string message;
    };
    const Row rows[] = {
        {OAuthMechanism::oauthbearer, "alice@example.com", "ya29.a0Af-_~+/x==",
         "n,a=alice@example.com,\x01"
         "auth=Bearer ya29.a0Af-_~+/x==\x01\x01"},
        // RFC 7628 3.1: "," and "=" in the authorisation identity are escaped.
        {OAuthMechanism::oauthbearer, "a,b=c", "t",
         "n,a=a=2Cb=3Dc,\x01"
         "auth=Bearer t\x01\x01"},
        {OAuthMechanism::xoauth2, "someone@example.com", "EwBAA1",
         "user=someone@example.com\x01"
         "auth=Bearer EwBAA1\x01\x01"},
    };
    for (const Row& row : rows) {
        std::string out = "left over";
        ASSERT_TRUE(oauth_initial_response(row.mechanism, row.user, row.token, out)) << row.user;
        EXPECT_EQ(decoded(out), row.message) << row.user;
    }
}

// A token or user that would break the message or the command line is refused before anything goes out.
TEST(OAuthSasl, UnusableTokensAndUsersAreRefused) {
    const std::string refused_tokens[] = {"",
                                          "two words",
                                          "line\r\nA1 LOGOUT",
                                          "tab\t",
                                          "=leading",
                                          "mid=dle",
                                          "ctl\x01",
                                          std::string("nul\0x", 5),
                                          std::string(8193, 'a'),
                                          "\xc3\xa9"};
    for (const std::string& token : refused_tokens) {
        std::string out;
        EXPECT_FALSE(oauth_token_usable(token)) << token;
        EXPECT_FALSE(oauth_initial_response(OAuthMechanism::xoauth2, "alice", token, out)) << token;
        EXPECT_TRUE(out.empty());
    }
    EXPECT_TRUE(oauth_token_usable(std::string(8192, 'a')));
    std::string out;
    EXPECT_FALSE(oauth_initial_response(OAuthMechanism::oauthbearer, "al\x01ice", "tok", out));
    EXPECT_FALSE(oauth_initial_response(OAuthMechanism::oauthbearer, "al\nice", "tok", out));
    EXPECT_FALSE(oauth_initial_response(OAuthMechanism::none, "alice", "tok", out));
}

TEST(OAuthSasl, OauthbearerIsPreferredAndTheErrorAnswerFollowsTheMechanism) {
    EXPECT_EQ(choose_oauth_mechanism(true, true), OAuthMechanism::oauthbearer);
    EXPECT_EQ(choose_oauth_mechanism(true, false), OAuthMechanism::oauthbearer);
    EXPECT_EQ(choose_oauth_mechanism(false, true), OAuthMechanism::xoauth2);
    EXPECT_EQ(choose_oauth_mechanism(false, false), OAuthMechanism::none);
    EXPECT_EQ(decoded(oauth_error_answer(OAuthMechanism::oauthbearer)), "\x01"); // RFC 7628 3.2.3
    EXPECT_EQ(oauth_error_answer(OAuthMechanism::xoauth2), "");
    EXPECT_STREQ(oauth_mechanism_name(OAuthMechanism::xoauth2), "XOAUTH2");
}

// The server's error challenge: what Gmail, Outlook and Dovecot send, and what no server should send.
TEST(OAuthSasl, ErrorChallengesAreReadForTheLogLine) {
    struct Row {
        std::string json; // base64-encoded by the test unless raw is set
        bool valid;
        std::string status;
        std::string scope;
    };
    const Row rows[] = {
        {R"({"status":"400","schemes":"Bearer","scope":"https://mail.google.com/"})", true, "400",
         "https://mail.google.com/"},
        {R"({"status":"invalid_token","scheme":"bearer","scope":"mail"})", true, "invalid_token", "mail"},
        {R"( { "scope" : "x" , "status" : "401" , "n": 12, "nested": {"a": [1, {"b": "}"}]} } )", true, "401", "x"},
        {R"({})", true, "", ""},
        // Escapes and bytes that could break or forge a log line are masked; long texts are cut.
        {"{\"status\":\"bad\\\"\\n\\u0000\r\nErr\"}", true, "bad?nu0000??Err", ""},
        {"{\"status\":\"" + std::string(100, 'x') + "\"}", true, std::string(64, 'x'), ""},
        {R"({"status":"401")", false, "", ""},
        {R"({"status":401})", true, "", ""},
        {R"(["status","401"])", false, "", ""},
        {R"({"status":"401"} trailing)", false, "", ""},
        {R"({"status" "401"})", false, "", ""},
        {R"({"a":[})", false, "", ""},
        {"", false, "", ""},
    };
    for (const Row& row : rows) {
        const OAuthErrorChallenge c = parse_oauth_error_challenge(encoded(row.json));
        EXPECT_EQ(c.valid, row.valid) << row.json;
        EXPECT_EQ(c.status, row.status) << row.json;
        EXPECT_EQ(c.scope, row.scope) << row.json;
    }
    EXPECT_FALSE(parse_oauth_error_challenge("not base64!").valid);
    EXPECT_FALSE(parse_oauth_error_challenge("e30").valid); // "{}" without its padding
}

TEST(OAuthSasl, Base64RoundTripsAndIsStrict) {
    const std::string samples[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar", std::string("\0\xff\x01", 3)};
    const std::string forms[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy", "AP8B"};
    for (std::size_t i = 0; i < std::size(samples); ++i) {
        EXPECT_EQ(encoded(samples[i]), forms[i]);
        EXPECT_EQ(decoded(forms[i]), samples[i]);
    }
    std::string out;
    for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zg==Zg==", "Zm9v\r\n", "Zm 9", "Zm9-", "Zh==", "Zm9=", "fY=="}) {
        EXPECT_FALSE(base64_decode(bad, out)) << bad;
    }
}

} // namespace
