// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/server_check.h"

#include "mail/net/mail_connection.h"
#include "mail/net/tls_link.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLineLimit = 1024; // longer than any greeting or capability line a server sends
constexpr int kLineCount = 64;           // lines of a capability listing before it is taken as a flood

class Exchange {
public:
    Exchange(MailConnection& connection, int timeout_ms)
        : connection_(connection), deadline_(Clock::now() + std::chrono::milliseconds(timeout_ms)) {}

    bool line(std::string& text) {
        text.clear();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 && connection_.receive_line(text, kLineLimit, static_cast<int>(left)) == 0;
    }

    bool send(const char* command) {
        return connection_.send(command, static_cast<int>(std::char_traits<char>::length(command))) == 0;
    }

private:
    MailConnection& connection_;
    Clock::time_point deadline_;
};

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// Whether a capability listing line names the word among its words (the greeting's "[CAPABILITY ...]" too).
bool names_word(const std::string& line, const std::string& word) {
    std::string spaced = " " + upper(line) + " ";
    std::replace_if(
        spaced.begin(), spaced.end(), [](char c) { return c == '\r' || c == '\n' || c == ']'; }, ' ');
    return spaced.find(" " + word + " ") != std::string::npos;
}

// RFC 3501 6.1.1 and 6.2.1: the capabilities, from the greeting's response code or from CAPABILITY, must name
// STARTTLS; then STARTTLS and its tagged OK.
bool imap_start_tls(Exchange& exchange, const std::string& greeting) {
    bool offered = upper(greeting).find("[CAPABILITY ") != std::string::npos && names_word(greeting, "STARTTLS");
    std::string line;
    if (!offered) {
        if (!exchange.send("d1 CAPABILITY\r\n")) {
            return false;
        }
        for (int i = 0;; ++i) {
            if (i == kLineCount || !exchange.line(line)) {
                return false;
            }
            if (line.starts_with("d1 ")) {
                break;
            }
            offered = offered || (upper(line).starts_with("* CAPABILITY ") && names_word(line, "STARTTLS"));
        }
    }
    if (!offered || !exchange.send("d2 STARTTLS\r\n")) {
        return false;
    }
    for (int i = 0; i < kLineCount && exchange.line(line); ++i) {
        if (line.starts_with("d2 ")) {
            return upper(line).starts_with("D2 OK");
        }
    }
    return false;
}

// RFC 2449 and RFC 2595 4: CAPA must list STLS; then STLS and its +OK.
bool pop3_start_tls(Exchange& exchange) {
    std::string line;
    if (!exchange.send("CAPA\r\n") || !exchange.line(line) || !line.starts_with("+OK")) {
        return false;
    }
    bool offered = false;
    for (int i = 0;; ++i) {
        if (i == kLineCount || !exchange.line(line)) {
            return false;
        }
        if (line == ".\r\n" || line == ".\n") {
            break;
        }
        offered = offered || names_word(line, "STLS");
    }
    return offered && exchange.send("STLS\r\n") && exchange.line(line) && line.starts_with("+OK");
}

bool greeting_ok(bool imap, const std::string& greeting) {
    if (imap) {
        const std::string g = upper(greeting);
        return g.starts_with("* OK") || g.starts_with("* PREAUTH");
    }
    return greeting.starts_with("+OK");
}

ServerCheck failed(ServerAnswer answer) {
    const int error = errno;
    return ServerCheck{error == ECANCELED ? ServerAnswer::stopped : answer, error};
}

ServerCheck tls_failed(const MailConnection& connection) {
    TlsPeer refused;
    return failed(connection.tls_peer(refused) ? ServerAnswer::untrusted : ServerAnswer::no_tls);
}

} // namespace

ServerCheck check_server(const ServerCandidate& candidate, int timeout_ms, int cancel_fd) {
    MailConnection connection;
    connection.set_cancel(cancel_fd);
    if (connection.resolve(candidate.host.c_str(), candidate.port) != 0 || connection.connect() != 0) {
        return failed(ServerAnswer::unreachable);
    }
    if (candidate.security == kSecurityTls && connection.start_tls(nullptr) != 0) {
        return tls_failed(connection);
    }
    Exchange exchange(connection, timeout_ms);
    std::string greeting;
    if (!exchange.line(greeting)) {
        return failed(errno == ENOTCONN ? ServerAnswer::unreachable : ServerAnswer::no_greeting);
    }
    if (!greeting_ok(candidate.imap, greeting)) {
        return ServerCheck{ServerAnswer::no_greeting, EPROTO};
    }
    if (candidate.security == kSecurityStartTls) {
        errno = 0; // an answer that refuses TLS leaves no error number of its own
        const bool agreed = candidate.imap ? imap_start_tls(exchange, greeting) : pop3_start_tls(exchange);
        if (!agreed) {
            return failed(ServerAnswer::no_tls);
        }
        if (connection.start_tls(nullptr) != 0) {
            return tls_failed(connection);
        }
    }
    return ServerCheck{ServerAnswer::greeted, 0};
}

const char* server_answer_name(ServerAnswer answer) {
    switch (answer) {
    case ServerAnswer::greeted:
        return "greeted";
    case ServerAnswer::unreachable:
        return "unreachable";
    case ServerAnswer::no_greeting:
        return "no greeting";
    case ServerAnswer::no_tls:
        return "no TLS";
    case ServerAnswer::untrusted:
        return "certificate not trusted";
    case ServerAnswer::stopped:
        return "stopped";
    }
    return "unknown";
}
