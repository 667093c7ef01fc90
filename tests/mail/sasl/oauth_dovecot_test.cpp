// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mail_check.h"

#include "mail/sasl/access_token.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/oauth2_provider.h"
#include "tools/pop3server/pop3_message.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

// Account 0 as alice's OAuth2 account on a real Dovecot over TLS, whose oauth2 passdb asks the test provider
// whether a token is active and whose it is. The account's token source is the test's: the provider's tokens,
// or whatever a case puts in its place.
class OAuthDovecot : public MailTest {
protected:
    OAuthDovecot() {
        std::filesystem::create_directory(pki_);
        authority_ = std::make_unique<TestAuthority>(pki_, "trusted");
        trusted_ = std::make_unique<TrustedAuthority>(*authority_);
    }
    ~OAuthDovecot() override { set_token_source(1, {}); }

    void start(const std::string& mechanisms = "oauthbearer xoauth2") {
        ASSERT_TRUE(provider_.start(30)) << provider_.error();
        const TestAuthority::Issued certificate = authority_->issue("mail", "IP:127.0.0.1");
        DovecotServer::Options options{certificate.certificate_file, certificate.key_file};
        options.pop3 = true;
        options.oauth2_introspection_url = provider_.url("/introspect");
        options.oauth2_mechanisms = mechanisms;
        server_ = std::make_unique<DovecotServer>(options);
        server_->add_user("alice", "not-used");
        server_->add_user("bob", "not-used");
        ASSERT_TRUE(server_->start()) << server_->error();
        settings_set(Key::ID, "alice", 0);
        settings_set(Key::Auth, "1", 0);
        settings_set(Key::OAuthSource, "1", 0);
        settings_set(Key::Security, "2", 0);
        use_protocol("1");
        set_token_source(1, [this](int, bool renew, std::string& token, CheckOutcome&) {
            ++calls_;
            renewals_ += renew ? 1 : 0;
            token = next_token_(renew);
            return 0;
        });
    }

    void use_protocol(const std::string& protocol) {
        settings_set(Key::Protocol, protocol.c_str(), 0);
        settings_set(Key::ServerName,
                     protocol == "1" ? server_->server_name(true).c_str() : server_->pop3_server_name(true).c_str(), 0);
    }

    void deliver(int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(server_->deliver("alice", make_message("taro@example.com", "alice@kd5lite.test", "hello")));
        }
    }

    std::string pki_ = dir_.path("pki");
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<TrustedAuthority> trusted_;
    OAuth2Provider provider_;
    std::unique_ptr<DovecotServer> server_;
    std::function<std::string(bool)> next_token_ = [this](bool) { return provider_.issue("alice").access_token; };
    std::atomic<int> calls_{0};
    std::atomic<int> renewals_{0};
};

// Both mechanisms over both protocols, as Gmail and Outlook offer them: catches a wrong message layout, the
// mechanism chosen against the preference, POP3's AUTH line or IMAP's SASL-IR broken, and a token left in a file.
TEST_F(OAuthDovecot, BothMechanismsSignInOverImapAndPop3) {
    for (const std::string mechanisms : {"oauthbearer xoauth2", "xoauth2"}) {
        SCOPED_TRACE(mechanisms);
        server_.reset();
        provider_.stop();
        start(mechanisms);
        deliver(2);
        std::string last_token;
        next_token_ = [&](bool) { return last_token = provider_.issue("alice").access_token; };
        for (const std::string protocol : {"1", "0"}) {
            use_protocol(protocol);
            EXPECT_EQ(mail_check(0), 2) << protocol;
        }
        EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front() << server_->log();
        EXPECT_EQ(all_files().find(last_token), std::string::npos);
        const std::string mechanism = mechanisms.starts_with("oauthbearer") ? "method=OAUTHBEARER" : "method=XOAUTH2";
        EXPECT_NE(server_->log().find(mechanism), std::string::npos) << server_->log();
    }
}

