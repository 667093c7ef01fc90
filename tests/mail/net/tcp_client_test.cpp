// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/tcp_client.h"

#include "tests/mail/mail_test_env.h"
#include "tools/pop3server/pop3_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class TcpClient : public MailTest {
protected:
    ~TcpClient() override {
        c_close_socket();
        c_end_socket();
    }

    // Starts a server that greets with the given bytes (and misbehaves at event at) and connects to it.
    void connect_to(const std::string& greeting, Pop3Fault fault = Pop3Fault::none, const char* at = "GREETING") {
        Pop3Script script;
        script.greeting = greeting;
        script.fault = fault;
        script.fault_at = at;
        server_ = std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        ASSERT_EQ(c_init_socket(), 0);
        ASSERT_EQ(c_make_socket(server_->server_name().c_str()), 0);
        ASSERT_EQ(c_connect_socket(), 0);
    }

    std::unique_ptr<Pop3Server> server_;
};

// A loopback socket that listens (when backlog >= 0) but never accepts.
struct Listener {
    explicit Listener(int backlog) {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t n = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &n);
        if (backlog >= 0) {
            listen(fd, backlog);
        }
    }
    ~Listener() { close(fd); }
    std::string server_name() const { return "127.0.0.1:" + std::to_string(ntohs(address.sin_port)); }

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
};

constexpr unsigned char kGuard = 'U';

TEST_F(TcpClient, LineReceiveStoresAtMostTwoBytesPastTheCapacity) {
    struct Case {
        std::string sent;   // the first line (and what follows it)
        int out_length;     // with capacity 8
        std::string stored; // buffer[0 .. capacity + 1]; U is the guard byte
        std::string next;   // the line the next receive gets, "" when none is read
    } cases[] = {
        {"abc\r\nnext\r\n", 4, std::string("abc\r\n\0\0\0UU", 10), "next\r\n"}, // only capacity bytes cleared
        {"01234567\r\n", 9, "01234567\r\n", ""},                                // line end right after a full buffer
        {"012345678\r\nnext\r\n", 9, "012345678\r", "next\r\n"},                // cut: the LF is read and dropped
        {std::string(4000, 'a') + "\r\nnext\r\n", 9, "aaaaaaaaaa", "next\r\n"},
        {std::string("\0\xff\x01\r\n", 5), 4, std::string("\0\xff\x01\r\n\0\0\0UU", 10), ""}, // binary kept
    };
    for (const auto& c : cases) {
        connect_to(c.sent);
        char buffer[32];
        std::memset(buffer, kGuard, sizeof buffer);
        int length = 8;
        ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
        EXPECT_EQ(length, c.out_length);
        EXPECT_EQ(std::string(buffer, 10), c.stored);
        for (std::size_t i = 10; i < sizeof buffer; ++i) {
            ASSERT_EQ(static_cast<unsigned char>(buffer[i]), kGuard) << "written past capacity + 2 at " << i;
        }
        if (!c.next.empty()) {
            length = 8;
            ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
            EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length) + 1), c.next);
        }
        c_close_socket();
        EXPECT_TRUE(error_lines().empty());
    }
}

TEST_F(TcpClient, PeerClosingMidLineFillsZerosToTheCutWithoutError) {
    connect_to("+OK par", Pop3Fault::close);
    char buffer[1100];
    std::memset(buffer, kGuard, sizeof buffer);
    int length = 1024;
    ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
    EXPECT_EQ(length, 1025);
    EXPECT_EQ(std::string(buffer, 1026), "+OK par" + std::string(1026 - 7, '\0'));
    EXPECT_EQ(static_cast<unsigned char>(buffer[1026]), kGuard);
    EXPECT_TRUE(error_lines().empty());
}

TEST_F(TcpClient, ReceiveFailuresAreBoundedAndLogged) {
    struct Case {
        const char* name;
        std::string greeting;
        Pop3Fault fault;
        int wait_ms; // the stalls give up at once; the endless line must hit the byte limit, not a busy machine's wait
        std::string line;
    } cases[] = {
        {"never answers", "+OK\r\n", Pop3Fault::mute, 1, "LAN operation ---> 受信(select)異常[err: 0]"},
        {"stops mid-line", "+OK wait", Pop3Fault::none, 1, "LAN operation ---> The reception is abnormal[err: 11]"},
        {"line never ends", "+OK\r\n", Pop3Fault::endless, 5000,
         "LAN operation ---> The reception is abnormal[err: 90]"},
    };
    for (const auto& c : cases) {
        Timing t = timing();
        t.select_timeout_ms = c.wait_ms; // also bounds a stalled byte
        set_timing(t);
        connect_to(c.greeting, c.fault);
        char buffer[1100];
        int length = 1024;
        EXPECT_EQ(c_recv_socket(buffer, &length, '\n'), -1) << c.name;
        ASSERT_FALSE(error_lines().empty()) << c.name;
        EXPECT_EQ(error_lines().back(), c.line) << c.name;
        c_close_socket();
    }
}

