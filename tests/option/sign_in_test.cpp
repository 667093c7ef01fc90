// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sign_in.h"

#include "settings/refresh_token.h"
#include "settings/settings_access.h"
#include "tests/support/keyring_session.h"
#include "tests/support/oauth2_provider.h"
#include "tests/support/temp_corvo.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

// The provider's page as a browser follows it: the authorization URL, then the redirect to the loopback address.
std::function<void(const QUrl&)> test_browser(OAuth2Provider& provider, std::thread& browser) {
    return [&provider, &browser](const QUrl& url) {
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
    };
}

// The button's story with a test in the browser's place: the provider signs alice in, the redirect comes back to
// the loopback address, and the refresh token lands in the desktop keyring for the notifier, the file keeping
// none. Then the same without a keyring (the file keeps it, and the result says so), with the provider's page
// never answering, and with no client id.
TEST(AccountSignIn, SignsInAndKeepsTheRefreshToken) {
    TempCorvo dir;
    KeyringSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.error();
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    settings_put(Key::ServerName, "127.0.0.1", 1); // the account as the setup program saved it
    settings_put(Key::ID, "alice@example.com", 1);
    settings_put(Key::Protocol, "1", 1);
    settings_set(Key::OAuthProvider, "custom", 1);
    settings_set(Key::AuthUrl, provider.url("/authorize").c_str(), 1);
    settings_set(Key::TokenUrl, provider.url("/token").c_str(), 1);
    settings_set(Key::Scope, "mail offline_access", 1);
    settings_set(Key::ClientId, "kd5lite-test", 1);

    std::thread browser;
    const SignInResult result = account_sign_in(1, test_browser(provider, browser), 20000);
    browser.join();
    EXPECT_TRUE(result.signed_in) << result.text;
    EXPECT_EQ(result.text, "已登录 alice@example.com");
    EXPECT_FALSE(result.kept_in_file);
    std::string kept;
    TokenRead read;
    ASSERT_EQ(refresh_token_load(1, kept, SecretUnlock::never, 20000, &read), 0);
    EXPECT_EQ(read.place, TokenPlace::keyring);
    EXPECT_TRUE(kept.starts_with("rt-")) << kept;
    EXPECT_EQ(dir.read("corvo_kd5lite.ini").find(kept), std::string::npos);
    ASSERT_EQ(keyring.items().size(), 1u);
    EXPECT_EQ(keyring.items()[0].attributes.at("kind"), "refresh-token");

    {
        KeyringSession headless(KeyringSession::Desktop::no_bus);
        ASSERT_TRUE(headless.start()) << headless.error();
        settings_put(Key::SecretStore, "", 1);
        const SignInResult in_file = account_sign_in(1, test_browser(provider, browser), 20000);
        browser.join();
        EXPECT_TRUE(in_file.signed_in) << in_file.text;
        EXPECT_TRUE(in_file.kept_in_file);
        EXPECT_EQ(in_file.text, "已登录 alice@example.com");
        EXPECT_EQ(in_file.keyring, SecretResult::no_service);
        ASSERT_EQ(refresh_token_load(1, kept, SecretUnlock::never, 20000, &read), 0);
        EXPECT_EQ(read.place, TokenPlace::file);
    }

    const SignInResult unanswered = account_sign_in(
        1, [](const QUrl&) {}, 300);
    EXPECT_FALSE(unanswered.signed_in);
    EXPECT_EQ(unanswered.text, "未登录: no answer from the provider within the time (the sign-in in the browser)");

    settings_set(Key::OAuthProvider, "microsoft", 1);
    settings_set(Key::ClientId, "", 1);
    const SignInResult no_id = account_sign_in(
        1, [](const QUrl&) { FAIL() << "no browser without a client id"; }, 300);
    EXPECT_FALSE(no_id.signed_in);
    EXPECT_EQ(no_id.text, "未登录: 没有客户端ID");
    EXPECT_EQ(no_id.advice, no_client_id_advice("microsoft"));
}

} // namespace
