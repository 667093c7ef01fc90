#include "fuzz/scripted_server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Longer than any wait of the shortened timing record: a client that is still there after it has hung.
constexpr int kPatienceMs = 5000;

bool wait_readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, kPatienceMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
}

void serve(int listener, const std::string& script, std::string& received) {
    if (!wait_readable(listener)) {
        return;
    }
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    for (std::size_t sent = 0; sent < script.size();) {
        ssize_t n = send(fd, script.data() + sent, script.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break; // the client has gone: it stopped reading early, which is its right
        }
        sent += static_cast<std::size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    // Read to the client's end before closing: closing with unread bytes would reset the connection and take
    // from the client what it has not read yet.
    char buffer[4096];
    while (wait_readable(fd)) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
}

} // namespace

struct ScriptedServer::Session {
    std::string script;
    std::string received;
    std::thread thread;
};

ScriptedServer::ScriptedServer() {
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

ScriptedServer::~ScriptedServer() {
    finish();
    close(listener_);
}

void ScriptedServer::start(std::string script) {
    finish();
    session_ = new Session{std::move(script), {}, {}};
    session_->thread = std::thread(serve, listener_, std::cref(session_->script), std::ref(session_->received));
}

std::string ScriptedServer::finish() {
    if (session_ == nullptr) {
        return {};
    }
    session_->thread.join();
    std::string received = std::move(session_->received);
    delete session_;
    session_ = nullptr;
    return received;
}
