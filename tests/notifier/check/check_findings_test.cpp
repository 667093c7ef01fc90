// SPDX-License-Identifier: GPL-3.0-or-later
// What kd5lite --check says of the mistakes people make with a mail account, against the scripted servers: each in
// one plain sentence, within the time an account is given; what it shows of a server made safe for the terminal;
// and the progress it prints only where someone watches.

#include "notifier/check/check_report.h"
#include "settings/refresh_token.h"
#include "tests/mail/test_pki.h"
#include "tests/notifier/check/check_fixture.h"
#include "tests/support/oauth2_provider.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

// A port on loopback where nothing listens: bound, so that no other program takes it meanwhile, but not listening.
class DeadPort {
public:
    DeadPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~DeadPort() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

class CheckFindings : public Check {
public:
    void SetUp() override {
        Check::SetUp();
        std::filesystem::create_directory(dir_.path("pki"));
        home_ = TestAuthority::self_signed(dir_.path("pki"), "home", "IP:127.0.0.1");
    }

    // Account 0 at 127.0.0.1:port as taro / secret, by protocol (0 POP3, 1 IMAP) and security.
    void account(int port, const char* protocol, const char* security = "0") {
        tool_write_account(0, "127.0.0.1:" + std::to_string(port), "taro", "secret");
        tool_write("Protocol", protocol, 0);
        tool_write("Security", security, 0);
    }
    std::vector<std::string> tls(const TestAuthority::Issued& certificate) const {
        return {"--tls", "implicit", "--cert", certificate.certificate_file, "--key", certificate.key_file};
    }
    int pop3(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {KD5LITE_POP3SERVER, "--user", "taro:secret"});
        return program(options);
    }
    int imap(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {KD5LITE_IMAPSERVER, "--user", "taro:secret"});
        return program(options);
    }

    TestAuthority::Issued home_;
};

// Each common mistake gets its sentence as the account's one FAIL line, well within 15 s: at this scale an account
// has 3.75 s, where a mute server alone held the check for half a minute before (two minutes at real timing).
TEST_F(CheckFindings, EachCommonMistakeGetsItsSentenceInTime) {
    DeadPort dead;
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    TestAuthority authority(dir_.path("pki"), "test");
    TrustedAuthority trusted(authority); // the check inherits the trust store
    const TestAuthority::Issued other = authority.issue("other", "DNS:other.example.org");
    struct Row {
        const char* mistake;
        std::function<void(CheckFindings&)> arrange;
        std::string sentence;
    };
    const Row rows[] = {
        {"a server that accepts and never greets",
         [](CheckFindings& t) {
             t.account(t.pop3({"--fault", "mute"}), "0");
         },
         "FAIL account 1 (red): connected, but the server sent nothing in "},
        {"IMAP in clear on the TLS port", [](CheckFindings& t) { t.account(t.imap(t.tls(t.home_)), "1"); },
         "FAIL account 1 (red): this port wants 2.SSL/TLS (kd5lite_op, 连接 tab): in clear the server "},
        {"POP3 on the IMAP port", [](CheckFindings& t) { t.account(t.imap(), "0"); },
         "FAIL account 1 (red): this port speaks IMAP: choose 1.IMAP (kd5lite_op, 连接 tab)\n"},
        {"IMAP on the POP3 port", [](CheckFindings& t) { t.account(t.pop3(), "1"); },
         "FAIL account 1 (red): this port speaks POP3: choose 0.POP3 (kd5lite_op, 连接 tab)\n"},
        {"nothing listening", [&](CheckFindings& t) { t.account(dead.port(), "0"); },
         "FAIL account 1 (red): nothing listens on 127.0.0.1:" + std::to_string(dead.port()) +
             ": check the server name and its port (kd5lite_ap, 账户 tab)\n"},
        {"a refused login",
         [](CheckFindings& t) {
             t.account(t.program({KD5LITE_POP3SERVER, "--user", "taro:other"}), "0");
         },
         "FAIL account 1 (red): the server refused the login: check the ID and type the password again (kd5lite_ap, "
         "账户 tab)\n"},
        {"a revoked sign-in",
         [&](CheckFindings& t) {
             t.account(t.pop3(t.tls(t.home_)), "0", "2");
             tool_write("TlsFingerprint", t.home_.fingerprint.c_str(), 0);
             tool_write("Auth", "1", 0);
             tool_write("OAuthSource", "1", 0);
             tool_write("OAuthProvider", "custom", 0);
             tool_write("TokenUrl", provider.url("/token").c_str(), 0);
             tool_write("ClientId", "kd5lite-test", 0);
             ASSERT_EQ(refresh_token_file_save(0, provider.issue("taro").refresh_token), 0);
             ASSERT_TRUE(provider.revoke("taro"));
         },
         "FAIL account 1 (red): the provider refused the sign-in (revoked, or expired after months unused): sign in "
         "again (kd5lite_op, 连接 tab, 登录…)\n"},
        {"a certificate for another host", [&](CheckFindings& t) { t.account(t.imap(t.tls(other)), "1", "2"); },
         "FAIL account 1 (red): TLSv1.3, CN=other, sha256 " + other.fingerprint +
             ", valid for other.example.org, not for 127.0.0.1: use the name it names as the server name (kd5lite_ap, "
             "账户 tab)\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mistake);
        tool_write("Auth", "0", 0);
        tool_write("TlsFingerprint", "", 0);
        row.arrange(*this);
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(check(), 1) << output_;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
        EXPECT_TRUE(says(row.sentence)) << output_;
        EXPECT_EQ(count_of("\n" + output_, "\nFAIL "), 1) << output_;
        const std::size_t fail = output_.find("FAIL ");
        const std::string line = output_.substr(fail, output_.find('\n', fail) - fail);
        EXPECT_EQ(count_of(line, "sign in again"), std::string(row.mistake) == "a revoked sign-in" ? 1 : 0) << line;
        EXPECT_FALSE(says("pin this fingerprint")) << output_;
    }
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// A certificate's subject is the server's text: a CSI (U+009B, which many terminals take for ESC [) and a
// right-to-left override (U+202E) in its CN reach the terminal escaped, never as the bytes themselves.
TEST_F(CheckFindings, CertificateSubjectReachesTheTerminalEscaped) {
    const TestAuthority::Issued evil =
        TestAuthority::self_signed(dir_.path("pki"), "evil\u009b31m\u202egnp.", "IP:127.0.0.1");
    account(pop3(tls(evil)), "0", "2");
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL account 1 (red): TLSv1.3, CN=evil\\u009B31m\\u202Egnp., sha256 " + evil.fingerprint +
                     ", not trusted (self-signed certificate): if the server is yours, pin this fingerprint"))
        << output_;
    EXPECT_FALSE(says("\u009b")) << output_;
    EXPECT_FALSE(says("\u202e")) << output_;
}

