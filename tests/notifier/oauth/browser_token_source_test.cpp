// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/oauth/browser_token_source.h"

#include "credentials/token_stop.h"
#include "mail/account_settings.h"
#include "mail/mail_check.h"
#include "mail/sasl/access_token.h"
#include "platform/timing.h"
#include "settings/refresh_token.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/keyring_session.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"
#include "tools/pop3server/pop3_message.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using SystemClock = std::chrono::system_clock;

TEST(TokenAction, RefreshBeforeExpiryOrWhenRefused) {
    const SystemClock::time_point now = SystemClock::now();
    struct Row {
        bool have;
        std::chrono::seconds left;
        bool renew;
        TokenAction action;
    };
    const Row rows[] = {
        {false, 3600s, false, TokenAction::refresh}, {true, 3600s, false, TokenAction::use_kept},
        {true, 61s, false, TokenAction::use_kept},   {true, 60s, false, TokenAction::refresh},
        {true, -5s, false, TokenAction::refresh},    {true, 3600s, true, TokenAction::refresh},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(token_action(row.have, now + row.left, now, 60s, row.renew), row.action) << row.left.count();
    }
}

// Account 0 signed in with the browser at the test provider, its refresh token kept as the setup side keeps it.
class BrowserSource : public MailTest {
protected:
    BrowserSource() {
        forget_browser_tokens();
        install_browser_token_source();
        Timing t = timing();
        t.token_refresh_margin_ms = 1000;
        t.token_request_ms = 20000;
        set_timing(t);
    }
    ~BrowserSource() override { forget_browser_tokens(); }

    void SetUp() override { ASSERT_TRUE(keyring_.start()) << keyring_.error(); }

    void start_provider(double lifetime_s) {
        ASSERT_TRUE(provider_.start(lifetime_s)) << provider_.error();
        settings_set(Key::Auth, "1", 0);
        settings_set(Key::OAuthSource, "1", 0);
        settings_set(Key::OAuthProvider, "custom", 0);
        settings_set(Key::TokenUrl, provider_.url("/token").c_str(), 0);
        settings_set(Key::ClientId, "kd5lite-test", 0);
    }

    // The sign-in's save of a refresh token for alice at the account's server: into the keyring, the file
    // keeping SecretStore "1" for the notifier.
    void sign_in_anew() {
        TokenSave save;
        ASSERT_EQ(refresh_token_save(0, provider_.issue("alice").refresh_token, save), 0);
        ASSERT_TRUE(save.in_keyring) << save.reason;
    }

    void sign_in(double lifetime_s, const std::string& server = "127.0.0.1", const char* protocol = "0") {
        start_provider(lifetime_s);
        settings_put(Key::ServerName, server.c_str(), 0);
        settings_put(Key::ID, "alice", 0);
        settings_put(Key::Protocol, protocol, 0);
        sign_in_anew();
    }

    long refreshes() { return provider_.stats()["refresh_token"]; }

    KeyringSession keyring_;
    OAuth2Provider provider_;
};

// Kept until shortly before it expires, then refreshed; refreshed at once when the server refused it. Catches a
// refresh at every check (hammering the provider), a token used after its expiry, and a refusal not acted on.
TEST_F(BrowserSource, RefreshesBeforeExpiryAndAfterARefusal) {
    sign_in(3);
    std::string first;
    ASSERT_EQ(access_token(read_account(0), first), 0) << error_lines().front();
    std::string again;
    ASSERT_EQ(access_token(read_account(0), again), 0);
    EXPECT_EQ(again, first);
    EXPECT_EQ(refreshes(), 1);

    // Within the margin of its expiry (3 s, less the 1 s margin) the next request refreshes.
    const auto due = std::chrono::steady_clock::now() + 2s;
    ASSERT_TRUE(wait_until([&] { return std::chrono::steady_clock::now() >= due; }, 5000));
    ASSERT_EQ(access_token(read_account(0), again), 0);
    EXPECT_NE(again, first);
    EXPECT_EQ(refreshes(), 2);

    ask_token_renewal(0);
    std::string renewed;
    ASSERT_EQ(access_token(read_account(0), renewed), 0);
    EXPECT_NE(renewed, again);
    EXPECT_EQ(refreshes(), 3);
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A revoked sign-in: one line that says to sign in again, then no request to the provider however often the
// checks come, until the account is signed in anew.
TEST_F(BrowserSource, ARevokedSignInIsReportedOnceAndNotRetried) {
    sign_in(60);
    ASSERT_TRUE(provider_.revoke("alice"));
    std::string token;
    for (int check = 0; check < 10; ++check) {
        ask_token_renewal(0);
        EXPECT_EQ(access_token(read_account(0), token), -1);
    }
    EXPECT_EQ(refreshes(), 1);
    EXPECT_TRUE(browser_sign_in_refused(0));
    ASSERT_EQ(error_lines().size(), 1u);
    EXPECT_NE(error_lines()[0].find("sign in again"), std::string::npos) << error_lines()[0];

    sign_in_anew();
    EXPECT_EQ(access_token(read_account(0), token), 0);
    EXPECT_EQ(refreshes(), 2);
}

// A locked keyring holds the refresh token: each check says so in the keyring's line and asks the provider
// nothing, and never waits for an unlock prompt; the check after asks the keyring again. No item for the account
// (another ID than the one signed in) is "not signed in".
TEST_F(BrowserSource, ALockedKeyringIsEachChecksErrorLine) {
    sign_in(60);
    std::string token;
    settings_put(Key::ID, "someone-else", 0);
    EXPECT_EQ(access_token(read_account(0), token), -1);
    ASSERT_EQ(error_lines().size(), 1u);
    EXPECT_NE(error_lines()[0].find("The account is not signed in"), std::string::npos) << error_lines()[0];
    clear_error_log();

    settings_put(Key::ID, "alice", 0);
    ASSERT_TRUE(keyring_.lock());
    for (int check = 0; check < 2; ++check) {
        EXPECT_EQ(access_token(read_account(0), token), -1);
    }
    EXPECT_EQ(refreshes(), 0);
    const std::vector<std::string> lines = error_lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("check mail ---> The keyring is locked[no.0 error: 13]"), std::string::npos) << line;
    }
}

