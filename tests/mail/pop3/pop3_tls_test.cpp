// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mail_check.h"

#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <functional>
#include <netdb.h>

namespace {

using Lines = std::vector<std::string>;

const Lines kLogin = {"USER alice", "PASS secret", "STAT", "QUIT"};

Lines joined(Lines first, const Lines& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// The first address a client gets for name, as the mail check resolves it.
std::string first_address(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0) {
        return "";
    }
    char text[INET6_ADDRSTRLEN] = {};
    const void* address = list->ai_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr);
    inet_ntop(list->ai_family, address, text, sizeof text);
    freeaddrinfo(list);
    return text;
}

// A certificate authority of the test's own as the system's trust store, and a POP3 server with one account,
// alice / secret, holding two messages.
class Pop3CheckTls : public MailTest {
protected:
    Pop3CheckTls() {
        std::filesystem::create_directory(pki_);
        authority_ = std::make_unique<TestAuthority>(pki_, "trusted");
        trusted_ = std::make_unique<TrustedAuthority>(*authority_);
    }

    // Starts the server (with a certificate when given) on address and points account 0 at it with the given
    // Security, by its address or, when given, by name.
    void serve(Pop3Tls tls, const TestAuthority::Issued* certificate, const std::string& security,
               Pop3Script script = {}, const std::string& address = "127.0.0.1", const std::string& name = "",
               std::vector<std::string> messages = {}) {
        script.tls = tls;
        if (certificate != nullptr) {
            script.certificate_file = certificate->certificate_file;
            script.key_file = certificate->key_file;
        }
        Pop3Mailbox box;
        box.password = "secret";
        box.messages = {make_message("Taro <taro@example.com>", "user@kd5lite.test", "one"),
                        make_message("hanako@example.com", "user@kd5lite.test", "two")};
        if (!messages.empty()) {
            box.messages = std::move(messages);
        }
        server_ = std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start(address)) << server_->error();
        set_account(0, name.empty() ? server_->server_name() : name + ":" + std::to_string(server_->port()), "alice",
                    "secret");
        settings_set(Key::Security, security.c_str(), 0);
    }

    // Nothing of the account crossed the wire: no USER or PASS line, and the password in no line received.
    void expect_no_login(const std::string& name) const {
        for (const auto& line : server_->commands()) {
            EXPECT_FALSE(line.starts_with("USER") || line.starts_with("PASS")) << name << ": " << line;
            EXPECT_EQ(line.find("secret"), std::string::npos) << name;
        }
    }

    // The error log against the lines wanted; a wanted line that ends in a blank is a prefix (a number follows).
    void expect_errors(const Lines& wanted, const std::string& name) const {
        Lines lines = error_lines();
        ASSERT_EQ(lines.size(), wanted.size()) << name << ": " << (lines.empty() ? "" : lines.front());
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            if (wanted[i].ends_with(' ')) {
                EXPECT_EQ(lines[i].substr(0, wanted[i].size()), wanted[i]) << name;
            } else {
                EXPECT_EQ(lines[i], wanted[i]) << name;
            }
        }
    }

    std::string pki_ = dir_.path("pki");
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<TrustedAuthority> trusted_;
    std::unique_ptr<Pop3Server> server_;
};

