// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sign_in.h"

#include "settings/refresh_token.h"
#include "settings/settings_access.h"
#include "tests/support/oauth2_provider.h"
#include "tests/support/temp_corvo.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <thread>

namespace {

// The button's story with a test in the browser's place: the provider signs alice in, the redirect comes back to
// the loopback address, and the refresh token lands in the settings file for the notifier. Then the same with
// the provider's page never answering, and with no client id.
TEST(AccountSignIn, SignsInAndKeepsTheRefreshToken) {
    TempCorvo dir;
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    settings_set(Key::ID, "alice@example.com", 1);
    settings_set(Key::Protocol, "1", 1);
    settings_set(Key::OAuthProvider, "custom", 1);
    settings_set(Key::AuthUrl, provider.url("/authorize").c_str(), 1);
    settings_set(Key::TokenUrl, provider.url("/token").c_str(), 1);
    settings_set(Key::Scope, "mail offline_access", 1);
    settings_set(Key::ClientId, "kd5lite-test", 1);

    std::thread browser;
    const SignInResult result = account_sign_in(
        1,
        [&](const QUrl& url) {
            browser = std::thread([&provider, url] {
                std::string headers;
                int status = 0;
                provider.request("GET", (url.path() + "?" + url.query(QUrl::FullyEncoded)).toStdString(), "", &status,
                                 &headers);
                const std::size_t at = headers.find("Location: ");
                if (at != std::string::npos) {
                    OAuth2Provider::get_url(headers.substr(at + 10, headers.find("\r\n", at) - at - 10));
                }
            });
        },
        20000);
    browser.join();
    EXPECT_TRUE(result.signed_in) << result.text;
    EXPECT_EQ(result.text, "已登录 alice@example.com");
    std::string kept;
    ASSERT_EQ(refresh_token_load(1, kept), 0);
    EXPECT_TRUE(kept.starts_with("rt-")) << kept;

    const SignInResult unanswered = account_sign_in(
        1, [](const QUrl&) {}, 300);
    EXPECT_FALSE(unanswered.signed_in);
    EXPECT_EQ(unanswered.text, "未登录: no answer from the provider within the time (the sign-in in the browser)");

    settings_set(Key::OAuthProvider, "microsoft", 1);
    settings_set(Key::ClientId, "", 1);
    const SignInResult no_id = account_sign_in(
        1, [](const QUrl&) { FAIL() << "no browser without a client id"; }, 300);
    EXPECT_FALSE(no_id.signed_in);
    EXPECT_NE(no_id.text.find("no client id"), std::string::npos) << no_id.text;
}

} // namespace
