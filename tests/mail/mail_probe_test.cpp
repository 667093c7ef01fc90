// SPDX-License-Identifier: GPL-3.0-or-later
// The probe of a mail server against the scripted POP3 and IMAP servers, in clear, with TLS from the first byte and
// after STLS or STARTTLS: the stages in the order a check goes through them, what each found, and the end as a
// check's outcome.

#include "mail/account_settings.h"
#include "mail/mail_probe.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/lampsim_handle.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

class MailProbe : public MailTest {
protected:
    MailProbe() {
        const std::string pki = dir_.path("pki");
        std::filesystem::create_directory(pki);
        own_ = TestAuthority::self_signed(pki, "home", "IP:127.0.0.1");
    }

    // Account 0 as alice / secret on a scripted server of the protocol, speaking TLS as tls says (0 none,
    // 1 after STLS or STARTTLS, 2 from the first byte).
    void serve(bool imap, int tls, const std::string& password = "secret",
               const TestAuthority::Issued* certificate = nullptr) {
        const TestAuthority::Issued& served = certificate != nullptr ? *certificate : own_;
        const std::string message = make_message("taro@example.com", "alice@kd5lite.test", "hello");
        if (imap) {
            ImapScript script;
            script.tls = tls == 2 ? ImapTls::implicit : tls == 1 ? ImapTls::starttls : ImapTls::none;
            script.certificate_file = served.certificate_file;
            script.key_file = served.key_file;
            ImapMailbox box{password, {{message, false}}};
            imap_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}}, script);
            ASSERT_TRUE(imap_->start()) << imap_->error();
            set_account(0, imap_->server_name(), "alice", "secret");
        } else {
            Pop3Script script;
            script.tls = tls == 2 ? Pop3Tls::implicit : tls == 1 ? Pop3Tls::stls : Pop3Tls::none;
            script.certificate_file = served.certificate_file;
            script.key_file = served.key_file;
            Pop3Mailbox box;
            box.password = password;
            box.messages = {message};
            pop3_ = std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{{"alice", box}}, script);
            ASSERT_TRUE(pop3_->start()) << pop3_->error();
            set_account(0, pop3_->server_name(), "alice", "secret");
        }
        settings_set(Key::Protocol, imap ? "1" : "0", 0);
        settings_set(Key::Security, std::to_string(tls).c_str(), 0);
    }

    Lines commands(bool imap) const { return imap ? imap_->commands() : pop3_->commands(); }

    TestAuthority::Issued own_;
    std::unique_ptr<ImapServer> imap_;
    std::unique_ptr<Pop3Server> pop3_;
};

