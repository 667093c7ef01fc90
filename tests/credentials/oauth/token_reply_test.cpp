// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/token_reply.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Status = TokenGrant::Status;

// A token endpoint's answers as providers give them and as they break: catches a missing expires_in taken for an
// expired token (a refresh at every use), a redirect or an HTTP error taken for tokens, a refusal taken for a
// passing failure, and a broken answer whose bytes (tokens among them) reach the error text.
TEST(TokenReply, EachAnswerHasItsGrant) {
    const auto now = std::chrono::system_clock::now();
    struct Row {
        int http;
        QByteArray body;
        Status status;
        std::string access_token;
        std::string refresh_token;
        std::chrono::seconds life;
        std::string error;
    };
    const Row rows[] = {
        {200, R"({"access_token":"at-1","refresh_token":"rt-1","expires_in":120,"token_type":"Bearer"})",
         Status::granted, "at-1", "rt-1", 120s, ""},
        {200, R"({"access_token":"at-1","token_type":"Bearer"})", Status::granted, "at-1", "", 3600s, ""},
        {200, R"({"access_token":"at-1","expires_in":"300"})", Status::granted, "at-1", "", 300s, ""},
        {200, R"({"access_token":"at-1","expires_in":0})", Status::granted, "at-1", "", 3600s, ""},
        {200, R"({"access_token":"at-1","expires_in":-5})", Status::granted, "at-1", "", 3600s, ""},
        {200, R"({"access_token":"at-1","expires_in":1e300})", Status::granted, "at-1", "", 366 * 24 * 3600s, ""},
        {200, R"({"refresh_token":"rt-secret"})", Status::failed, "", "", 0s,
         "the provider's answer held no access token"},
        {200, R"({"access_token":42})", Status::failed, "", "", 0s, "the provider's answer held no access token"},
        {200, "access_token=at-secret&expires_in=3600", Status::failed, "", "", 0s,
         "the provider's answer held no access token"},
        {200, R"(["at-secret"])", Status::failed, "", "", 0s, "the provider's answer held no access token"},
        {400, R"({"error":"invalid_grant","error_description":"Token has been expired or revoked."})", Status::refused,
         "", "", 0s, "the provider answered invalid_grant"},
        {400, "{\"error\":\"bad\\u0007\\u202e\"}", Status::refused, "", "", 0s, "the provider answered bad??"},
        {401, "", Status::refused, "", "", 0s, "the token endpoint answered HTTP 401"},
        {307, R"({"access_token":"at-secret"})", Status::failed, "", "", 0s,
         "the token endpoint answered with a redirect (HTTP 307), which is not followed"},
        {302, "", Status::failed, "", "", 0s,
         "the token endpoint answered with a redirect (HTTP 302), which is not followed"},
        {500, R"({"access_token":"at-secret"})", Status::failed, "", "", 0s, "the token endpoint answered HTTP 500"},
    };
    for (const Row& row : rows) {
        const TokenGrant grant = read_token_reply(row.http, row.body, now);
        EXPECT_EQ(grant.status, row.status) << row.body.toStdString();
        EXPECT_EQ(grant.access_token, row.access_token) << row.body.toStdString();
        EXPECT_EQ(grant.refresh_token, row.refresh_token) << row.body.toStdString();
        EXPECT_EQ(grant.error, row.error) << row.body.toStdString();
        EXPECT_EQ(grant.error.find("secret"), std::string::npos);
        if (row.status == Status::granted) {
            EXPECT_EQ(grant.expires_at, now + row.life) << row.body.toStdString();
        }
    }
}

} // namespace