// A server that sends its line one byte at a time, each well within one wait, is still held to the waiting of
// one receive in all: the attempts times the wait for data.
TEST_F(TcpClient, TrickledLineGivesUpWhenTheReceivesWaitingIsSpent) {
    Timing t = timing();
    t.recv_attempts = 2; // three waits of 300 ms: the line has 900 ms of waiting, not the 15 s it trickles for
    set_timing(t);
    Pop3Script script;
    script.greeting = "+OK " + std::string(3000, 'a') + "\r\n";
    script.byte_pause_ms = 5;
    Pop3Server server({}, script);
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_EQ(c_make_socket(server.server_name().c_str()), 0);
    ASSERT_EQ(c_connect_socket(), 0);
    char buffer[1100];
    int length = 1024;
    EXPECT_EQ(c_recv_socket(buffer, &length, '\n'), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> The reception is abnormal[err: 110]");
}

TEST_F(TcpClient, BlockReceiveTakesOneCallOfAtMostTheCount) {
    connect_to("0123456789ABCDEF");
    char buffer[32];
    std::memset(buffer, kGuard, sizeof buffer);
    int length = 4; // clears four bytes only
    ASSERT_EQ(c_recv_socket_setlen(buffer, &length, 10), 0);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(static_cast<unsigned char>(buffer[10]), kGuard);
    length = 0;
    ASSERT_EQ(c_recv_socket_setlen(buffer, &length, 10), 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "ABCDEF");

    give_up_quickly();
    EXPECT_EQ(c_recv_socket_setlen(buffer, &length, 10), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> Reception (select) is abnormal[err: 0]");
}

TEST_F(TcpClient, SendAfterThePeerResetFailsInsteadOfRaisingSigpipe) {
    connect_to("+OK\r\n", Pop3Fault::reset, "USER");
    char buffer[1100];
    int length = 1024;
    ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
    ASSERT_EQ(c_send_socket("USER x\r\n", 8), 0);
    EXPECT_EQ(c_recv_socket(buffer, &length, '\n'), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> The reception is abnormal[err: 104]");
    EXPECT_EQ(c_send_socket("USER x\r\n", 8), -1);
    EXPECT_EQ(error_lines().back(), "LAN operation ---> The transmission of a message is abnormal[err: 32]");
}

TEST_F(TcpClient, SendToAPeerThatNeverReadsGivesUpWithinTheWait) {
    // The kernel completes the handshake, then the peer's buffers fill.
    Listener listener(1);
    ASSERT_EQ(c_make_socket(listener.server_name().c_str()), 0);
    ASSERT_EQ(c_connect_socket(), 0);

    std::string chunk(1 << 20, 'x');
    int rc = 0;
    for (int i = 0; i < 64 && rc == 0; ++i) {
        rc = c_send_socket(chunk.data(), static_cast<int>(chunk.size()));
    }
    EXPECT_EQ(rc, -1);
    std::string line = error_lines().back();
    EXPECT_TRUE(line.rfind("LAN operation ---> Transmission of a message (length) is abnormal[err: ", 0) == 0 ||
                line == "LAN operation ---> Transmission of a message (select) is abnormal[err: 0]")
        << line;
}

TEST_F(TcpClient, MakeAndConnectFailuresNameTheirStep) {
    std::string refused = Listener(-1).server_name(); // bound, not listening: connects are refused
    struct Case {
        std::string server;
        const char* service;
        int make;
        std::string line;
    } cases[] = {
        {"127.0.0.1:0", "pop3", -1, "LAN operation ---> The port number acquisition is abnormal[error: 22]"},
        // The port step comes first: a missing services entry fails before any name is resolved.
        {"no-such-host.invalid", "kd5lite-no-such-service", -1,
         "LAN operation ---> The port number acquisition is abnormal[error: 2]"},
        {"[not-an-address]:110", "pop3", -1,
         "LAN operation ---> The acquisition of server host name is abnormal[error: -2]"},
        {refused, "pop3", 0, "LAN operation ---> A client connection demand is abnormal[error: 111]"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c_make_socket_for(c.server.c_str(), c.service), c.make) << c.server;
        if (c.make == 0) {
            EXPECT_EQ(c_connect_socket(), -1);
            EXPECT_EQ(errno, ECONNREFUSED);
            // The failed connect closed the socket: nothing is left to send on.
            EXPECT_EQ(c_send_socket("x", 1), -1);
            EXPECT_EQ(error_lines().back(),
                      "LAN operation ---> Transmission of a message (select) is abnormal[err: 9]");
            EXPECT_EQ(error_lines()[error_lines().size() - 2], c.line);
        } else {
            EXPECT_EQ(error_lines().back(), c.line) << c.server;
        }
    }
}

TEST_F(TcpClient, PlainHostNameTakesThePop3ServicePort) {
    if (getservbyname("pop3", "tcp") == nullptr) {
        GTEST_SKIP() << "no pop3 entry in the services database";
    }
    EXPECT_EQ(c_make_socket("127.0.0.1"), 0);
    EXPECT_TRUE(error_lines().empty());
}

TEST_F(TcpClient, ConnectToAHostThatDropsTheHandshakeGivesUpAtTheBound) {
    // A listener whose accept queue is full drops further SYNs, as an unreachable host would.
    Listener listener(0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&listener.address), sizeof listener.address);
    }
    Timing t = timing();
    t.connect_timeout_ms = 200;
    set_timing(t);
    ASSERT_EQ(c_make_socket(listener.server_name().c_str()), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c_connect_socket(), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)); // not the kernel's two minutes
    EXPECT_EQ(error_lines().back(), "LAN operation ---> A client connection demand is abnormal[error: 110]");
    for (int fd : fillers) {
        close(fd);
    }
}

