// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pop3server/pop3_server.h"

#include "tools/pop3server/pop3_message.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxLine = 8192; // a longer command line is cut there rather than held in memory

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

} // namespace

struct Pop3Server::Session : ServerConnection {
    // A new handshake was asked for.
    bool renegotiating = false;
    bool logged_in = false;
    bool muted = false;
    std::string user;
    std::vector<std::string> drop;
    std::vector<std::string> uids; // of the messages in drop
};

Pop3Server::Pop3Server(std::map<std::string, Pop3Mailbox> mailboxes, Pop3Script script)
    : ScriptedServer(script.tls != Pop3Tls::none, script.certificate_file, script.key_file), script_(std::move(script)),
      mailboxes_(std::move(mailboxes)) {
    if (script_.fault == Pop3Fault::renegotiate) {
        limit_tls_to_1_2(); // TLS 1.3 has no renegotiation
    }
}

Pop3Server::~Pop3Server() {
    stop();
}

int Pop3Server::renegotiations() const {
    std::lock_guard lock(mutex_);
    return renegotiations_;
}

int Pop3Server::deepest_pipeline() const {
    std::lock_guard lock(mutex_);
    return deepest_pipeline_;
}

void Pop3Server::set_messages(const std::string& user, std::vector<std::string> messages) {
    std::lock_guard lock(mutex_);
    mailboxes_[user].messages = std::move(messages);
}

std::optional<std::vector<std::string>> Pop3Server::maildrop(const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    auto found = mailboxes_.find(user);
    if (found == mailboxes_.end() || found->second.password != password) {
        return std::nullopt;
    }
    if (!found->second.maildir.empty()) {
        return read_maildir(found->second.maildir);
    }
    return found->second.messages;
}

void Pop3Server::serve(int fd) {
    // Pieces of an answer go out as they are sent, not held back until the client acknowledges the last one.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Session s;
    s.fd = fd;
    if ((script_.tls != Pop3Tls::implicit || start_tls(s)) && answer(s, "GREETING", script_.greeting)) {
        std::string line;
        while (read_line(s, line, kMaxLine)) {
            {
                std::lock_guard lock(mutex_);
                const int waiting = static_cast<int>(std::count(s.pending.begin(), s.pending.end(), '\n'));
                deepest_pipeline_ = std::max(deepest_pipeline_, 1 + waiting);
            }
            record(line);
            std::size_t space = line.find(' ');
            std::string verb = upper(line.substr(0, space));
            std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
            std::string reply = respond(s, verb, argument);
            if (auto scripted = script_.replies.find(verb); scripted != script_.replies.end()) {
                reply = scripted->second;
            }
            if (!answer(s, verb, reply) || (verb == "QUIT" && !s.muted)) {
                break;
            }
            if (verb == "STLS" && !s.muted && script_.tls == Pop3Tls::stls && s.ssl == nullptr &&
                reply.starts_with("+OK")) {
                s.pending.clear(); // what came after STLS in clear is never taken as a command (RFC 2595)
                if (!start_tls(s)) {
                    break;
                }
            }
        }
    }
    if (s.ssl != nullptr && s.renegotiating && SSL_renegotiate_pending(s.ssl) == 0) {
        std::lock_guard lock(mutex_);
        ++renegotiations_;
    }
    end(s);
}

// The server's side of the handshake. False when it failed or stop() was called; a mute fault at "TLS" leaves the
// client waiting for a handshake that never comes.
bool Pop3Server::start_tls(Session& s) {
    if (script_.fault == Pop3Fault::mute && script_.fault_at == "TLS") {
        s.muted = true;
        return true;
    }
    return accept_tls(s);
}

