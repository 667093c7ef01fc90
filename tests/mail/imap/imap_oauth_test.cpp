// SPDX-License-Identifier: GPL-3.0-or-later
// The OAuth2 logins against the scripted IMAP server, for what Dovecot will not show: a server without SASL-IR,
// where the token may go only after the server's empty continuation, and its error challenge on that path.

#include "mail/mail_check.h"
#include "mail/sasl/access_token.h"
#include "mail/sasl/oauth_sasl.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"

#include <filesystem>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

std::string base64(const std::string& bytes) {
    std::string out;
    base64_append(out, bytes);
    return out;
}

std::string bearer(const std::string& token) {
    return base64("n,a=alice,\x01" "auth=Bearer " + token + "\x01\x01");
}

std::string xoauth2(const std::string& token) {
    return base64("user=alice\x01" "auth=Bearer " + token + "\x01\x01");
}

class ImapOAuth : public MailTest {
protected:
    ~ImapOAuth() override { set_token_source(1, {}); }

    // Account 0 as alice's OAuth2 account over TLS on a scripted server that takes the token "at-good".
    void serve(const std::string& capabilities) {
        const std::string pki = dir_.path("pki");
        std::filesystem::create_directories(pki);
        const TestAuthority::Issued own = TestAuthority::self_signed(pki, "home", "IP:127.0.0.1");
        ImapScript script;
        script.tls = ImapTls::implicit;
        script.certificate_file = own.certificate_file;
        script.key_file = own.key_file;
        script.capabilities = capabilities;
        ImapMailbox box{"at-good", {{make_message("taro@example.com", "alice@kd5lite.test", "hello"), false}}};
        server_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "");
        settings_set(Key::Protocol, "1", 0);
        settings_set(Key::Security, "2", 0);
        settings_set(Key::TlsFingerprint, own.fingerprint.c_str(), 0);
        settings_set(Key::Auth, "1", 0);
        settings_set(Key::OAuthSource, "1", 0);
    }

    std::unique_ptr<ImapServer> server_;
};

// Without SASL-IR the token goes only after the server's "+ "; a refused one gets the mechanism's answer to the
// error challenge (^A for OAUTHBEARER, an empty line for XOAUTH2), the server's reason in the line, and one
// renewed try. Catches the token sent in the command to a server that does not take it there, a client that
// hangs waiting for the tagged answer instead of answering the challenge, and a wrong answer to it.
TEST_F(ImapOAuth, WithoutSaslIrTheTokenFollowsTheContinuation) {
    const std::string refused =
        "check mail ---> The IMAP server refused the OAuth2 token (%s invalid_token)[no.0 error: 13]";
    struct Case {
        std::string capabilities;
        std::string first_token; // the renewed one is always at-good
        Lines login;             // the first login's lines
        std::string mechanism;   // in the line of a refusal; empty: no refusal
    } cases[] = {
        {"IMAP4rev1 AUTH=OAUTHBEARER AUTH=XOAUTH2 IDLE", "at-good", {"k2 AUTHENTICATE OAUTHBEARER", bearer("at-good")}, ""},
        {"IMAP4rev1 AUTH=XOAUTH2 IDLE", "at-good", {"k2 AUTHENTICATE XOAUTH2", xoauth2("at-good")}, ""},
        {"IMAP4rev1 AUTH=OAUTHBEARER", "at-old", {"k2 AUTHENTICATE OAUTHBEARER", bearer("at-old"), "AQ=="}, "OAUTHBEARER"},
        {"IMAP4rev1 AUTH=XOAUTH2", "at-old", {"k2 AUTHENTICATE XOAUTH2", xoauth2("at-old"), ""}, "XOAUTH2"},
        {"IMAP4rev1 SASL-IR AUTH=OAUTHBEARER", "at-good", {"k2 AUTHENTICATE OAUTHBEARER " + bearer("at-good")}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capabilities + " " + c.first_token);
        clear_error_log();
        serve(c.capabilities);
        set_token_source(1, [&](int, bool renew, std::string& token) {
            token = renew ? "at-good" : c.first_token;
            return 0;
        });
        EXPECT_EQ(mail_check(0), 1) << all_files();
        const Lines commands = server_->commands();
        ASSERT_GT(commands.size(), c.login.size());
        EXPECT_EQ(Lines(commands.begin() + 1, commands.begin() + 1 + static_cast<long>(c.login.size())), c.login);
        if (c.mechanism.empty()) {
            EXPECT_FALSE(dir_.exists("err07.log")) << all_files();
            continue;
        }
        char line[200];
        std::snprintf(line, sizeof line, refused.c_str(), c.mechanism.c_str());
        EXPECT_EQ(error_lines(), Lines{line});
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "k2 AUTHENTICATE " + c.mechanism), 2);
    }
}

} // namespace