// A name that the resolver gives as ::1 first, then 127.0.0.1, as a dual-stack host's name is given.
int v6_then_v4(const std::string&, bool, std::vector<sockaddr_storage>& addresses) {
    sockaddr_storage v6{};
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&v6);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
    sockaddr_storage v4{};
    auto* a4 = reinterpret_cast<sockaddr_in*>(&v4);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addresses = {v6, v4};
    return 0;
}

struct DualStackName {
    DualStackName() { set_mail_resolver(v6_then_v4); }
    ~DualStackName() { set_mail_resolver(nullptr); }
};

TEST_F(TcpClient, EveryAddressOfTheNameIsTriedInOrderAndOnlyTheLastFailureIsWritten) {
    DualStackName name;
    Pop3Server server({}); // IPv4 only: the first address, ::1, refuses
    ASSERT_TRUE(server.start("127.0.0.1")) << server.error();
    const std::string port = std::to_string(server.port());
    ASSERT_EQ(c_make_socket(("dual.example:" + port).c_str()), 0);
    ASSERT_EQ(c_connect_socket(), 0);
    char buffer[1100];
    int length = 1024;
    ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
    EXPECT_EQ(std::string(buffer, 3), "+OK");
    EXPECT_TRUE(error_lines().empty());
    c_close_socket();

    std::string refused = Listener(-1).server_name(); // neither family listens there
    ASSERT_EQ(c_make_socket(("dual.example" + refused.substr(refused.find(':'))).c_str()), 0);
    EXPECT_EQ(c_connect_socket(), -1);
    EXPECT_EQ(error_lines(),
              std::vector<std::string>{"LAN operation ---> A client connection demand is abnormal[error: 111]"});
}

// A name whose first address drops every SYN (a broken route) and whose second, 127.0.0.2, answers.
int dead_then_live(const std::string&, bool, std::vector<sockaddr_storage>& addresses) {
    addresses.clear();
    for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
        sockaddr_storage a{};
        auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
        a4->sin_family = AF_INET;
        inet_pton(AF_INET, address, &a4->sin_addr);
        addresses.push_back(a);
    }
    return 0;
}

// An address that never answers takes only its share of the one connect bound, so the next one is still tried.
TEST_F(TcpClient, AnAddressThatNeverAnswersLeavesTimeForTheNext) {
    Listener dead(0); // on 127.0.0.1, its accept queue filled below
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&dead.address), sizeof dead.address);
    }
    Pop3Server live({});
    ASSERT_TRUE(live.start("127.0.0.2", ntohs(dead.address.sin_port))) << live.error();
    Timing t = timing();
    t.connect_timeout_ms = 1000;
    set_timing(t);
    set_mail_resolver(dead_then_live);
    const std::string name = "dual.example:" + std::to_string(live.port());
    EXPECT_EQ(c_make_socket(name.c_str()), 0);
    EXPECT_EQ(c_connect_socket(), 0);
    set_mail_resolver(nullptr);
    char buffer[1100];
    int length = 1024;
    ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
    EXPECT_EQ(std::string(buffer, 3), "+OK"); // the greeting of the server on the second address
    EXPECT_TRUE(error_lines().empty());
    for (int fd : fillers) {
        close(fd);
    }
}

TEST_F(TcpClient, Ipv6AddressInBrackets) {
    Pop3Server server({});
    if (!server.start("::1")) {
        GTEST_SKIP() << "no IPv6 loopback: " << server.error();
    }
    ASSERT_EQ(c_make_socket(server.server_name().c_str()), 0);
    ASSERT_EQ(c_connect_socket(), 0);
    char buffer[1100];
    int length = 1024;
    ASSERT_EQ(c_recv_socket(buffer, &length, '\n'), 0);
    EXPECT_EQ(std::string(buffer, 3), "+OK");
}

} // namespace