// The normal reply to one command; the session's state changes only here.
std::string Pop3Server::respond(Session& s, const std::string& verb, const std::string& argument) {
    if (verb == "QUIT") {
        return "+OK bye\r\n";
    }
    if (verb == "STLS" && script_.tls == Pop3Tls::stls && s.ssl == nullptr && !s.logged_in) {
        return "+OK begin TLS negotiation\r\n";
    }
    if (verb == "CAPA" && !script_.capabilities.empty()) {
        return "+OK capability list follows\r\n" + script_.capabilities + ".\r\n";
    }
    if (verb == "NOOP" || verb == "RSET") {
        return s.logged_in ? "+OK\r\n" : "-ERR not logged in\r\n";
    }
    if (!s.logged_in) {
        if (verb == "USER") {
            s.user = argument;
            return "+OK\r\n";
        }
        if (verb == "PASS" && !s.user.empty()) {
            auto drop = maildrop(s.user, argument);
            if (!drop) {
                s.user.clear();
                return "-ERR invalid login\r\n";
            }
            s.drop = std::move(*drop);
            s.uids = unique_ids(s.drop);
            s.logged_in = true;
            return "+OK maildrop ready\r\n";
        }
        return "-ERR log in first\r\n";
    }
    if (verb == "STAT") {
        std::size_t octets = 0;
        for (const auto& m : s.drop) {
            octets += m.size();
        }
        return "+OK " + std::to_string(s.drop.size()) + " " + std::to_string(octets) + "\r\n";
    }
    if (verb == "UIDL") {
        if (argument.empty()) {
            std::string listing = "+OK unique-id listing follows\r\n";
            for (std::size_t i = 0; i < s.uids.size(); ++i) {
                listing += std::to_string(i + 1) + " " + s.uids[i] + "\r\n";
            }
            return listing + ".\r\n";
        }
        unsigned n = 0;
        if (std::sscanf(argument.c_str(), "%u", &n) != 1 || n == 0 || n > s.uids.size()) {
            return "-ERR no such message\r\n";
        }
        return "+OK " + std::to_string(n) + " " + s.uids[n - 1] + "\r\n";
    }
    if (verb == "TOP") {
        unsigned n = 0;
        int lines = -1;
        if (std::sscanf(argument.c_str(), "%u %d", &n, &lines) != 2 || n == 0 || n > s.drop.size() || lines < 0) {
            return "-ERR no such message\r\n";
        }
        std::string block = top_of(s.drop[n - 1], lines);
        std::string status =
            script_.top_status.empty() ? "+OK " + std::to_string(block.size()) + " octets\r\n" : script_.top_status;
        if (script_.top_extra > 0) {
            block += std::string(script_.top_extra, 'x') + "\r\n";
        }
        return status + block + ".\r\n";
    }
    return "-ERR unknown command\r\n";
}

// Sends an answer, then acts out the fault when this is the event it is scripted for. False ends the session.
bool Pop3Server::answer(Session& s, const std::string& event, const std::string& text) {
    bool faulted = script_.fault != Pop3Fault::none && event == script_.fault_at;
    if (s.muted || (faulted && script_.fault == Pop3Fault::mute)) {
        s.muted = true;
        return true;
    }
    if (faulted && script_.fault == Pop3Fault::endless) {
        if (!send_bytes(s, "+OK ")) {
            return false;
        }
        const std::string chunk(1024, 'x');
        while (send_bytes(s, chunk)) {
        }
        return false;
    }
    if (faulted && script_.fault == Pop3Fault::delay) {
        return pause(script_.fault_delay_ms) && send_bytes(s, text);
    }
    if (faulted && script_.fault == Pop3Fault::inject) {
        return ::send(s.fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    if (faulted && script_.fault == Pop3Fault::tickets) {
        if (!send_bytes(s, text)) {
            return false;
        }
        while (s.ssl != nullptr && pause(script_.fault_delay_ms) && SSL_new_session_ticket(s.ssl) == 1 &&
               SSL_do_handshake(s.ssl) == 1) {
        }
        ERR_clear_error();
        s.alert = false;
        return false;
    }
    if (faulted && script_.fault == Pop3Fault::renegotiate) {
        if (!send_bytes(s, text) || s.ssl == nullptr) {
            return false;
        }
        ERR_clear_error();
        s.renegotiating = SSL_renegotiate(s.ssl) == 1;
        SSL_do_handshake(s.ssl); // sends the request; the client's answer comes with its next record
        return true;
    }
    if (faulted && script_.fault == Pop3Fault::truncate) {
        s.alert = false; // the FIN below then comes without the closing alert
    }
    bool reset = faulted && (script_.fault == Pop3Fault::reset || script_.fault == Pop3Fault::late_reset);
    if (!(faulted && script_.fault == Pop3Fault::reset) && !send_bytes(s, text)) {
        return false;
    }
    if (faulted && script_.fault == Pop3Fault::late_reset && !pause(script_.fault_delay_ms)) {
        return false;
    }
    if (reset) {
        reset_on_close(s);
    }
    if (faulted && (script_.fault == Pop3Fault::close || script_.fault == Pop3Fault::truncate)) {
        close_gently(s);
    }
    return !faulted;
}

// Every answer goes out whole, or in small pieces one per pause when the script says so.
bool Pop3Server::send_bytes(Session& s, const std::string& bytes) {
    return send_pieces(s, bytes, script_.byte_pause_ms > 0 ? script_.piece_bytes : 0, script_.byte_pause_ms);
}