// Each stage a check passes, in its order, with what it found: the name's address and port, the peer, the greeting,
// whether TLS encrypts and what the certificate showed, the capabilities over IMAP; and the end as the outcome a
// check gives. Catches stages out of order or left out, a plain connection told as encrypted, a refused certificate
// that shows nothing to pin, a probe that logs in when only asked to reach, and one that leaves without a goodbye.
TEST_F(MailProbe, ReportsEachStageAndEndsAsACheckWould) {
    struct Case {
        const char* name;
        bool imap;
        int tls;
        bool pin;
        bool login;
        const char* password; // the server's
        std::string stages;
        Lines commands; // what the server got
        CheckStep step;
        CheckFailure failure;
    } cases[] = {
        {"pop3 in clear",
         false,
         0,
         false,
         true,
         "secret",
         "name lookup, connection, greeting, TLS, login",
         {"USER alice", "PASS secret", "QUIT"},
         CheckStep::none,
         CheckFailure::none},
        {"pop3 reached only",
         false,
         0,
         false,
         false,
         "secret",
         "name lookup, connection, greeting, TLS",
         {"QUIT"},
         CheckStep::none,
         CheckFailure::none},
        {"pop3 over TLS, pinned",
         false,
         2,
         true,
         true,
         "secret",
         "name lookup, connection, TLS, greeting, login",
         {"USER alice", "PASS secret", "QUIT"},
         CheckStep::none,
         CheckFailure::none},
        {"pop3 after STLS, pinned",
         false,
         1,
         true,
         false,
         "secret",
         "name lookup, connection, greeting, TLS",
         {"STLS", "QUIT"},
         CheckStep::none,
         CheckFailure::none},
        {"pop3 password refused",
         false,
         0,
         false,
         true,
         "other",
         "name lookup, connection, greeting, TLS",
         {"USER alice", "PASS secret"},
         CheckStep::login,
         CheckFailure::refused_login},
        {"imap in clear",
         true,
         0,
         false,
         true,
         "secret",
         "name lookup, connection, greeting, TLS, login",
         {"k1 CAPABILITY", "k2 AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA==", "k3 CAPABILITY", "k4 LOGOUT"},
         CheckStep::none,
         CheckFailure::none},
        {"imap after STARTTLS, pinned",
         true,
         1,
         true,
         false,
         "secret",
         "name lookup, connection, greeting, TLS",
         {"k1 CAPABILITY", "k2 STARTTLS", "k3 CAPABILITY", "k4 LOGOUT"},
         CheckStep::none,
         CheckFailure::none},
        {"imap over TLS, no pin",
         true,
         2,
         false,
         true,
         "secret",
         "name lookup, connection, TLS (failed)",
         {},
         CheckStep::tls,
         CheckFailure::certificate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_error_log();
        serve(c.imap, c.tls, c.password);
        settings_set(Key::TlsFingerprint, c.pin ? own_.fingerprint.c_str() : "", 0);
        std::vector<ProbeStage> stages;
        const CheckOutcome outcome =
            mail_probe(read_account(0), c.login, [&](const ProbeStage& stage) { stages.push_back(stage); });
        EXPECT_EQ(outcome_differs(outcome, c.step, c.failure, kAnyError), "") << outcome.line;
        std::string steps;
        for (const ProbeStage& stage : stages) {
            steps +=
                std::string(steps.empty() ? "" : ", ") + check_step_name(stage.step) + (stage.ok ? "" : " (failed)");
            switch (stage.step) {
            case CheckStep::resolve:
                EXPECT_EQ(stage.host, "127.0.0.1");
                EXPECT_EQ(stage.addresses, Lines{"127.0.0.1"});
                EXPECT_EQ(stage.port, c.imap ? imap_->port() : pop3_->port());
                break;
            case CheckStep::connect:
                EXPECT_EQ(stage.peer, "127.0.0.1");
                break;
            case CheckStep::greeting:
                EXPECT_NE(stage.greeting.find("kd5lite"), std::string::npos) << stage.greeting;
                EXPECT_EQ(std::count(stage.capabilities.begin(), stage.capabilities.end(), "IMAP4REV1"), c.imap);
                break;
            case CheckStep::tls:
                EXPECT_EQ(stage.encrypted, c.tls != 0 && stage.ok);
                EXPECT_EQ(stage.certificate.fingerprint, c.tls != 0 ? own_.fingerprint : "");
                EXPECT_EQ(stage.certificate.pinned, c.pin);
                EXPECT_EQ(stage.refusal.empty(), stage.ok);
                EXPECT_EQ(stage.certificate.subject.empty(), c.tls == 0);
                break;
            case CheckStep::login:
                EXPECT_EQ(std::count(stage.capabilities.begin(), stage.capabilities.end(), "IDLE"), c.imap);
                break;
            default:
                ADD_FAILURE() << check_step_name(stage.step);
            }
        }
        EXPECT_EQ(steps, c.stages);
        EXPECT_TRUE(wait_until([&] { return commands(c.imap) == c.commands; }))
            << ::testing::PrintToString(commands(c.imap));
    }
}

// A name that leads nowhere and a protocol that is none end the probe before any stage, as they end a check.
TEST_F(MailProbe, EndsBeforeAnyStageWhereACheckWould) {
    struct Case {
        const char* server;
        const char* protocol;
        CheckStep step;
        CheckFailure failure;
    } cases[] = {
        {"[bad]:110", "0", CheckStep::resolve, CheckFailure::unreachable},
        {"127.0.0.1:x", "1", CheckStep::resolve, CheckFailure::settings},
        {"127.0.0.1:1", "7", CheckStep::settings, CheckFailure::settings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        clear_error_log();
        set_account(0, c.server, "alice", "secret");
        settings_set(Key::Protocol, c.protocol, 0);
        int stages = 0;
        const CheckOutcome outcome = mail_probe(read_account(0), true, [&](const ProbeStage&) { ++stages; });
        EXPECT_EQ(stages, 0);
        EXPECT_EQ(outcome_differs(outcome, c.step, c.failure, kAnyError), "") << outcome.line;
    }
}

// The protocol a first line is the greeting of, whatever the account asked for.
TEST(GreetingProtocol, TellsPop3FromImapFromAnythingElse) {
    struct Case {
        const char* line;
        MailProtocol speaks;
    } cases[] = {
        {"+OK kd5lite POP3 server ready\r\n", MailProtocol::pop3},
        {"-ERR too busy", MailProtocol::pop3},
        {"+OK", MailProtocol::pop3},
        {"+OKAY", MailProtocol::unknown},
        {"+ok ready", MailProtocol::unknown}, // POP3's indicators are upper case
        {"* OK [CAPABILITY IMAP4rev1] ready\r\n", MailProtocol::imap},
        {"* ok ready", MailProtocol::imap},
        {"* PREAUTH logged in", MailProtocol::imap},
        {"* BYE too busy", MailProtocol::imap},
        {"*OK", MailProtocol::unknown},
        {"* OKAY", MailProtocol::unknown},
        {"+ go ahead", MailProtocol::unknown},
        {"220 smtp.example.org ESMTP", MailProtocol::unknown},
        {"", MailProtocol::unknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(greeting_protocol(c.line), c.speaks) << c.line;
    }
}

// A port of the other protocol: its greeting is shown, failed, with the protocol it is of, and the probe ends at the
// greeting as a check would.
TEST_F(MailProbe, ShowsTheOtherProtocolsGreeting) {
    for (bool imap_account : {false, true}) {
        SCOPED_TRACE(imap_account ? "IMAP account at a POP3 server" : "POP3 account at an IMAP server");
        serve(!imap_account, 0);
        settings_set(Key::Protocol, imap_account ? "1" : "0", 0);
        std::vector<ProbeStage> stages;
        const CheckOutcome outcome =
            mail_probe(read_account(0), true, [&](const ProbeStage& stage) { stages.push_back(stage); });
        EXPECT_EQ(outcome.step, CheckStep::greeting);
        ASSERT_FALSE(stages.empty());
        const ProbeStage& greeting = stages.back();
        EXPECT_EQ(greeting.step, CheckStep::greeting);
        EXPECT_FALSE(greeting.ok);
        EXPECT_EQ(greeting.speaks, imap_account ? MailProtocol::pop3 : MailProtocol::imap);
        EXPECT_EQ(greeting.greeting, imap_account ? "+OK kd5lite POP3 server ready" : "* OK kd5lite IMAP server ready");
    }
}

// The try with TLS from the first byte on the port an account without TLS names: a port that wants TLS shows its
// certificate (refused without a pin, taken with one, then the greeting under TLS); a port in clear shows none.
TEST_F(MailProbe, TlsTryShowsWhetherThePortWantsTls) {
    struct Case {
        const char* name;
        bool imap;
        int served_tls;
        bool pin;
        std::string stages;
        bool certificate_shown;
    } cases[] = {
        {"pop3 port with TLS, no pin", false, 2, false, "name lookup, connection, TLS (failed)", true},
        {"imap port with TLS, pinned", true, 2, true, "name lookup, connection, TLS, greeting", true},
        {"pop3 port in clear", false, 0, false, "name lookup, connection, TLS (failed)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve(c.imap, c.served_tls);
        settings_set(Key::Security, "0", 0);
        settings_set(Key::TlsFingerprint, c.pin ? own_.fingerprint.c_str() : "", 0);
        std::string steps;
        bool shown = false;
        mail_probe_tls(read_account(0), [&](const ProbeStage& stage) {
            steps +=
                std::string(steps.empty() ? "" : ", ") + check_step_name(stage.step) + (stage.ok ? "" : " (failed)");
            shown = shown || (stage.step == CheckStep::tls && stage.certificate.fingerprint == own_.fingerprint);
        });
        EXPECT_EQ(steps, c.stages);
        EXPECT_EQ(shown, c.certificate_shown);
    }
}

// A certificate the system trusts, but for another host: the refusal says so and names the names it is for; one
// refused for its issuer does not.
TEST_F(MailProbe, CertificateForAnotherHostNamesItsNames) {
    TestAuthority authority(dir_.path("pki"), "test");
    TrustedAuthority trusted(authority);
    const TestAuthority::Issued other = authority.issue("other", "DNS:other.example.org,DNS:mail.example.org");
    struct Case {
        const char* name;
        const TestAuthority::Issued* certificate;
        bool other_host;
        std::vector<std::string> names;
    } cases[] = {
        {"trusted, for other names", &other, true, {"other.example.org", "mail.example.org"}},
        {"self-signed, for this address", &own_, false, {"127.0.0.1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve(true, 2, "secret", c.certificate);
        std::vector<ProbeStage> tls;
        const CheckOutcome outcome = mail_probe(read_account(0), false, [&](const ProbeStage& stage) {
            if (stage.step == CheckStep::tls) {
                tls.push_back(stage);
            }
        });
        EXPECT_EQ(outcome_differs(outcome, CheckStep::tls, CheckFailure::certificate, kAnyError), "");
        ASSERT_EQ(tls.size(), 1u);
        EXPECT_EQ(tls[0].other_host, c.other_host) << tls[0].refusal;
        EXPECT_EQ(tls[0].certificate.names, c.names);
    }
}

} // namespace
