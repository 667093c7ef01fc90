// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/replay_server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Longer than any wait of the shortened timing record: a client that is still there after it has hung.
constexpr int kPatienceMs = 5000;
// How long the server waits for the client's next command before it sends its next reply unasked.
constexpr int kQuietMs = 5;

int wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

// False when the client has gone: it stopped reading early, which is its right.
bool send_all(int fd, std::string_view bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void serve(int listener, std::string_view script, std::string& received) {
    if (wait_readable(listener, kPatienceMs) != 1) {
        return;
    }
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::size_t at = 0; // where the next reply begins; npos once all are sent
    auto send_next = [&] {
        const std::size_t end = script.find(kReplySeparator, at);
        const bool sent = send_all(fd, script.substr(at, end == std::string_view::npos ? end : end - at));
        at = end == std::string_view::npos ? end : end + 1;
        return sent;
    };
    bool going = send_next();
    char buffer[4096];
    while (going && at != std::string_view::npos) {
        if (wait_readable(fd, kQuietMs) != 1) {
            going = send_next();
            continue;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
        if (std::string_view(buffer, static_cast<std::size_t>(n)).find('\n') != std::string_view::npos) {
            going = send_next();
        }
    }
    shutdown(fd, SHUT_WR);
    // Read to the client's end before closing: closing with unread bytes would reset the connection and take
    // from the client what it has not read yet.
    while (wait_readable(fd, kPatienceMs) == 1) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
}

} // namespace

struct ReplayServer::Session {
    std::string script;
    std::string received;
    std::thread thread;
};

ReplayServer::ReplayServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("scripted server");
        std::abort();
    }
    port_ = ntohs(address.sin_port);
}

ReplayServer::~ReplayServer() {
    finish();
    close(listener_);
}

void ReplayServer::start(std::string script) {
    finish();
    session_ = new Session{std::move(script), {}, {}};
    session_->thread = std::thread(serve, listener_, std::string_view(session_->script), std::ref(session_->received));
}

std::string ReplayServer::finish() {
    if (session_ == nullptr) {
        return {};
    }
    session_->thread.join();
    std::string received = std::move(session_->received);
    delete session_;
    session_ = nullptr;
    return received;
}
