// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/oauth_flow.h"

#include "credentials/token_stop.h"
#include "platform/timing.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"

#include <QCoreApplication>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

// A TCP connection to a loopback port, for requests a browser would not make.
int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// Sends text and waits for the answer's end; the answer's status line, "" when none came.
std::string send_and_read(int port, const std::string& text) {
    const int fd = connect_loopback(port);
    if (fd < 0) {
        return "";
    }
    std::string answer;
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) >= 0) {
        char chunk[1024];
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 10000) == 1) {
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            answer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

// Stands in for the browser: follows the authorization URL to the provider, which signs the user in at once and
// redirects, and follows the redirect to the loopback address the sign-in listens on. On a thread of its own:
// the sign-in's event loop must answer the redirect meanwhile. With forgeries, a local user's requests reach the
// loopback port first.
class Browser {
public:
    explicit Browser(const OAuth2Provider& provider, bool forge = false) : provider_(provider), forge_(forge) {}
    ~Browser() {
        for (int fd : idle_) {
            close(fd);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void open(const QUrl& url) {
        opened_ = url;
        thread_ = std::thread([this, url] {
            if (forge_) {
                forge(QUrl(QUrlQuery(url).queryItemValue("redirect_uri", QUrl::FullyDecoded)).port(),
                      QUrlQuery(url).queryItemValue("state", QUrl::FullyDecoded).toStdString());
            }
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
    std::vector<std::string> forged_answers_; // the status lines the forged requests got
    std::string page_; // what the browser shows once the sign-in heard the redirect
    std::string page_headers_;

private:
    // Connections that never say a word (more than the listener keeps), a request that never ends, an error
    // without the state (a green "已登录" painted into the note, before), another state with a code of the
    // forger's own, and the sign-in's state on another path.
    void forge(int port, const std::string& state) {
        for (int i = 0; i < 12; ++i) {
            idle_.push_back(connect_loopback(port));
        }
        const std::string head = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        for (const std::string& text : {
                 "GET /?" + std::string(20000, 'x'),
                 "GET /?error=%3Cb+style%3D%22color%3Agreen%22%3E%E5%B7%B2%E7%99%BB%E5%BD%95%3C%2Fb%3E" + head,
                 "GET /?error=access_denied&state=guess" + head,
                 "GET /?code=forged&state=" + state.substr(0, state.size() - 1) + head,
                 "GET /favicon.ico?code=forged&state=" + state + head,
             }) {
            forged_answers_.push_back(send_and_read(port, text));
        }
    }

    const OAuth2Provider& provider_;
    bool forge_;
    std::vector<int> idle_;
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

// A sign-in hears only its own answer: requests without its state (errors among them), requests that never end and
// connections that never speak are answered or dropped, and the browser's return still signs in. The state has at
// least 128 bits and is new at each sign-in.
TEST(OAuthFlow, ASignInHearsOnlyItsOwnAnswer) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    std::string states[2];
    for (std::string& state : states) {
        Browser browser(provider, true);
        const TokenGrant grant = sign_in_with_browser(
            endpoints_of(provider), "alice@example.com", [&](const QUrl& url) { browser.open(url); }, kWaitMs);
        ASSERT_EQ(grant.status, TokenGrant::Status::granted) << grant.error;
        EXPECT_FALSE(grant.refresh_token.empty());
        ASSERT_EQ(browser.forged_answers_.size(), 5u);
        // The request without end is cut off unread, which may reset the connection before the answer is read.
        EXPECT_NE(browser.forged_answers_[0], "HTTP/1.1 200 OK");
        for (std::size_t i = 1; i < browser.forged_answers_.size(); ++i) {
            EXPECT_EQ(browser.forged_answers_[i], "HTTP/1.1 400 Bad Request") << i;
        }
        state = QUrlQuery(browser.opened_).queryItemValue("state", QUrl::FullyDecoded).toStdString();
        EXPECT_GE(QByteArray::fromBase64(QByteArray::fromStdString(state), QByteArray::Base64UrlEncoding).size(), 16)
            << state;
    }
    EXPECT_NE(states[0], states[1]);
    EXPECT_EQ(provider.stats()["authorization_code"], 2);
    EXPECT_EQ(provider.stats()["refused"], 0);
}

// A listening socket of the test's own on loopback, to learn whether anything connected to it.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
        listen(fd_, 4);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    int port() const { return port_; }
    bool reached() const {
        const int fd = accept(fd_, nullptr, nullptr);
        if (fd >= 0) {
            close(fd);
        }
        return fd >= 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A token endpoint that misbehaves: a redirect is a failure and nothing reaches its target (the refresh token in
// clear to another address, before); an answer without end is cut at 64 KB (300 MB were taken, before); an answer
// without expires_in lives an hour (it was expired at once: a refresh at every use).
TEST(OAuthFlow, ATokenEndpointThatMisbehavesGetsNothingItShouldNot) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    const OAuth2Provider::Tokens signed_in = provider.issue("alice");
    Listener elsewhere;
    const std::string target = "http://127.0.0.1:" + std::to_string(elsewhere.port()) + "/token";
    struct Row {
        std::string mode;
        TokenGrant::Status status;
        std::string error;
    };
    const Row rows[] = {
        {"fault=redirect&target=" + target, TokenGrant::Status::failed,
         "the token endpoint answered with a redirect (HTTP 307), which is not followed"},
        {"fault=huge", TokenGrant::Status::failed, "the token endpoint's answer is larger than 64 KB"},
        {"fault=no-expiry", TokenGrant::Status::granted, ""},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(provider.set_mode(row.mode));
        const auto now = std::chrono::system_clock::now();
        const TokenGrant grant = refresh_access_token(endpoints_of(provider), signed_in.refresh_token, kWaitMs);
        EXPECT_EQ(grant.status, row.status) << row.mode << ": " << grant.error;
        EXPECT_EQ(grant.error, row.error) << row.mode;
        if (row.status == TokenGrant::Status::granted) {
            EXPECT_GE(grant.expires_at, now + std::chrono::minutes(59)) << row.mode;
            EXPECT_LE(grant.expires_at, now + std::chrono::minutes(61)) << row.mode;
        } else {
            EXPECT_TRUE(grant.access_token.empty()) << row.mode;
        }
    }
    EXPECT_FALSE(elsewhere.reached());
}

// A stop ends a refresh that waits on a token endpoint which trickles its answer (a minute of it): the stop's
// signal at once, a stop asked for elsewhere at the next look.
TEST(OAuthFlow, AStopEndsARefreshAtATricklingEndpoint) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    const OAuth2Provider::Tokens signed_in = provider.issue("alice");
    ASSERT_TRUE(provider.set_mode("fault=trickle"));
    static std::atomic<bool> asked_elsewhere{false};
    for (const bool look : {false, true}) {
        token_stop_clear();
        asked_elsewhere = false;
        set_token_stop_look(look ? +[] { return asked_elsewhere.load(); } : nullptr);
        const long before = provider.stats()["refresh_token"];
        std::thread stopper([&] {
            wait_until([&] { return provider.stats()["refresh_token"] > before; }, kWaitMs);
            look ? asked_elsewhere.store(true) : token_stop_raise();
        });
        const auto start = std::chrono::steady_clock::now();
        const TokenGrant grant = refresh_access_token(endpoints_of(provider), signed_in.refresh_token, 60000);
        const auto took = std::chrono::steady_clock::now() - start;
        stopper.join();
        EXPECT_EQ(grant.status, TokenGrant::Status::cancelled) << look << ": " << grant.error;
        EXPECT_LT(took, std::chrono::seconds(15)) << look;
        EXPECT_TRUE(grant.access_token.empty());
    }
    set_token_stop_look(nullptr);
    token_stop_clear();
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
