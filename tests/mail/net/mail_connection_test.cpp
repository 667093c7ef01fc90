// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/mail_connection.h"

#include "mail/net/cancel_signal.h"

#include "tests/mail/mail_test_env.h"
#include "tools/pop3server/pop3_server.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using MailConnectionTest = MailTest;

std::unique_ptr<Pop3Server> greeting_server(const std::string& greeting, Pop3Fault fault = Pop3Fault::none) {
    Pop3Script script;
    script.greeting = greeting;
    script.fault = fault;
    auto server = std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{}, script);
    EXPECT_TRUE(server->start()) << server->error();
    return server;
}

// The receives a line protocol such as IMAP uses: lines and exact blocks out of one stream, however the bytes
// are cut, and each bounded by its own time-out.
TEST_F(MailConnectionTest, LineAndExactReceivesSplitOneStream) {
    auto server = greeting_server("* OK ready\r\n* 1 FETCH {5}\r\nab\r\nc)\r\n");
    MailConnection c;
    ASSERT_EQ(c.resolve(server->server_name().c_str(), 143), 0);
    ASSERT_EQ(c.connect(), 0);
    std::string line;
    ASSERT_EQ(c.receive_line(line, 100, 2000), 0);
    EXPECT_EQ(line, "* OK ready\r\n");
    line.clear();
    ASSERT_EQ(c.receive_line(line, 100, 2000), 0);
    EXPECT_EQ(line, "* 1 FETCH {5}\r\n");
    char literal[5];
    ASSERT_EQ(c.receive_exact(literal, sizeof literal, 2000), 0);
    EXPECT_EQ(std::string(literal, 5), "ab\r\nc");
    EXPECT_EQ(c.wait_readable(0), 1); // the rest is already taken in
    line.clear();
    ASSERT_EQ(c.receive_line(line, 100, 2000), 0);
    EXPECT_EQ(line, ")\r\n");
    EXPECT_TRUE(error_lines().empty());
}

TEST_F(MailConnectionTest, ReceiveFailuresSayWhy) {
    struct Case {
        const char* name;
        std::string greeting;
        Pop3Fault fault;
        int timeout_ms;
        int error;
    } cases[] = {
        {"silent server", "* OK", Pop3Fault::mute, 200, ETIMEDOUT},
        {"line too long", std::string(200, 'a') + "\r\n", Pop3Fault::none, 5000, EMSGSIZE},
        {"closed mid-line", "* OK", Pop3Fault::close, 5000, ENOTCONN},
    };
    for (const auto& k : cases) {
        auto server = greeting_server(k.greeting, k.fault);
        MailConnection c;
        ASSERT_EQ(c.resolve(server->server_name().c_str(), 143), 0);
        ASSERT_EQ(c.connect(), 0);
        std::string line;
        EXPECT_EQ(c.receive_line(line, 100, k.timeout_ms), -1) << k.name;
        EXPECT_EQ(errno, k.error) << k.name;
        EXPECT_EQ(error_lines().back(),
                  "LAN operation ---> The reception is abnormal[err: " + std::to_string(k.error) + "]")
            << k.name;
    }
}

// A stop cuts a receive short: the caller hears ECANCELED, and no error line says the line failed.
TEST_F(MailConnectionTest, AReceiveCutShortByAStopIsNoError) {
    auto server = greeting_server("* OK", Pop3Fault::mute);
    MailConnection c;
    CancelSignal stop;
    c.set_cancel(stop.fd());
    ASSERT_EQ(c.resolve(server->server_name().c_str(), 143), 0);
    ASSERT_EQ(c.connect(), 0);
    stop.raise();
    std::string line;
    EXPECT_EQ(c.receive_line(line, 100, 60000), -1);
    EXPECT_EQ(errno, ECANCELED);
    char block[4];
    EXPECT_EQ(c.receive_exact(block, sizeof block, 60000), -1);
    EXPECT_EQ(errno, ECANCELED);
    EXPECT_TRUE(error_lines().empty());
}

