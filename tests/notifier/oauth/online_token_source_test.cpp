// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier's OAuthSource 2: the desktop's online accounts (python3-dbusmock on a private session bus) give the
// token and say where the mail is; Dovecot takes the token through its oauth2 passdb and the test provider.
#include "notifier/oauth/online_token_source.h"

#include "lamp/lamp.h"
#include "mail/core/check_outcome.h"
#include "mail/mail_check.h"
#include "notifier/announcements.h"
#include "notifier/check/check.h"
#include "notifier/jobs.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"
#include "tests/support/online_accounts_mock.h"
#include "tests/support/private_bus.h"
#include "tools/pop3server/pop3_message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>

namespace {

constexpr int kWaitMs = 20000;
constexpr char kId[] = "account_1765000000_0";

// Where the online account sends the check, and which TLS: the account's own Security wins where it is set.
TEST(PlaceAtOnlineAccount, HostUserAndImapFromTheOnlineAccountSecurityWhereUnset) {
    struct Row {
        bool ssl, tls, security_set;
        MailSecurity own, placed;
    };
    const Row rows[] = {
        {true, false, false, MailSecurity::plain, MailSecurity::tls},
        {false, true, false, MailSecurity::plain, MailSecurity::stls},
        {false, false, false, MailSecurity::tls, MailSecurity::plain}, // the check then refuses OAuth2 in clear
        {true, false, true, MailSecurity::stls, MailSecurity::stls},
        {true, false, true, MailSecurity::plain, MailSecurity::plain}, // "0" set on purpose is refused the same way
    };
    for (const Row& row : rows) {
        Account account;
        account.server = "stale.example.com";
        account.user = "nobody";
        account.security = row.own;
        OnlineMailAccount online;
        online.imap_host = "imap.gmail.com:993";
        online.imap_user = "alice@gmail.com";
        online.imap_use_ssl = row.ssl;
        online.imap_use_tls = row.tls;
        place_at_online_account(account, online, row.security_set);
        EXPECT_EQ(account.server, "imap.gmail.com:993");
        EXPECT_EQ(account.user, "alice@gmail.com");
        EXPECT_EQ(account.protocol, MailProtocol::imap);
        EXPECT_EQ(account.security, row.placed) << row.ssl << row.tls << row.security_set;
    }
}

// Account 0 takes its token from the online account kId; ServerName, ID and Protocol hold stale values that the
// online account's Mail interface must override.
class OnlineSource : public MailTest {
protected:
    OnlineSource() {
        install_online_token_source();
        settings_set(Key::Switch, "1", 0);
        settings_set(Key::Auth, "1", 0);
        settings_set(Key::OAuthSource, "2", 0);
        settings_set(Key::OnlineAccount, kId, 0);
        settings_set(Key::ServerName, "stale.invalid", 0);
        settings_set(Key::ID, "nobody", 0);
        settings_set(Key::Password, "unused", 0);
        settings_set(Key::Protocol, "0", 0);
        Timing t = timing();
        t.token_request_ms = kWaitMs;
        t.monitor_step_ms = 50; // the monitor's stop is read once a step
        t.sound_pause_ms = 10;
        set_timing(t);
    }

    // kd5lite --check's account part, as its lines.
    static std::string check_report() {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        CheckReport report(out);
        check_accounts(report);
        std::fclose(out);
        std::string lines(text, size);
        std::free(text);
        return lines;
    }

    std::string last_error() const { return error_lines().empty() ? "" : error_lines().back(); }

    // Runs the mail monitor until its first pass has found mail on account 0, then stops it as the 服务 tab does;
    // whether LED 0 was lit. No lamp is plugged in: the lamp's own lines go to the error log.
    bool monitor_lights_led_0() {
        settings_set(Key::StateLog, "107");
        settings_set(Key::IntervalTimer, "1");
        settings_put(Key::Request, "0");
        settings_put(Key::State, "1");
        setenv("KD5LITE_SERIAL_DIR", dir_.dir().c_str(), 1);
        std::promise<void> ended;
        auto done = ended.get_future();
        // Detached, so that a monitor that never ends fails the test instead of hanging it.
        std::thread([ended = std::move(ended)]() mutable {
            mail_monitor();
            ended.set_value();
        }).detach();
        const bool found = wait_until(
            [&] {
                return dir_.exists("log07.log") &&
                       dir_.read("log07.log").find("There is email arrival of the mail[No.0]") != std::string::npos;
            },
            kWaitMs);
        settings_put(Key::Request, "4");
        const bool stopped = done.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
        unsetenv("KD5LITE_SERIAL_DIR");
        return found && stopped && g_lamp.lit[0] == 1;
    }

