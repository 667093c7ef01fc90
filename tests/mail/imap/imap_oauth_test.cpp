// SPDX-License-Identifier: GPL-3.0-or-later
// The OAuth2 logins against the scripted IMAP server, for what Dovecot will not show: a server without SASL-IR,
// where the token may go only after the server's empty continuation, and its error challenge on that path.

#include "logging/log.h"
#include "mail/core/check_outcome.h"
#include "mail/core/check_stop.h"
#include "mail/mail_check.h"
#include "mail/sasl/access_token.h"
#include "mail/sasl/oauth_sasl.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
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
    void serve(const std::string& capabilities, const std::function<void(ImapScript&)>& adjust = {}) {
        const std::string pki = dir_.path("pki");
        std::filesystem::create_directories(pki);
        const TestAuthority::Issued own = TestAuthority::self_signed(pki, "home", "IP:127.0.0.1");
        ImapScript script;
        script.tls = ImapTls::implicit;
        script.certificate_file = own.certificate_file;
        script.key_file = own.key_file;
        script.capabilities = capabilities;
        if (adjust) {
            adjust(script);
        }
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
        set_token_source(1, [&](int, bool renew, std::string& token, CheckOutcome&) {
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

// A server that answers AUTHENTICATE with a flood (kd5lite-imapserver --fault flood@AUTHENTICATE) holds the login no
// longer than the command's one deadline, and no longer than a stop: endless untagged lines run out the receive
// budget, and endless challenges end at the second, since after the answer to the error challenge only the tagged
// completion may come (RFC 7628 3.2.3). Catches a login that reads each response with a fresh budget and never
// looks at the stop: such a server held the check, and the monitor's stop, for ever.
TEST_F(ImapOAuth, AFloodAtAuthenticateEndsTheLoginWithinTheBudget) {
    struct Case {
        const char* name;
        bool oauth;
        std::string flood_line;
        bool stop;        // only a stop asked for meanwhile can end it
        std::string line; // the last error line; empty: none to look at
    } cases[] = {
        {"plain, untagged", false, "* OK still here", false,
         "check mail ---> The reception of an IMAP confirmation [a login] message is abnormal[no.0 error: 110]"},
        {"oauth, untagged", true, "* OK still here", false,
         "check mail ---> The reception of an IMAP confirmation [a login] message is abnormal[no.0 error: 110]"},
        {"oauth, challenges", true, "+ more", false,
         "check mail ---> The IMAP server broke the protocol [a login][no.0 error: 71]"},
        {"plain, challenges", false, "+ more", false,
         "check mail ---> The IMAP server broke the protocol [a login][no.0 error: 71]"},
        {"oauth, untagged, stopped", true, "* OK still here", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_error_log();
        Timing t = timing();
        t.select_timeout_ms = c.stop ? 600000 : 20; // a budget of 61 waits of 20 ms, or none that ends
        t.stop_poll_ms = 10;
        set_timing(t);
        serve("IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=OAUTHBEARER", [&](ImapScript& script) {
            script.fault = ImapFault::flood;
            script.fault_at = "AUTHENTICATE";
            script.flood_line = c.flood_line;
        });
        settings_set(Key::Auth, c.oauth ? "1" : "0", 0);
        settings_set(Key::Password, "at-good", 0);
        set_token_source(1, [](int, bool, std::string& token, CheckOutcome&) {
            token = "at-good";
            return 0;
        });
        settings_set(Key::Request, c.stop ? "4" : "0");
        ini_write_key(Key::Request);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(mail_check(0), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        if (!c.line.empty()) {
            ASSERT_FALSE(error_lines().empty());
            EXPECT_EQ(error_lines().back(), c.line);
        }
        server_->stop();
    }
    check_stop_clear();
    settings_set(Key::Request, "0");
    ini_write_key(Key::Request);
}

// How an OAuth2 check ends, as a value: where the token came from decides the step, and the source's own word the
// kind, never its line's wording. Catches a source's failure told as a server's, a refused token told as a refused
// password, and a token command's exit code lost.
TEST_F(ImapOAuth, EachEndOfTheSignInIsAnOutcome) {
    struct Case {
        const char* name;
        std::string capabilities;
        const char* source; // OAuthSource
        const char* security;
        TokenSource token;
        int result;
        CheckStep step;
        CheckFailure failure;
        int error;
    } cases[] = {
        {"signed in", "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER", "1", "2",
         [](int, bool, std::string& token, CheckOutcome&) {
             token = "at-good";
             return 0;
         },
         1, CheckStep::none, CheckFailure::none, 0},
        {"token refused, renewed, refused", "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER", "1", "2",
         [](int, bool, std::string& token, CheckOutcome&) {
             token = "at-old";
             return 0;
         },
         0, CheckStep::login, CheckFailure::refused_token, EACCES},
        {"the source says sign in again", "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER", "1", "2",
         [](int index, bool, std::string&, CheckOutcome& failure) {
             write_failure_line(failure, CheckStep::token, CheckFailure::sign_in_again, EACCES,
                                format_text("check mail ---> Sign in again[no.%d error: %d]", index, EACCES));
             return -1;
         },
         -1, CheckStep::token, CheckFailure::sign_in_again, EACCES},
        {"a token that cannot go into a message", "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER", "1", "2",
         [](int, bool, std::string& token, CheckOutcome&) {
             token = "two words";
             return 0;
         },
         -1, CheckStep::token, CheckFailure::no_token, EINVAL},
        {"no sign-in offered",
         "IMAP4rev1 SASL-IR AUTH=PLAIN",
         "1",
         "2",
         {},
         -1,
         CheckStep::login,
         CheckFailure::refused_login,
         EPROTO},
        {"a source nobody plugged in",
         "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER",
         "2",
         "2",
         {},
         -1,
         CheckStep::token,
         CheckFailure::settings,
         EINVAL},
        {"a token command that fails",
         "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER",
         "3",
         "2",
         {},
         -1,
         CheckStep::token,
         CheckFailure::no_token,
         1},
        {"no TLS",
         "IMAP4rev1 SASL-IR AUTH=OAUTHBEARER",
         "1",
         "0",
         {},
         -1,
         CheckStep::settings,
         CheckFailure::settings,
         EPERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_error_log();
        serve(c.capabilities);
        settings_set(Key::OAuthSource, c.source, 0);
        settings_set(Key::Security, c.security, 0);
        settings_set(Key::TokenCommand, "false", 0);
        set_token_source(
            1, c.token ? c.token : [](int, bool, std::string& token, CheckOutcome&) {
                token = "at-good";
                return 0;
            });
        CheckOutcome outcome;
        EXPECT_EQ(mail_check(0, &outcome), c.result);
        EXPECT_EQ(outcome_differs(outcome, c.step, c.failure, c.error), "") << outcome.line;
        server_->stop();
    }
}

} // namespace