// Catches a login in clear after STLS, a header block lost between TLS records, a name sent for an address
// (RFC 6066 allows names only), and any error line on the way.
TEST_F(Pop3CheckTls, TrustedServerCarriesTheWholeCheckInBothModes) {
    const auto certificate = authority_->issue("pop", "DNS:pop.kd5lite.test,IP:127.0.0.1");
    struct Case {
        const char* security;
        Pop3Tls tls;
        Lines in_clear;
        bool filters;
        int result;
    } cases[] = {
        {"1", Pop3Tls::stls, {"STLS"}, false, 2},
        {"2", Pop3Tls::implicit, {}, false, 2},
        {"1", Pop3Tls::stls, {"STLS"}, true, 1},
        {"2", Pop3Tls::implicit, {}, true, 1},
    };
    for (const auto& c : cases) {
        const std::string name = std::string(c.security) + (c.filters ? " with filters" : "");
        serve(c.tls, &certificate, c.security);
        set_filter(0, 0, c.filters ? "taro@example.com" : "", c.filters ? "1" : "0");
        EXPECT_EQ(pop3_check(0), c.result) << name;
        Lines encrypted =
            c.filters ? Lines{"USER alice", "PASS secret", "STAT", "UIDL", "CAPA", "TOP 1 10", "TOP 2 10", "QUIT"} : kLogin;
        EXPECT_EQ(server_->commands(), joined(c.in_clear, encrypted)) << name;
        EXPECT_EQ(server_->tls_hosts(), Lines{""}) << name;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A server name is sent (SNI) and must be the one the certificate carries; its address does not stand in for it.
TEST_F(Pop3CheckTls, ServerNameIsSentAndCheckedAsWritten) {
    const std::string address = first_address("localhost");
    ASSERT_FALSE(address.empty());
    const auto named = authority_->issue("named", "DNS:localhost");
    serve(Pop3Tls::implicit, &named, "2", {}, address, "localhost");
    EXPECT_EQ(pop3_check(0), 2);
    EXPECT_EQ(server_->tls_hosts(), Lines{"localhost"});
    EXPECT_FALSE(dir_.exists("err07.log"));

    const auto other = authority_->issue("other", "DNS:pop.kd5lite.test,IP:" + address);
    serve(Pop3Tls::implicit, &other, "2", {}, address, "localhost");
    EXPECT_EQ(pop3_check(0), -1);
    expect_errors({"LAN operation ---> The server certificate is not trusted[err: 62] sha256:" + other.fingerprint,
                   "check mail ---> TLS connection is abnormal[no.0 error: 62]"},
                  "name mismatch");
    expect_no_login("name mismatch");
}

// Every way TLS can fail ends the check with -1 before USER, with the reason in the log: catches a fallback to
// plain text, a certificate taken on its chain alone or on a pin it does not match, plain text after the STLS
// answer read as TLS data, and a stalled handshake that outlasts the connect time-out.
TEST_F(Pop3CheckTls, RefusedOrFailedTlsEndsTheCheckBeforeTheLogin) {
    TestAuthority stranger(pki_, "stranger");
    const auto unknown_authority = stranger.issue("unknown", "IP:127.0.0.1");
    const auto self_signed = TestAuthority::self_signed(pki_, "self", "IP:127.0.0.1");
    const auto other_address = authority_->issue("elsewhere", "DNS:pop.kd5lite.test,IP:127.0.0.2");
    const auto expired = authority_->issue("expired", "IP:127.0.0.1", true);
    const auto good = authority_->issue("good", "IP:127.0.0.1");
    auto untrusted = [](int code, const std::string& fingerprint) {
        return Lines{"LAN operation ---> The server certificate is not trusted[err: " + std::to_string(code) +
                         "] sha256:" + fingerprint,
                     "check mail ---> TLS connection is abnormal[no.0 error: " + std::to_string(code) + "]"};
    };
    const Lines handshake = {"LAN operation ---> TLS handshake is abnormal[err: ",
                             "check mail ---> TLS connection is abnormal[no.0 error: "};
    const Lines stalled = {"LAN operation ---> TLS handshake is abnormal[err: 110]",
                           "check mail ---> TLS connection is abnormal[no.0 error: 110]"};
    struct Case {
        const char* name;
        const char* security;
        Pop3Tls tls;
        const TestAuthority::Issued* certificate;
        std::function<void(Pop3Script&)> script;
        std::string pin;
        Lines errors;
    } cases[] = {
        // The server sends the stranger's own certificate along: a self-signed one in the chain.
        {"unknown authority", "2", Pop3Tls::implicit, &unknown_authority, {}, "",
         untrusted(19, unknown_authority.fingerprint)},
        {"self-signed after STLS", "1", Pop3Tls::stls, &self_signed, {}, "", untrusted(18, self_signed.fingerprint)},
        {"another address", "2", Pop3Tls::implicit, &other_address, {}, "", untrusted(64, other_address.fingerprint)},
        {"expired", "2", Pop3Tls::implicit, &expired, {}, "", untrusted(10, expired.fingerprint)},
        {"pin of another certificate", "2", Pop3Tls::implicit, &self_signed, {}, good.fingerprint,
         untrusted(18, self_signed.fingerprint)},
        {"STLS refused", "1", Pop3Tls::none, nullptr, {}, "", {"check mail ---> STLS was refused[no.0 error: 0]"}},
        {"plain server behind TLS", "2", Pop3Tls::none, nullptr, {}, "", handshake},
        {"plain text after the STLS answer", "1", Pop3Tls::stls, &good,
         [](Pop3Script& s) { s.replies["STLS"] = "+OK go ahead\r\n+OK injected\r\n"; }, "", handshake},
        {"silent server behind TLS", "2", Pop3Tls::none, nullptr,
         [](Pop3Script& s) { s.fault = Pop3Fault::mute; }, "", stalled},
        {"handshake never comes after STLS", "1", Pop3Tls::stls, &good,
         [](Pop3Script& s) {
             s.fault = Pop3Fault::mute;
             s.fault_at = "TLS";
         },
         "", stalled},
    };
    Timing t = timing();
    t.connect_timeout_ms = 300;
    set_timing(t);
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        if (c.script) {
            c.script(script);
        }
        serve(c.tls, c.certificate, c.security, script);
        settings_set(Key::TlsFingerprint, c.pin.c_str(), 0);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(pop3_check(0), -1) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000)) << c.name;
        expect_errors(c.errors, c.name);
        expect_no_login(c.name);
    }
}