    PrivateSessionBus bus_{dir_.dir()};
};

// The story: the desktop has the account; a check signs in at the host and as the user it names, with its token,
// and counts the mail; --check says the account is there and gives a token. Then the provider stops taking the
// credentials, then the user removes the account: each check fails with the line that says what to do in the
// desktop's settings, and --check says the same.
TEST_F(OnlineSource, ChecksTheOnlineAccountsMailboxAgainstDovecot) {
    ASSERT_TRUE(bus_.ok());
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(600)) << provider.error();
    const std::string pki = dir_.path("pki");
    std::filesystem::create_directory(pki);
    TestAuthority authority(pki, "trusted");
    TrustedAuthority trusted(authority);
    const TestAuthority::Issued certificate = authority.issue("mail", "IP:127.0.0.1");
    DovecotServer::Options options{certificate.certificate_file, certificate.key_file};
    options.oauth2_introspection_url = provider.url("/introspect");
    DovecotServer server(options);
    server.add_user("alice", "not-used");
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(server.deliver("alice", make_message("taro@example.com", "alice@kd5lite.test", "hello")));
    ASSERT_TRUE(server.deliver("alice", make_message("jiro@example.com", "alice@kd5lite.test", "hello")));

    // Its logs, which hold the token the test handed it, out of the settings directory that must not.
    const std::string goa_dir = dir_.path("goa");
    std::filesystem::create_directory(goa_dir);
    OnlineAccountsMock goa(goa_dir);
    ASSERT_TRUE(goa.wait_ready(kWaitMs)) << goa.log();
    ASSERT_TRUE(goa.add_mail_account(kId, "Google", "alice@kd5lite.test", server.server_name(true), "alice"));
    const std::string token = provider.issue("alice").access_token;
    ASSERT_TRUE(goa.set_token(kId, token));

    EXPECT_EQ(mail_check(0), 2) << last_error() << server.log();
    EXPECT_TRUE(error_lines().empty()) << last_error();
    std::string report = check_report();
    EXPECT_NE(report.find("online account " + std::string(kId) + ": IMAP " + server.server_name(true) + " as alice"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("the online account gives an access token"), std::string::npos) << report;
    EXPECT_NE(report.find("IMAP login accepted; count 2"), std::string::npos) << report;

    // The monitor lights the account's LED without ServerName, ID or Password, and its notification names the
    // mailbox the online account gave.
    for (Key k : {Key::ServerName, Key::ID, Key::Password}) {
        settings_set(k, "", 0);
    }
    take_announcements();
    EXPECT_TRUE(monitor_lights_led_0()) << dir_.read("log07.log") << last_error();
    const std::vector<Announcement> announced = take_announcements();
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].label, "alice@" + server.server_name(true));
    clear_error_log(); // the lamp is not plugged in

    ASSERT_TRUE(goa.expire_credentials(kId));
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_NE(last_error().find("check mail ---> The online account needs its credentials entered again: sign in "
                                "there again in the desktop's Settings → Online Accounts[no.0 error: 13]"),
              std::string::npos)
        << last_error();
    report = check_report();
    EXPECT_NE(report.find("sign in there again in the desktop's Settings → Online Accounts"), std::string::npos)
        << report;

    ASSERT_TRUE(goa.remove_account(kId));
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_NE(last_error().find("The online account is not there: add it again in the desktop's Settings → Online "
                                "Accounts"),
              std::string::npos)
        << last_error();
    EXPECT_NE(check_report().find("The online account is not there"), std::string::npos);
    EXPECT_EQ(all_files().find(token), std::string::npos); // no log holds the token
}

// Without the service (a session without GNOME Online Accounts) or without a chosen account: a line that says so,
// in the check as in --check, and no connection to the stale ServerName.
TEST_F(OnlineSource, NoServiceAndNoChosenAccountAreSaid) {
    ASSERT_TRUE(bus_.ok());
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_NE(last_error().find("The online accounts service cannot be reached (no online accounts service)"),
              std::string::npos)
        << last_error();
    EXPECT_NE(check_report().find("The online accounts service cannot be reached"), std::string::npos);

    settings_set(Key::OnlineAccount, "", 0);
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_NE(last_error().find("No online account is chosen: choose one (kd5lite_op, 连接 tab)[no.0 error: 22]"),
              std::string::npos)
        << last_error();
    for (const std::string& line : error_lines()) {
        EXPECT_EQ(line.find("stale.invalid"), std::string::npos) << line;
    }
}

// The same two as values: the check's outcome says no token for a desktop without the service, and unusable settings
// for an account without a chosen online account, at the token step, with the source's error numbers.
TEST_F(OnlineSource, NoServiceAndNoChosenAccountAreKindsOfTheOutcome) {
    ASSERT_TRUE(bus_.ok());
    struct Case {
        const char* online_account;
        CheckFailure failure;
        int error;
    } cases[] = {
        {kId, CheckFailure::no_token, ECONNREFUSED},
        {"", CheckFailure::settings, EINVAL},
    };
    for (const Case& c : cases) {
        clear_error_log();
        settings_set(Key::OnlineAccount, c.online_account, 0);
        CheckOutcome outcome;
        EXPECT_EQ(mail_check(0, &outcome), -1);
        EXPECT_EQ(outcome_differs(outcome, CheckStep::token, c.failure, c.error), "") << outcome.line;
    }
}

} // namespace
