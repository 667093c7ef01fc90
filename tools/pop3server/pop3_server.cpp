#include "tools/pop3server/pop3_server.h"

#include "tools/pop3server/pop3_message.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxLine = 8192; // a longer command line is cut there rather than held in memory

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

struct Pop3Server::Session {
    int fd = -1;
    SSL* ssl = nullptr; // once the handshake is done
    bool alert = true;  // whether closing sends the closing alert (TLS): not after a reset or a fatal error
    // A new handshake was asked for.
    bool renegotiating = false;
    bool logged_in = false;
    bool muted = false;
    std::string user;
    std::vector<std::string> drop;
    std::string pending; // bytes received after the last full line
};

Pop3Server::Pop3Server(std::map<std::string, Pop3Mailbox> mailboxes, Pop3Script script)
    : script_(std::move(script)), mailboxes_(std::move(mailboxes)) {}

Pop3Server::~Pop3Server() {
    stop();
}

bool Pop3Server::load_certificate() {
    if (script_.tls == Pop3Tls::none) {
        return true;
    }
    tls_ = SSL_CTX_new(TLS_server_method());
    if (tls_ != nullptr && script_.fault == Pop3Fault::renegotiate) {
        SSL_CTX_set_max_proto_version(tls_, TLS1_2_VERSION); // TLS 1.3 has no renegotiation
    }
    if (tls_ != nullptr && SSL_CTX_use_certificate_chain_file(tls_, script_.certificate_file.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(tls_, script_.key_file.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(tls_) == 1) {
        return true;
    }
    char reason[256];
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    error_ = "certificate " + script_.certificate_file + ", key " + script_.key_file + ": " + reason;
    ERR_clear_error();
    return false;
}

bool Pop3Server::start(const std::string& host, int port) {
    if (!load_certificate()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0) {
        error_ = std::string("address ") + host + ": " + gai_strerror(rc);
        return false;
    }
    listen_fd_ = socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool ok = listen_fd_ >= 0 && bind(listen_fd_, list->ai_addr, list->ai_addrlen) == 0 && listen(listen_fd_, 16) == 0;
    freeaddrinfo(list);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (!ok || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
        pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("listen on ") + host + ":" + service + ": " + std::strerror(errno);
        close_fd(listen_fd_);
        return false;
    }
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    host_ = host;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Pop3Server::stop() {
    if (thread_.joinable()) {
        char byte = 1;
        [[maybe_unused]] ssize_t n = write(stop_pipe_[1], &byte, 1);
        thread_.join();
    }
    close_fd(listen_fd_);
    close_fd(stop_pipe_[0]);
    close_fd(stop_pipe_[1]);
    SSL_CTX_free(tls_);
    tls_ = nullptr;
}

std::string Pop3Server::server_name() const {
    bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

std::vector<std::string> Pop3Server::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int Pop3Server::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

int Pop3Server::renegotiations() const {
    std::lock_guard lock(mutex_);
    return renegotiations_;
}

std::vector<std::string> Pop3Server::tls_hosts() const {
    std::lock_guard lock(mutex_);
    return tls_hosts_;
}

void Pop3Server::set_messages(const std::string& user, std::vector<std::string> messages) {
    std::lock_guard lock(mutex_);
    mailboxes_[user].messages = std::move(messages);
}

void Pop3Server::on_command(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

// Waits for events on fd; false when stop() was called or the wait ran out.
bool Pop3Server::wait_fd(int fd, short events, int timeout_ms) {
    pollfd p[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(p, 2, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && p[1].revents == 0;
}

// Pauses; false when stop() was called meanwhile.
bool Pop3Server::pause(int ms) {
    pollfd p{stop_pipe_[0], POLLIN, 0};
    return poll(&p, 1, ms) == 0;
}

void Pop3Server::run() {
    // TLS writes go through write(2): a client that leaves in the middle of an answer would raise SIGPIPE on this
    // thread, which must end the session, not the process.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    while (wait_fd(listen_fd_, POLLIN, -1)) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        serve(fd);
    }
}

void Pop3Server::record(const std::string& line) {
    std::function<void(const std::string&)> callback;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
        callback = callback_;
    }
    if (callback) {
        callback(line);
    }
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
    Session s;
    s.fd = fd;
    if ((script_.tls != Pop3Tls::implicit || start_tls(s)) && answer(s, "GREETING", script_.greeting)) {
        std::string line;
        while (read_line(s, line)) {
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
    if (s.ssl != nullptr) {
        if (s.alert) {
            SSL_shutdown(s.ssl); // the closing alert, without waiting for the client's
        }
        SSL_free(s.ssl);
        ERR_clear_error();
    }
    close(fd);
}

// The server's side of the handshake. False when it failed or stop() was called; a mute fault at "TLS" leaves the
// client waiting for a handshake that never comes.
bool Pop3Server::start_tls(Session& s) {
    if (script_.fault == Pop3Fault::mute && script_.fault_at == "TLS") {
        s.muted = true;
        return true;
    }
    SSL* ssl = SSL_new(tls_);
    if (ssl == nullptr || SSL_set_fd(ssl, s.fd) != 1) {
        SSL_free(ssl);
        return false;
    }
    for (;;) {
        ERR_clear_error();
        int rc = SSL_accept(ssl);
        if (rc == 1) {
            break;
        }
        int error = SSL_get_error(ssl, rc);
        short events = error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (events == 0 || !wait_fd(s.fd, events, -1)) {
            SSL_free(ssl);
            ERR_clear_error();
            return false;
        }
    }
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    {
        std::lock_guard lock(mutex_);
        tls_hosts_.push_back(name != nullptr ? name : "");
    }
    s.ssl = ssl;
    return true;
}

// The normal reply to one command; the session's state changes only here.
std::string Pop3Server::respond(Session& s, const std::string& verb, const std::string& argument) {
    if (verb == "QUIT") {
        return "+OK bye\r\n";
    }
    if (verb == "STLS" && script_.tls == Pop3Tls::stls && s.ssl == nullptr && !s.logged_in) {
        return "+OK begin TLS negotiation\r\n";
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
        s.alert = false; // a closing alert would end the connection properly before the reset
        linger hard{1, 0}; // closing with a zero linger time sends RST instead of FIN
        setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    if (faulted && (script_.fault == Pop3Fault::close || script_.fault == Pop3Fault::truncate)) {
        if (s.ssl != nullptr && s.alert) {
            SSL_shutdown(s.ssl); // over TLS the closing alert comes first, as a server that ends properly sends it
            s.alert = false;
        }
        // FIN now, and whatever the client still sends is read and dropped: closing a socket with unread data
        // would send RST instead, depending on how quickly the client's next command came.
        shutdown(s.fd, SHUT_WR);
        char sink[1024];
        while (wait_fd(s.fd, POLLIN, -1) && recv(s.fd, sink, sizeof sink, 0) > 0) {
        }
    }
    return !faulted;
}

bool Pop3Server::send_bytes(Session& s, const std::string& bytes) {
    const std::size_t step = script_.byte_pause_ms > 0 ? 1 : bytes.size();
    for (std::size_t done = 0; done < bytes.size();) {
        if (script_.byte_pause_ms > 0 && done > 0 && !pause(script_.byte_pause_ms)) {
            return false;
        }
        long n = transfer(s, bytes.data() + done, nullptr, std::min(step, bytes.size() - done));
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Sends from out, or receives into in, on the non-blocking socket, in clear or through TLS, waiting as long as it
// takes. Returns the bytes moved, or 0 when the connection is over or stop() was called.
long Pop3Server::transfer(Session& s, const char* out, char* in, std::size_t size) {
    for (;;) {
        short events = out != nullptr ? POLLOUT : POLLIN;
        if (s.ssl != nullptr) {
            ERR_clear_error();
            std::size_t moved = 0;
            int rc = out != nullptr ? SSL_write_ex(s.ssl, out, size, &moved) : SSL_read_ex(s.ssl, in, size, &moved);
            if (rc == 1) {
                return static_cast<long>(moved);
            }
            int error = SSL_get_error(s.ssl, rc);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                s.alert = false; // after a fatal error no closing alert may follow
                return 0;
            }
            events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        } else {
            ssize_t n = out != nullptr ? send(s.fd, out, size, MSG_NOSIGNAL) : recv(s.fd, in, size, 0);
            if (n > 0) {
                return static_cast<long>(n);
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return 0;
            }
        }
        if (!wait_fd(s.fd, events, -1)) {
            return 0;
        }
    }
}

// One command line without its line end; false when the client has gone or stop() was called.
bool Pop3Server::read_line(Session& s, std::string& line) {
    for (;;) {
        std::size_t end = s.pending.find('\n');
        if (end != std::string::npos || s.pending.size() >= kMaxLine) {
            std::size_t cut = end == std::string::npos ? kMaxLine : end;
            line = s.pending.substr(0, cut);
            s.pending.erase(0, end == std::string::npos ? cut : cut + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        char chunk[4096];
        long n = transfer(s, nullptr, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        s.pending.append(chunk, static_cast<std::size_t>(n));
    }
}