// A home server's own certificate, pinned in the form the error log shows or in bare lower case, is taken
// although no authority vouches for it and it names neither the host nor the address.
TEST_F(Pop3CheckTls, PinnedCertificateIsTakenWithoutAnAuthority) {
    const auto home = TestAuthority::self_signed(pki_, "home", "DNS:home.kd5lite.test");
    std::string bare;
    for (char ch : home.fingerprint) {
        if (ch != ':') {
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
    }
    for (const auto& [security, tls] : {std::pair{"1", Pop3Tls::stls}, std::pair{"2", Pop3Tls::implicit}}) {
        for (const std::string& pin : {home.fingerprint, bare}) {
            serve(tls, &home, security);
            settings_set(Key::TlsFingerprint, pin.c_str(), 0);
            EXPECT_EQ(pop3_check(0), 2) << security << " " << pin;
            EXPECT_EQ(server_->commands().back(), "QUIT") << security << " " << pin;
        }
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A TLS 1.3 server sends session tickets right after the handshake. A wait that took them for the reply would
// give up on a server that answers later than one wait for data, which over plain TCP is waited for.
TEST_F(Pop3CheckTls, RepliesLaterThanOneWaitAreWaitedForOverTls) {
    const auto certificate = authority_->issue("slow", "IP:127.0.0.1");
    Timing t = timing();
    t.select_timeout_ms = 40;
    set_timing(t);
    for (const auto& [security, tls, at] :
         {std::tuple{"2", Pop3Tls::implicit, "GREETING"}, std::tuple{"1", Pop3Tls::stls, "USER"}}) {
        Pop3Script script;
        script.fault = Pop3Fault::delay;
        script.fault_at = at;
        script.fault_delay_ms = 180;
        serve(tls, &certificate, security, script);
        EXPECT_EQ(pop3_check(0), 2) << at;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// The end, a reset and silence read over TLS as over plain TCP: catches a reset seen while waiting that the read
// then takes for a mere end, and a closed connection taken for a failure.
TEST_F(Pop3CheckTls, TransportFaultsGiveThePlainMessages) {
    const auto certificate = authority_->issue("faults", "IP:127.0.0.1");
    struct Case {
        Pop3Fault fault;
        const char* at;
        int result;
        Lines errors;
    } cases[] = {
        {Pop3Fault::close,
         "GREETING",
         0,
         {"check mail ---> Contents abnormality of a POP confirmation [a user name] message[no.0 error: 0]"}},
        {Pop3Fault::reset,
         "PASS",
         -1,
         {"LAN operation ---> The reception is abnormal[err: 104]",
          "check mail ---> The reception of a POP confirmation [a password] message is abnormal[no.0 error: 104]"}},
        {Pop3Fault::mute,
         "STAT",
         -1,
         {"LAN operation ---> 受信(select)異常[err: 0]",
          "check mail ---> The reception of a POP confirmation [a reception email confirmation command] message is "
          "abnormal[no.0 error: 0]"}},
    };
    give_up_quickly();
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        script.fault = c.fault;
        script.fault_at = c.at;
        serve(Pop3Tls::implicit, &certificate, "2", script);
        EXPECT_EQ(pop3_check(0), c.result) << c.at;
        expect_errors(c.errors, c.at);
    }
}

// One receive returns at most one TLS record: a header block over several records is still read to its end, and
// the sender after it found.
TEST_F(Pop3CheckTls, HeaderBlocksOverSeveralRecordsAreReadWhole) {
    const auto certificate = authority_->issue("records", "IP:127.0.0.1");
    const std::string arc = "ARC-Seal: i=1; a=rsa-sha256; b=" + std::string(20000, 'S') + "\r\n";
    std::string message = make_message("Taro <taro@example.com>", "user@kd5lite.test", "signed");
    set_filter(0, 0, "taro@example.com", "1");
    serve(Pop3Tls::implicit, &certificate, "2", {}, "127.0.0.1", "", {arc + message, arc + message});
    EXPECT_EQ(pop3_check(0), 2);
    EXPECT_EQ(server_->commands().back(), "QUIT");
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A server may not start the handshake over in the middle of a session (TLS 1.2 renegotiation): the client
// refuses it, so that no new handshake can be pushed into a connection whose certificate was already judged.
TEST_F(Pop3CheckTls, RenegotiationIsRefused) {
    const auto certificate = authority_->issue("renegotiation", "IP:127.0.0.1");
    Pop3Script script;
    script.fault = Pop3Fault::renegotiate;
    script.fault_at = "USER";
    serve(Pop3Tls::implicit, &certificate, "2", script);
    EXPECT_EQ(pop3_check(0), -1); // the server gives up on a client that refuses: the account keeps its LED
    EXPECT_EQ(server_->renegotiations(), 0);
    // The refusal reaches the server while the client waits for one of the next replies.
    expect_errors({"LAN operation ---> The reception is abnormal[err: 71]", "check mail ---> The reception of a POP "},
                  "renegotiation");
}

// The end of a TLS connection is only its closing alert: a FIN without it (anyone on the way can send one) or
// bytes in clear where TLS was required fail the check, so the account keeps its LED; plain POP3 keeps taking a
// closed connection for an empty reply.
TEST_F(Pop3CheckTls, CutOrInjectedTlsStreamsFailInsteadOfReadingAsNoMail) {
    const auto certificate = authority_->issue("cut", "IP:127.0.0.1");
    struct Case {
        const char* name;
        const char* security;
        Pop3Tls tls;
        Pop3Fault fault;
        const char* at;
        int result;
        Lines errors;
    } cases[] = {
        {"FIN without close_notify",
         "2",
         Pop3Tls::implicit,
         Pop3Fault::truncate,
         "USER",
         -1,
         {"LAN operation ---> The reception is abnormal[err: 71]",
          "check mail ---> The reception of a POP confirmation [a password] message is abnormal[no.0 error: 71]"}},
        {"FIN without close_notify after STLS",
         "1",
         Pop3Tls::stls,
         Pop3Fault::truncate,
         "STAT",
         -1,
         {"LAN operation ---> The reception is abnormal[err: 71]",
          "check mail ---> The reception of a POP confirmation [an end command] message is abnormal[no.0 error: 71]"}},
        {"reply in clear under TLS",
         "2",
         Pop3Tls::implicit,
         Pop3Fault::inject,
         "STAT",
         -1,
         {"LAN operation ---> The reception is abnormal[err: 71]",
          "check mail ---> The reception of a POP confirmation [a reception email confirmation command] message is "
          "abnormal[no.0 error: 71]"}},
        {"plain connection closed",
         "0",
         Pop3Tls::none,
         Pop3Fault::truncate,
         "GREETING",
         0,
         {"check mail ---> Contents abnormality of a POP confirmation [a user name] message[no.0 error: 0]"}},
    };
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        script.fault = c.fault;
        script.fault_at = c.at;
        serve(c.tls, c.tls == Pop3Tls::none ? nullptr : &certificate, c.security, script);
        EXPECT_EQ(pop3_check(0), c.result) << c.name;
        expect_errors(c.errors, c.name);
    }
}

// Session tickets carry no data: a server that sends one after another without ever finishing its reply is
// given no more time than a silent one (one wait without a byte), where it once held the receive for ever.
TEST_F(Pop3CheckTls, RecordsWithoutDataDoNotStretchAReceive) {
    const auto certificate = authority_->issue("tickets", "IP:127.0.0.1");
    Timing t = timing();
    t.select_timeout_ms = 100;
    t.recv_attempts = 3;
    set_timing(t);
    Pop3Script script;
    script.greeting = "+OK almost";
    script.fault = Pop3Fault::tickets;
    script.fault_delay_ms = 20;
    serve(Pop3Tls::implicit, &certificate, "2", script);
    EXPECT_EQ(pop3_check(0), -1);
    expect_errors({"LAN operation ---> The reception is abnormal[err: 11]",
                   "check mail ---> The reception of a POP connection confirmation message is abnormal[no.0 error: "
                   "11]"},
                  "tickets");
}

// Security empty or "0" is the exchange as it always was, even with a server that offers STLS; a value that
// names no mode makes no connection at all.
TEST_F(Pop3CheckTls, PlainAccountsAreUnchangedAndUnknownSecurityStaysOffline) {
    const auto certificate = authority_->issue("plain", "IP:127.0.0.1");
    for (const char* security : {"", "0"}) {
        serve(Pop3Tls::stls, &certificate, security);
        EXPECT_EQ(pop3_check(0), 2) << '"' << security << '"';
        EXPECT_EQ(server_->commands(), kLogin) << '"' << security << '"';
        EXPECT_TRUE(server_->tls_hosts().empty()) << '"' << security << '"';
    }
    EXPECT_FALSE(dir_.exists("err07.log"));

    for (const char* security : {"3", "ssl"}) {
        clear_error_log();
        serve(Pop3Tls::stls, &certificate, security);
        EXPECT_EQ(pop3_check(0), -1) << security;
        EXPECT_EQ(server_->connections(), 0) << security;
        expect_errors({"check mail ---> The security setting is abnormal[no.0 error: 22]"}, security);
    }
}

} // namespace
