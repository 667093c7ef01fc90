// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mail_check.h"

#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/dovecot_server.h"
#include "tools/pop3server/pop3_message.h"

#include <filesystem>
#include <memory>
#include <sstream>

namespace {

using Lines = std::vector<std::string>;

// Account 0 as an IMAP account of alice / secret on a real Dovecot. Its own certificate authority is the trust
// store, so that the server's certificate can be trusted or pinned.
class ImapDovecot : public MailTest {
protected:
    ImapDovecot() {
        std::filesystem::create_directory(pki_);
        authority_ = std::make_unique<TestAuthority>(pki_, "trusted");
        trusted_ = std::make_unique<TrustedAuthority>(*authority_);
    }

    void start(const TestAuthority::Issued& certificate) {
        server_ =
            std::make_unique<DovecotServer>(DovecotServer::Options{certificate.certificate_file, certificate.key_file});
        server_->add_user("alice", "secret");
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "secret");
        settings_set(Key::Protocol, "1", 0);
    }

    void start() { start(authority_->issue("imap", "IP:127.0.0.1")); }

    void deliver(const Lines& senders) {
        for (const std::string& from : senders) {
            ASSERT_TRUE(server_->deliver("alice", make_message(from, "alice@kd5lite.test", "hello")));
        }
    }

    std::string pki_ = dir_.path("pki");
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<TrustedAuthority> trusted_;
    std::unique_ptr<DovecotServer> server_;
};

// The lamp's story for an IMAP user: unseen mail counts, a read in another mail program puts the count to 0, and
// new mail counts again; with sender conditions the hits in the unseen messages' headers.
TEST_F(ImapDovecot, UnseenMailCountsUntilReadElsewhere) {
    start();
    EXPECT_EQ(mail_check(0), 0);
    deliver({"Taro <taro@example.com>", "hanako@example.com", "jiro@example.com"});
    EXPECT_EQ(mail_check(0), 3);
    set_filter(0, 0, "taro@example.com", "1");
    EXPECT_EQ(mail_check(0), 1);
    set_filter(0, 0, "", "0");

    ASSERT_TRUE(server_->mark_all_read("alice"));
    EXPECT_EQ(mail_check(0), 0);
    deliver({"saburo@example.com"});
    EXPECT_EQ(mail_check(0), 1);
    EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();
}

// Checks never mark anything read, with or without sender conditions (EXAMINE, BODY.PEEK).
TEST_F(ImapDovecot, FlagsStayAsTheyWereAfterManyChecks) {
    start();
    deliver({"Taro <taro@example.com>", "hanako@example.com"});
    const std::string before = server_->flags("alice");
    ASSERT_EQ(before.find("doveadm failed"), std::string::npos) << before;
    for (int i = 0; i < 10; ++i) {
        set_filter(0, 0, i % 2 == 0 ? "taro@example.com" : "", i % 2 == 0 ? "2" : "0");
        EXPECT_EQ(mail_check(0), i % 2 == 0 ? 1 : 2) << i;
    }
    const std::string after = server_->flags("alice");
    EXPECT_EQ(after.find("\\Seen"), std::string::npos) << after;
    EXPECT_EQ(after, before);
}

// STARTTLS on the imap port and TLS on the imaps port, with a certificate the trust store knows and with a home
// server's own certificate that only its pin makes trusted.
TEST_F(ImapDovecot, StarttlsAndTlsWithATrustedOrPinnedCertificate) {
    const TestAuthority::Issued own = TestAuthority::self_signed(pki_, "home", "IP:127.0.0.1");
    start(own);
    deliver({"a@example.com", "b@example.com"});
    struct Case {
        const char* security;
        bool tls_port;
        std::string pin;
        int result;
    } cases[] = {
        {"1", false, own.fingerprint, 2},
        {"2", true, own.fingerprint, 2},
        {"2", true, "", -1}, // not trusted without its pin
        {"1", false, "", -1},
    };
    for (const auto& c : cases) {
        clear_error_log();
        settings_set(Key::ServerName, server_->server_name(c.tls_port).c_str(), 0);
        settings_set(Key::Security, c.security, 0);
        settings_set(Key::TlsFingerprint, c.pin.c_str(), 0);
        EXPECT_EQ(mail_check(0), c.result) << c.security << " pin " << c.pin;
        if (c.result < 0) {
            Lines lines = error_lines();
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_TRUE(lines[0].starts_with("LAN operation ---> The server certificate is not trusted")) << lines[0];
            EXPECT_EQ(lines[1], "check mail ---> TLS connection is abnormal[no.0 error: 18]");
        } else {
            EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();
        }
    }
    // Every login came over TLS: none in clear before STARTTLS.
    std::istringstream log(server_->log());
    int logins = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("Login: user=<alice>") != std::string::npos) {
            ++logins;
            EXPECT_NE(line.find(", TLS"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(logins, 2);
}

} // namespace