// A token the server no longer takes (expired early, or revoked at the provider) is renewed once and the check
// goes on; a source that keeps giving refused tokens costs two logins in the check and no more. Catches a renewal
// loop hammering the server, a refusal taken for an empty mailbox without a line, and no renewal at all.
TEST_F(OAuthDovecot, ARefusedTokenIsRenewedOncePerCheck) {
    start();
    deliver(1);
    for (const std::string protocol : {"1", "0"}) {
        SCOPED_TRACE(protocol);
        use_protocol(protocol);
        clear_error_log();
        calls_ = 0;
        renewals_ = 0;
        next_token_ = [this](bool renew) { return renew ? provider_.issue("alice").access_token : "at-expired"; };
        EXPECT_EQ(mail_check(0), 1);
        EXPECT_EQ(calls_, 2);
        EXPECT_EQ(renewals_, 1);
        const std::string mechanism = protocol == "1" ? "IMAP" : "POP";
        const std::string refused = "check mail ---> The " + mechanism +
                                    " server refused the OAuth2 token (OAUTHBEARER invalid_token)[no.0 error: 13]";
        EXPECT_EQ(error_lines(), Lines{refused});

        clear_error_log();
        calls_ = 0;
        next_token_ = [](bool) { return std::string("at-revoked"); };
        EXPECT_EQ(mail_check(0), 0);
        EXPECT_EQ(calls_, 2);
        EXPECT_EQ(error_lines(), (Lines{refused, refused}));
        // Dovecot makes an address that keeps failing wait longer each time; a fresh start forgets it.
        ASSERT_TRUE(server_->restart()) << server_->error();
    }
}

// A token that is alice's provider's but was issued to bob does not open alice's mailbox.
TEST_F(OAuthDovecot, AnotherUsersTokenIsRefused) {
    start();
    deliver(1);
    next_token_ = [this](bool) { return provider_.issue("bob").access_token; };
    EXPECT_EQ(mail_check(0), 0);
    ASSERT_FALSE(error_lines().empty());
    EXPECT_NE(error_lines().front().find("refused the OAuth2 token"), std::string::npos) << error_lines().front();
}

// OAuth2 never goes out in clear: with Security 0 nothing is asked of the source and no connection is made.
TEST_F(OAuthDovecot, NoTokenWithoutTls) {
    start();
    for (const std::string protocol : {"1", "0"}) {
        use_protocol(protocol);
        settings_set(Key::Security, "0", 0);
        settings_set(Key::ServerName, (protocol == "1" ? server_->server_name() : server_->pop3_server_name()).c_str(),
                     0);
        EXPECT_EQ(mail_check(0), -1);
    }
    EXPECT_EQ(calls_, 0);
    EXPECT_EQ(error_lines(),
              (Lines{"check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.0 error: 1]",
                     "check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.0 error: 1]"}));
}

// The token command as the account's source against the real server: its token signs in, its failure is one line
// with its standard error, and what it printed is in no file.
TEST_F(OAuthDovecot, TheTokenCommandSignsIn) {
    start();
    deliver(3);
    const std::string token = provider_.issue("alice").access_token;
    std::filesystem::create_directory(dir_.path("bin")); // beside the settings, not among them: it holds a token
    dir_.write("bin/helper", "#!/bin/sh\n[ \"$1\" = --user ] || { echo 'usage: helper --user NAME' >&2; exit 2; }\n"
                             "echo " +
                                 token + "\n");
    chmod(dir_.path("bin/helper").c_str(), 0700);
    settings_set(Key::OAuthSource, "3", 0);
    settings_set(Key::TokenCommand, (dir_.path("bin/helper") + " --user alice").c_str(), 0);
    EXPECT_EQ(mail_check(0), 3);
    settings_set(Key::TokenCommand, dir_.path("bin/helper").c_str(), 0);
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_EQ(error_lines(),
              Lines{"check mail ---> The token command failed: usage: helper --user NAME[no.0 error: 2]"});
    EXPECT_EQ(all_files().find(token), std::string::npos);
}

} // namespace