// A provider that rotates refresh tokens and takes reuse for theft (OAuth 2.1): the new token of a refresh that
// could not be stored (another program held the settings file's lock) is used for the next refresh, and stored
// then. Before, the next refresh asked with the old token and the provider ended the sign-in.
TEST_F(BrowserSource, ARotatedTokenThatCouldNotBeStoredIsUsedAndStoredLater) {
    Timing t = timing();
    t.settings_lock_wait_ms = 200;
    set_timing(t);
    start_provider(60);
    ASSERT_TRUE(provider_.set_mode("rotate=1"));
    settings_put(Key::ServerName, "127.0.0.1", 0);
    settings_put(Key::ID, "alice", 0);
    const std::string first = provider_.issue("alice").refresh_token;
    ASSERT_EQ(refresh_token_file_save(0, first), 0); // no keyring took it: the file keeps it, behind the lock

    const int holder = open((dir_.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::string token;
    ASSERT_EQ(access_token(read_account(0), token), 0) << error_lines().front();
    // The settings file's line for the lock, and ours for the token.
    ASSERT_EQ(error_lines().size(), 2u);
    EXPECT_NE(error_lines()[1].find("The new refresh token could not be kept"), std::string::npos)
        << error_lines()[0] << error_lines()[1];
    std::string stored;
    ASSERT_EQ(refresh_token_file_load(0, stored), 0);
    EXPECT_EQ(stored, first);

    // Still locked: the next refresh asks with the token in memory, and the save is tried again.
    ask_token_renewal(0);
    ASSERT_EQ(access_token(read_account(0), token), 0) << error_lines().back();
    close(holder);
    ask_token_renewal(0);
    ASSERT_EQ(access_token(read_account(0), token), 0) << error_lines().back();
    ASSERT_EQ(refresh_token_file_load(0, stored), 0);
    EXPECT_NE(stored, first);
    EXPECT_EQ(refreshes(), 3);
    EXPECT_EQ(provider_.stats()["refused"], 0);

    // The file now holds the newest: a fresh process (nothing in memory) goes on from there.
    forget_browser_tokens();
    EXPECT_EQ(access_token(read_account(0), token), 0) << error_lines().back();
    EXPECT_EQ(provider_.stats()["refused"], 0);
}

// Two callers at once (a check and an IDLE watcher) while the token endpoint does not answer: the one that waited
// for the first takes its failure instead of asking again (which queued a second wait of the whole time, before),
// and a stop ends the refresh and the wait at once.
TEST_F(BrowserSource, AFailedRefreshIsNotAskedAgainAndAStopEndsTheWait) {
    sign_in(60);
    ASSERT_TRUE(provider_.set_mode("fault=trickle"));
    Timing t = timing();
    t.token_request_ms = 1500;
    set_timing(t);
    for (const bool stop : {false, true}) {
        token_stop_clear();
        const long before = refreshes();
        std::atomic<int> results[2] = {1, 1};
        const auto start = std::chrono::steady_clock::now();
        std::thread first([&] {
            std::string token;
            results[0] = access_token(read_account(0), token);
        });
        ASSERT_TRUE(wait_until([&] { return refreshes() > before; }, 10000));
        std::thread second([&] {
            std::string token;
            results[1] = access_token(read_account(0), token);
        });
        if (stop) {
            token_stop_raise();
        }
        first.join();
        second.join();
        EXPECT_EQ(results[0], -1);
        EXPECT_EQ(results[1], -1);
        EXPECT_EQ(refreshes(), before + 1) << stop;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(stop ? 1 : 3) + 500ms) << stop;
    }
    token_stop_clear();
    const std::vector<std::string> lines = error_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("could not be refreshed: no answer"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("could not be refreshed: no answer"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("a stop came first[no.0 error: 125]"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("a stop came first[no.0 error: 125]"), std::string::npos) << lines[3];
}

// Each way the browser sign-in gives no token says its kind and step to the check, whatever its line's words: the
// user must sign in again, there is no token, the keyring keeps the refresh token locked, the settings cannot work.
// A revoked sign-in asked again says so without a second line.
TEST_F(BrowserSource, EachFailureSaysItsKind) {
    sign_in(60);
    struct Case {
        const char* name;
        std::function<void()> before;
        CheckStep step;
        CheckFailure failure;
        int error;
        bool line; // a line of its own
    } cases[] = {
        {"another ID than the one signed in", [&] { settings_put(Key::ID, "someone-else", 0); }, CheckStep::token,
         CheckFailure::no_token, ENOENT, true},
        {"a provider nobody knows",
         [&] {
             settings_put(Key::ID, "alice", 0);
             settings_put(Key::OAuthProvider, "nonsense", 0);
         },
         CheckStep::token, CheckFailure::settings, EINVAL, true},
        {"revoked",
         [&] {
             settings_put(Key::OAuthProvider, "custom", 0);
             ASSERT_TRUE(provider_.revoke("alice"));
         },
         CheckStep::token, CheckFailure::sign_in_again, EACCES, true},
        {"revoked, asked again", [] { ask_token_renewal(0); }, CheckStep::token, CheckFailure::sign_in_again, EACCES,
         false},
        {"keyring locked", [&] { ASSERT_TRUE(keyring_.lock()); }, CheckStep::secret, CheckFailure::keyring, EACCES,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_error_log();
        c.before();
        std::string token;
        CheckOutcome outcome;
        EXPECT_EQ(access_token(read_account(0), token, &outcome), -1);
        if (c.line) {
            EXPECT_EQ(outcome_differs(outcome, c.step, c.failure, c.error), "") << outcome.line;
        } else {
            EXPECT_EQ(outcome.step, c.step);
            EXPECT_EQ(outcome.failure, c.failure);
            EXPECT_TRUE(outcome.line.empty() && error_lines().empty()) << outcome.line;
        }
    }
}

// The story against Dovecot: the token expires between checks, the next check refreshes it before it signs in, and
// the mail is counted. With the sender filter, over IMAP.
TEST_F(BrowserSource, ChecksGoOnAcrossExpiryAgainstDovecot) {
    start_provider(3);
    const std::string pki = dir_.path("pki");
    std::filesystem::create_directory(pki);
    TestAuthority authority(pki, "trusted");
    TrustedAuthority trusted(authority);
    const TestAuthority::Issued certificate = authority.issue("mail", "IP:127.0.0.1");
    DovecotServer::Options options{certificate.certificate_file, certificate.key_file};
    options.oauth2_introspection_url = provider_.url("/introspect");
    DovecotServer server(options);
    server.add_user("alice", "not-used");
    ASSERT_TRUE(server.start()) << server.error();
    settings_put(Key::ServerName, server.server_name(true).c_str(), 0);
    settings_put(Key::ID, "alice", 0);
    settings_put(Key::Protocol, "1", 0);
    settings_set(Key::Security, "2", 0);
    sign_in_anew(); // the refresh token only in the keyring
    set_filter(0, 0, "taro@example.com", "1");
    ASSERT_TRUE(server.deliver("alice", make_message("taro@example.com", "alice@kd5lite.test", "hello")));
    ASSERT_TRUE(server.deliver("alice", make_message("jiro@example.com", "alice@kd5lite.test", "hello")));

    EXPECT_EQ(mail_check(0), 1);
    const auto expired = std::chrono::steady_clock::now() + 3s;
    ASSERT_TRUE(wait_until([&] { return std::chrono::steady_clock::now() >= expired; }, 6000));
    EXPECT_EQ(mail_check(0), 1);
    EXPECT_EQ(refreshes(), 2);
    EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front() << server.log();
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