// Bytes that came in clear behind the answer agreeing to TLS would be taken as the server's first words under
// TLS (command injection): the handshake is refused instead.
TEST_F(MailConnectionTest, ClearBytesAheadOfTheHandshakeRefuseTls) {
    auto server = greeting_server("* OK ready\r\n* OK injected\r\n");
    MailConnection c;
    ASSERT_EQ(c.resolve(server->server_name().c_str(), 143), 0);
    ASSERT_EQ(c.connect(), 0);
    std::string line;
    ASSERT_EQ(c.receive_line(line, 100, 2000), 0);
    ASSERT_EQ(c.wait_readable(2000), 1);
    EXPECT_EQ(c.start_tls(nullptr), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> TLS handshake is abnormal[err: 71]");
}

// A reply reader can be driven over a socketpair, with no server and no name: the seam fuzzers use.
TEST_F(MailConnectionTest, AdoptedSocketCarriesTheReceives) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    MailConnection c;
    c.adopt(pair[0], "scripted");
    const std::string script = "+OK 12 octets\r\nFrom: a@b.c\r\n.\r\n";
    ASSERT_EQ(write(pair[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(pair[1]);
    char buffer[64];
    int length = 32;
    ASSERT_EQ(c.recv_line(buffer, &length, '\n'), 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "+OK 12 octets\r");
    int budget = MailConnection::receive_budget_ms();
    EXPECT_EQ(c.recv_more(buffer, sizeof buffer, budget), 16);
    EXPECT_EQ(c.recv_more(buffer, sizeof buffer, budget), 0); // the other end closed
    EXPECT_EQ(c.host(), "scripted");
}

TEST_F(MailConnectionTest, ServerNameWithoutPortTakesTheDefaultPort) {
    MailConnection c;
    EXPECT_EQ(c.resolve("127.0.0.1", 0), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> The port number acquisition is abnormal[error: 2]");
    EXPECT_EQ(c.resolve("127.0.0.1", 993), 0);
    EXPECT_EQ(c.host(), "127.0.0.1");
}

// Connections on different threads share nothing: each reads its own server's greeting.
TEST_F(MailConnectionTest, ConnectionsOnTwoThreadsAreIndependent) {
    auto first = greeting_server("+OK first\r\n");
    auto second = greeting_server("+OK second\r\n");
    std::string got[2];
    auto read_greeting = [](const std::string& server, std::string& line) {
        MailConnection c;
        if (c.resolve(server.c_str(), "pop3") == 0 && c.connect() == 0) {
            c.receive_line(line, 100, 2000);
        }
    };
    std::thread a(read_greeting, first->server_name(), std::ref(got[0]));
    std::thread b(read_greeting, second->server_name(), std::ref(got[1]));
    a.join();
    b.join();
    EXPECT_EQ(got[0], "+OK first\r\n");
    EXPECT_EQ(got[1], "+OK second\r\n");
}

// A deadline on the thread cuts every kind of wait short, whatever the wait's own time (here a receive budget of
// two minutes, a line wait of a minute, a TLS handshake of 21 s): each fails with ETIMEDOUT soon after it.
// A later deadline inside it keeps the earlier one, and once the scope ends the waits are their own again.
TEST_F(MailConnectionTest, ThreadDeadlineCutsEveryWaitShort) {
    using Clock = std::chrono::steady_clock;
    Timing t = timing();
    t.select_timeout_ms = 2000;
    t.connect_timeout_ms = 21000;
    set_timing(t);
    auto mute = greeting_server("+OK", Pop3Fault::mute);
    struct Case {
        const char* wait;
        std::function<int(MailConnection&)> run;
    } cases[] = {
        {"line of the POP3 check", [](MailConnection& c) {
             char line[64 + kRecvLineSlack];
             int length = 64;
             return c.recv_line(line, &length, '\n');
         }},
        {"line with a minute's time-out", [](MailConnection& c) {
             std::string line;
             return c.receive_line(line, 100, 60000);
         }},
        {"TLS handshake", [](MailConnection& c) { return c.start_tls(nullptr); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.wait);
        MailConnection c;
        ASSERT_EQ(c.resolve(mute->server_name().c_str(), 110), 0);
        ASSERT_EQ(c.connect(), 0);
        const Clock::time_point start = Clock::now();
        ThreadDeadline outer(start + std::chrono::milliseconds(300));
        ThreadDeadline later(start + std::chrono::minutes(5));
        EXPECT_EQ(k.run(c), -1);
        EXPECT_EQ(errno, ETIMEDOUT);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    }
    MailConnection c;
    ASSERT_EQ(c.resolve(mute->server_name().c_str(), 110), 0);
    ASSERT_EQ(c.connect(), 0);
    EXPECT_EQ(c.wait_readable(50), 0); // no deadline any more: the wait simply runs out
}

} // namespace