// The account's domain is asked what it publishes, one line beside the server's: a domain that cannot exist
// publishes nothing, and the check says so without asking any network.
TEST_F(CheckFindings, SaysWhatTheDomainPublishes) {
    const int port = program({KD5LITE_POP3SERVER, "--user", "taro@kd5lite.invalid:secret"});
    tool_write_account(0, "127.0.0.1:" + std::to_string(port), "taro@kd5lite.invalid", "secret");
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("info account 1 (red): kd5lite.invalid publishes no POP3 server\n")) << output_;
    EXPECT_LT(output_.find("TCP connection"), output_.find("publishes"));
}

// Progress lines, one as each step starts, go to a terminal only: a file or a pipe gets the findings alone.
TEST(CheckReportProgress, GoesToATerminalOnly) {
    for (bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "file");
        int reader = -1;
        std::FILE* out = nullptr;
        if (terminal) {
            reader = posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(reader, 0);
            ASSERT_EQ(grantpt(reader), 0);
            ASSERT_EQ(unlockpt(reader), 0);
            out = std::fopen(ptsname(reader), "w");
        } else {
            out = std::tmpfile();
        }
        ASSERT_NE(out, nullptr);
        CheckReport report(out);
        report.progress("account 1 (red)", "connecting to 127.0.0.1:995");
        report.ok("account 1 (red)", "TCP connection to 127.0.0.1");
        std::string written;
        char buffer[512];
        if (terminal) {
            // Both lines are in the terminal's buffer by now: each is flushed as it is written.
            while (written.find("TCP connection") == std::string::npos) {
                const ssize_t n = read(reader, buffer, sizeof buffer);
                ASSERT_GT(n, 0);
                written.append(buffer, static_cast<std::size_t>(n));
            }
            std::fclose(out);
            close(reader);
        } else {
            std::rewind(out);
            written.assign(buffer, std::fread(buffer, 1, sizeof buffer, out));
            std::fclose(out);
        }
        EXPECT_EQ(written.find("...  account 1 (red): connecting to 127.0.0.1:995") != std::string::npos, terminal)
            << written;
        EXPECT_NE(written.find("ok   account 1 (red): TCP connection to 127.0.0.1"), std::string::npos) << written;
    }
}

} // namespace
