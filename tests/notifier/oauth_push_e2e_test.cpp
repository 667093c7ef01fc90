// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite binary watching an OAuth2 IMAP account on a real Dovecot whose oauth2 passdb asks the test
// provider about each token. The account's token command is a script that trades the account's refresh token at
// the provider for an access token, as token helpers do; the provider's access tokens live five seconds (less
// does not outlast a login on a loaded machine). The interval is an hour, so every pass these stories wait for is
// the push's.

#include "tests/mail/test_pki.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

std::string joined(const std::vector<std::string>& commands, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

constexpr char kStarted[] = "Email arrival of the mail push --> A start[No.0]";

// The token command: one refresh at the provider; the access token on standard output (and, for the test alone, in
// a file outside the settings), the provider's error on standard error.
constexpr char kTokenScript[] = R"(#!/usr/bin/python3 -S
import http.client, json, sys, urllib.parse
url = urllib.parse.urlsplit(sys.argv[1])
link = http.client.HTTPConnection(url.hostname, url.port, timeout=5)
link.request("POST", url.path, urllib.parse.urlencode({"grant_type": "refresh_token", "refresh_token": sys.argv[2]}),
             {"Content-Type": "application/x-www-form-urlencoded"})
answer = link.getresponse()
body = json.loads(answer.read() or b"{}")
if answer.status != 200:
    print(body.get("error", "refused"), file=sys.stderr)
    sys.exit(3)
with open(sys.argv[3], "a") as issued:
    print(body["access_token"], file=issued)
print(body["access_token"])
)";

class OAuthPush : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.path("pki"));
        std::filesystem::create_directory(dir_.path("bin"));
        ASSERT_TRUE(provider_.start(5.0)) << provider_.error();
        const TestAuthority::Issued own = TestAuthority::self_signed(dir_.path("pki"), "mail", "IP:127.0.0.1");
        DovecotServer::Options options{own.certificate_file, own.key_file};
        options.oauth2_introspection_url = provider_.url("/introspect");
        dovecot_ = std::make_unique<DovecotServer>(options);
        dovecot_->add_user("alice", "not-used");
        ASSERT_TRUE(dovecot_->start()) << dovecot_->error() << dovecot_->log();

        dir_.write("bin/token", kTokenScript);
        chmod(dir_.path("bin/token").c_str(), 0700);
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "60");
        tool_write("BeepTime", "1");
        tool_write("Switch", "1", 0);
        tool_write("ServerName", dovecot_->server_name(true).c_str(), 0);
        tool_write("ID", "alice", 0);
        tool_write("Protocol", "1", 0);
        tool_write("Security", "2", 0);
        tool_write("TlsFingerprint", own.fingerprint.c_str(), 0);
        tool_write("Auth", "1", 0);
        tool_write("OAuthSource", "3", 0);
        const std::string command = dir_.path("bin/token") + " " + provider_.url("/token") + " " +
                                    provider_.issue("alice").refresh_token + " " + dir_.path("bin/issued");
        tool_write("TokenCommand", command.c_str(), 0);
    }

    // The notifier monitoring, its watcher in IDLE. At real timing, unlike the other stories: the token command is
    // a Python program, which a loaded machine starts slowly, and its time limit scales with the rest.
    void start_monitoring() {
        notifier_ = std::make_unique<NotifierProcess>(dir_, std::map<std::string, std::string>{
                                                                {"KD5LITE_TIME_SCALE", "1"}});
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience));
        tool_write("Request", "1");
        ASSERT_TRUE(wait_until([&] { return count_of(log_text(dir_, "log"), kStarted) >= 1; }, kPatience))
            << diagnosis();
    }

    void deliver(const std::string& from) {
        ASSERT_TRUE(dovecot_->deliver("alice", "From: " + from + "\r\nSubject: Hello\r\n\r\nHi.\r\n"));
    }

    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen =
            wait_until([&] { return joined(lamp_.commands(), from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' since command " << from << "\n" << diagnosis();
        return lamp_.commands().size();
    }

    // The lamp after the first pass and the one the watcher's start brings: nothing lit.
    std::size_t expect_two_dark_passes() {
        bool seen = wait_until([&] { return count_of(joined(lamp_.commands(), 0), "CLS OF0 OF1 OF2 ") >= 2; },
                               kPatience);
        EXPECT_TRUE(seen) << diagnosis();
        return lamp_.commands().size();
    }

    // Whether the provider no longer takes the last access token the command handed out, nor any before it.
    bool tokens_expired() {
        std::string issued = dir_.read("bin/issued");
        issued.erase(issued.find_last_not_of('\n') + 1);
        const std::string last = issued.substr(issued.find_last_of('\n') + 1);
        return !last.empty() &&
               provider_.request("POST", "/introspect", "token=" + last).find("false") != std::string::npos;
    }

    long refreshes() { return provider_.stats()["refresh_token"]; }

    std::string diagnosis() const {
        return "lamp: " + joined(lamp_.commands(), 0) + "\nerr:\n" + log_text(dir_, "err") + "log:\n" +
               log_text(dir_, "log") + "dovecot:\n" + dovecot_->log();
    }

    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
    LampSim lamp_{lamp_dir()};
    OAuth2Provider provider_;
    std::unique_ptr<DovecotServer> dovecot_;
    std::unique_ptr<NotifierProcess> notifier_;
};

// The IDLE connection signed in with a token that has long expired still brings each delivery at once, counted on
// that connection: the pass it brings needs no token and no login of its own. Catches an OAuth2 account left out
// of the push, a pass that logs in again (with the watcher's expired token, or a fresh one), and a watcher that
// drops its connection when its token expires.
TEST_F(OAuthPush, DeliveriesReachTheLedThroughIdleLongAfterTheTokenExpired) {
    start_monitoring();
    std::size_t seen = expect_two_dark_passes();
    ASSERT_TRUE(wait_until([&] { return tokens_expired(); }, kPatience)) << dir_.read("bin/issued");

    const long before = refreshes();
    const int logins = count_of(dovecot_->log(), "Login: user=<alice>");
    for (int delivery = 1; delivery <= 2; ++delivery) {
        deliver("Taro <taro@example.com>");
        seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
        ASSERT_TRUE(dovecot_->mark_all_read("alice"));
        seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    }
    EXPECT_EQ(refreshes(), before);
    EXPECT_EQ(count_of(dovecot_->log(), "Login: user=<alice>"), logins) << diagnosis();
    EXPECT_EQ(count_of(log_text(dir_, "log"), kStarted), 1) << diagnosis(); // one connection all along
    EXPECT_EQ(log_text(dir_, "err"), "");
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini").find(dir_.read("bin/issued").substr(0, 20)), std::string::npos);
}

// The sender filter over the OAuth2 account: a delivery from another sender lights nothing (the count of hits
// stays 0, so it brings no pass); one from the sender the filter names lights the LED, and the LED goes out when
// that one is read elsewhere although the other still waits unread.
TEST_F(OAuthPush, TheSenderFilterDecidesWhatThePushLights) {
    tool_write("SpecialAddress1", "taro@example.com", 0);
    tool_write("SpecialSearch1", "1", 0);
    start_monitoring();
    std::size_t seen = expect_two_dark_passes();

    deliver("Hanako <hanako@example.com>");
    deliver("Taro <taro@example.com>");
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(dovecot_->doveadm({"flags", "add", "-u", "alice", "\\Seen", "mailbox", "INBOX", "from", "taro"}));
    expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_EQ(count_of(joined(lamp_.commands(), 0), "BEP"), 1) << diagnosis();
    EXPECT_EQ(log_text(dir_, "err"), "");
}

} // namespace
