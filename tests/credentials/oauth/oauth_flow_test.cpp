// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/oauth_flow.h"

#include "tests/support/oauth2_provider.h"

#include <QCoreApplication>
#include <QUrl>
#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kWaitMs = 20000;

OAuthEndpoints endpoints_of(const OAuth2Provider& provider) {
    OAuthEndpoints e;
    e.auth_url = provider.url("/authorize");
    e.token_url = provider.url("/token");
    e.scope = "mail";
    e.client_id = "kd5lite-test";
    return e;
}

// Stands in for the browser: follows the authorization URL to the provider, which signs the user in at once and
// redirects, and follows the redirect to the loopback address the sign-in listens on. On a thread of its own:
// the sign-in's event loop must answer the redirect meanwhile.
class Browser {
public:
    explicit Browser(const OAuth2Provider& provider) : provider_(provider) {}
    ~Browser() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void open(const QUrl& url) {
        opened_ = url;
        thread_ = std::thread([this, url] {
            std::string headers;
            int status = 0;
            const std::string target = (url.path() + "?" + url.query(QUrl::FullyEncoded)).toStdString();
            provider_.request("GET", target, "", &status, &headers);
            const std::size_t at = headers.find("Location: ");
            if (status != 302 || at == std::string::npos) {
                return;
            }
            redirect_ = QUrl(QString::fromStdString(headers.substr(at + 10, headers.find("\r\n", at) - at - 10)));
            OAuth2Provider::get_url(redirect_.toString().toStdString(), &page_, &page_headers_);
        });
    }

    QUrl opened_;
    QUrl redirect_;
    std::string page_; // what the browser shows once the sign-in heard the redirect
    std::string page_headers_;

private:
    const OAuth2Provider& provider_;
    std::thread thread_;
};

// The whole sign-in as the option program's button runs it: catches a missing PKCE challenge or verifier (the
// provider refuses the code without them), a redirect that is not on loopback, and tokens not handed back.
TEST(OAuthFlow, SignInInTheBrowserEndsWithTokens) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    Browser browser(provider);
    const TokenGrant grant = sign_in_with_browser(
        endpoints_of(provider), "alice@example.com", [&](const QUrl& url) { browser.open(url); }, kWaitMs);
    ASSERT_EQ(grant.status, TokenGrant::Status::granted) << grant.error;
    EXPECT_FALSE(grant.access_token.empty());
    EXPECT_FALSE(grant.refresh_token.empty());
    EXPECT_GT(grant.expires_at, std::chrono::system_clock::now());
    const QString query = browser.opened_.query();
    EXPECT_TRUE(query.contains("code_challenge_method=S256")) << query.toStdString();
    EXPECT_TRUE(query.contains("login_hint=alice")) << query.toStdString();
    EXPECT_EQ(browser.redirect_.host(), "127.0.0.1");
    EXPECT_EQ(provider.stats()["authorization_code"], 1);
    EXPECT_EQ(provider.stats()["refused"], 0);
    // The page the browser is left on says in Chinese which account signed in, in UTF-8 the browser is told of.
    EXPECT_NE(browser.page_.find("alice@example.com"), std::string::npos) << browser.page_;
    EXPECT_NE(browser.page_.find("可以关闭此页面"), std::string::npos) << browser.page_;
    EXPECT_EQ(browser.page_.find("Callback received"), std::string::npos) << browser.page_;
    EXPECT_NE(browser.page_.find("charset=\"utf-8\""), std::string::npos) << browser.page_;
}

// The account on the page is the settings file's text: markup in it is shown as text, never run by the browser.
TEST(OAuthFlow, TheBrowsersPageShowsTheAccountAsText) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    Browser browser(provider);
    const TokenGrant grant = sign_in_with_browser(
        endpoints_of(provider), "<script>x</script>&", [&](const QUrl& url) { browser.open(url); }, kWaitMs);
    ASSERT_EQ(grant.status, TokenGrant::Status::granted) << grant.error;
    EXPECT_EQ(browser.page_.find("<script>"), std::string::npos) << browser.page_;
    EXPECT_NE(browser.page_.find("&lt;script&gt;x&lt;/script&gt;&amp;"), std::string::npos) << browser.page_;
}

// Refresh, and a refresh token the provider revoked: catches a revoked token taken for a passing failure (which
// would be tried again at every check) and a refresh that loses the refresh token.
TEST(OAuthFlow, RefreshGivesANewTokenUntilRevoked) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    const OAuth2Provider::Tokens first = provider.issue("alice");
    TokenGrant grant = refresh_access_token(endpoints_of(provider), first.refresh_token, kWaitMs);
    ASSERT_EQ(grant.status, TokenGrant::Status::granted) << grant.error;
    EXPECT_NE(grant.access_token, first.access_token);
    EXPECT_EQ(grant.refresh_token, first.refresh_token);

    ASSERT_TRUE(provider.revoke("alice"));
    grant = refresh_access_token(endpoints_of(provider), first.refresh_token, kWaitMs);
    EXPECT_EQ(grant.status, TokenGrant::Status::refused) << grant.error;
    EXPECT_TRUE(grant.access_token.empty());
    EXPECT_EQ(grant.error.find(first.refresh_token), std::string::npos);

    OAuthEndpoints away = endpoints_of(provider);
    provider.stop();
    grant = refresh_access_token(away, first.refresh_token, kWaitMs);
    EXPECT_EQ(grant.status, TokenGrant::Status::failed) << grant.error; // nobody there: try again later
    away.token_url = "http://id.example.org/token";
    grant = refresh_access_token(away, first.refresh_token, kWaitMs);
    EXPECT_EQ(grant.status, TokenGrant::Status::failed);
    EXPECT_EQ(grant.error, "an OAuth2 endpoint is neither https nor on this machine");
}

TEST(OAuthFlow, PkceChallengeIsTheVerifiersSha256) {
    // RFC 7636 appendix B.
    EXPECT_EQ(pkce_challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const std::string a = pkce_verifier();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_NE(a, pkce_verifier());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
