// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth_redirect.h"

#include <gtest/gtest.h>

namespace {

using Kind = RedirectRequest::Kind;

constexpr char kState[] = "Zq3-Hv_8k2sWm0aPq7LtXcRb5eYdNf1gJoUiK4hE9Tw";

std::string get(const std::string& target, const std::string& end = "\r\n\r\n") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:40123\r\nAccept: text/html" + end;
}

// Only the browser's return with this sign-in's state counts, errors included: catches a forged error that ends a
// sign-in (and puts its words on the tab), a code taken without the state, a parameter given twice, and a request
// read without end.
TEST(OAuthRedirect, OnlyTheAnswerWithThisSignInsStateCounts) {
    const std::string state = kState;
    struct Row {
        std::string received;
        Kind kind;
        std::string code_or_error;
    };
    const Row rows[] = {
        {get("/?code=4%2F0AbC+d-e&state=" + state), Kind::code, "4/0AbC d-e"},
        {get("/?state=" + state + "&code=abc&scope=mail"), Kind::code, "abc"},
        {get("/?code=abc&state=" + state, "\n\n"), Kind::code, "abc"},
        {get("/?error=access_denied&state=" + state), Kind::error, "access_denied"},
        {get("/?error=" + std::string(100, 'e') + "&state=" + state), Kind::error, std::string(64, 'e')},
        {get("/?error=access_denied"), Kind::ignored, ""},
        {get("/?error=%E5%B7%B2%E7%99%BB%E5%BD%95&state=wrong"), Kind::ignored, ""},
        {get("/?error=%3Cb%3E%0D%0A&state=" + state), Kind::ignored, ""}, // no control byte in an error code
        {get("/?code=abc"), Kind::ignored, ""},
        {get("/?code=abc&state="), Kind::ignored, ""},
        {get("/?code=abc&state=" + state.substr(1)), Kind::ignored, ""},
        {get("/?code=abc&state=" + state + "&state=" + state), Kind::ignored, ""},
        {get("/?code=abc&code=def&state=" + state), Kind::ignored, ""},
        {get("/?state=" + state), Kind::ignored, ""},
        {get("/?code=a%G1&state=" + state), Kind::ignored, ""},
        {get("/favicon.ico"), Kind::ignored, ""},
        {get("/callback?code=abc&state=" + state), Kind::ignored, ""},
        {"POST /?code=abc&state=" + state + " HTTP/1.1\r\n\r\n", Kind::ignored, ""},
        {"GET /?code=abc&state=" + state + "\r\n\r\n", Kind::ignored, ""},
        {get("/?code=abc&state=" + state, "\r\n"), Kind::incomplete, ""},
        {"GET /?code=abc", Kind::incomplete, ""},
        {"", Kind::incomplete, ""},
        {get("/?code=abc&state=" + state + "&pad=" + std::string(kRedirectRequestMax, 'p')), Kind::ignored, ""},
        {"GET /?" + std::string(kRedirectRequestMax, 'p'), Kind::ignored, ""},
    };
    for (const Row& row : rows) {
        const RedirectRequest r = read_redirect_request(row.received, state);
        EXPECT_EQ(r.kind, row.kind) << row.received.substr(0, 120);
        EXPECT_EQ(r.kind == Kind::error ? r.error : r.code, row.code_or_error) << row.received.substr(0, 120);
    }
    EXPECT_EQ(read_redirect_request(get("/?code=abc&state="), "").kind, Kind::ignored); // no state, no answer
}

TEST(OAuthRedirect, FormDecodingTakesPlusForSpaceAndRefusesBrokenEscapes) {
    struct Row {
        std::string text;
        bool ok;
        std::string decoded;
    };
    const Row rows[] = {
        {"", true, ""},    {"a+b", true, "a b"}, {"%41%2b%2F", true, "A+/"},
        {"%4", false, ""}, {"%zz", false, ""},   {"100%", false, ""},
    };
    for (const Row& row : rows) {
        std::string out;
        EXPECT_EQ(form_decode(row.text, out), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(out, row.decoded) << row.text;
        }
    }
}

} // namespace
