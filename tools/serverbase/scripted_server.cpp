// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/serverbase/scripted_server.h"

#include <algorithm>
#include <cerrno>
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
#include <system_error>
#include <unistd.h>

namespace {

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

ScriptedServer::ScriptedServer(bool tls, std::string certificate_file, std::string key_file)
    : tls_wanted_(tls), certificate_file_(std::move(certificate_file)), key_file_(std::move(key_file)) {}

ScriptedServer::~ScriptedServer() {
    stop();
}

bool ScriptedServer::start(const std::string& host, int port) {
    if (tls_wanted_ && tls_ == nullptr) {
        tls_ = SSL_CTX_new(TLS_server_method());
        if (tls_ != nullptr && tls12_only_) {
            SSL_CTX_set_max_proto_version(tls_, TLS1_2_VERSION);
        }
        if (tls_ == nullptr || SSL_CTX_use_certificate_chain_file(tls_, certificate_file_.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls_, key_file_.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(tls_) != 1) {
            char reason[256];
            ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
            error_ = "certificate " + certificate_file_ + ", key " + key_file_ + ": " + reason;
            ERR_clear_error();
            return false;
        }
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

void ScriptedServer::stop() {
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

std::string ScriptedServer::server_name() const {
    bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

std::vector<std::string> ScriptedServer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int ScriptedServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<std::string> ScriptedServer::tls_hosts() const {
    std::lock_guard lock(mutex_);
    return tls_hosts_;
}

void ScriptedServer::on_command(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void ScriptedServer::record(const std::string& text) {
    std::function<void(const std::string&)> callback;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(text);
        callback = callback_;
    }
    if (callback) {
        callback(text);
    }
}

bool ScriptedServer::wait_fd(int fd, short events, int timeout_ms) {
    pollfd p[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(p, 2, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && p[1].revents == 0;
}

bool ScriptedServer::pause(int ms) {
    pollfd p{stop_pipe_[0], POLLIN, 0};
    return poll(&p, 1, ms) == 0;
}

void ScriptedServer::run() {
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
        if (!parallel_) {
            serve(fd);
            continue;
        }
        try {
            sessions_.emplace_back([this, fd, pipe_signal] {
                pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
                serve(fd);
            });
        } catch (const std::system_error&) {
            close(fd);
        }
    }
    for (std::thread& session : sessions_) {
        session.join(); // each ends at the stop: its waits poll the stop pipe too
    }
    sessions_.clear();
}

void ScriptedServer::end(ServerConnection& c) {
    if (c.ssl != nullptr) {
        if (c.alert) {
            SSL_shutdown(c.ssl); // the closing alert, without waiting for the client's
        }
        SSL_free(c.ssl);
        ERR_clear_error();
    }
    close(c.fd);
}

bool ScriptedServer::accept_tls(ServerConnection& c) {
    SSL* ssl = tls_ != nullptr ? SSL_new(tls_) : nullptr;
    if (ssl == nullptr || SSL_set_fd(ssl, c.fd) != 1) {
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
        if (events == 0 || !wait_fd(c.fd, events, -1)) {
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
    c.ssl = ssl;
    return true;
}

long ScriptedServer::transfer(ServerConnection& c, const char* out, char* in, std::size_t size) {
    for (;;) {
        short events = out != nullptr ? POLLOUT : POLLIN;
        if (c.ssl != nullptr) {
            ERR_clear_error();
            std::size_t moved = 0;
            int rc = out != nullptr ? SSL_write_ex(c.ssl, out, size, &moved) : SSL_read_ex(c.ssl, in, size, &moved);
            if (rc == 1) {
                return static_cast<long>(moved);
            }
            int error = SSL_get_error(c.ssl, rc);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                c.alert = false; // after a fatal error no closing alert may follow
                return 0;
            }
            events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        } else {
            ssize_t n = out != nullptr ? send(c.fd, out, size, MSG_NOSIGNAL) : recv(c.fd, in, size, 0);
            if (n > 0) {
                return static_cast<long>(n);
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return 0;
            }
        }
        if (!wait_fd(c.fd, events, -1)) {
            return 0;
        }
    }
}

bool ScriptedServer::send_pieces(ServerConnection& c, const std::string& bytes, std::size_t piece, int pause_ms) {
    const std::size_t step = piece > 0 ? piece : bytes.size();
    for (std::size_t done = 0; done < bytes.size();) {
        if (done > 0 && pause_ms > 0 && !pause(pause_ms)) {
            return false;
        }
        const std::size_t end = done + std::min(step, bytes.size() - done);
        while (done < end) {
            long n = transfer(c, bytes.data() + done, nullptr, end - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool ScriptedServer::read_line(ServerConnection& c, std::string& line, std::size_t max_line) {
    for (;;) {
        std::size_t end = c.pending.find('\n');
        if (end != std::string::npos || c.pending.size() >= max_line) {
            std::size_t cut = end == std::string::npos ? max_line : end;
            line = c.pending.substr(0, cut);
            c.pending.erase(0, end == std::string::npos ? cut : cut + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        char chunk[4096];
        long n = transfer(c, nullptr, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        c.pending.append(chunk, static_cast<std::size_t>(n));
    }
}

void ScriptedServer::close_gently(ServerConnection& c) {
    if (c.ssl != nullptr && c.alert) {
        SSL_shutdown(c.ssl); // over TLS the closing alert comes first, as a server that ends properly sends it
        c.alert = false;
    }
    shutdown(c.fd, SHUT_WR);
    char sink[1024];
    while (wait_fd(c.fd, POLLIN, -1) && recv(c.fd, sink, sizeof sink, 0) > 0) {
    }
}

void ScriptedServer::reset_on_close(ServerConnection& c) {
    c.alert = false;   // a closing alert would end the connection properly before the reset
    linger hard{1, 0}; // closing with a zero linger time sends RST instead of FIN
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}
