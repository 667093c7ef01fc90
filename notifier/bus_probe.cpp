// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/bus_probe.h"

#include "logging/log.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// An abstract socket's name is kept with a leading '\0' (unix(7)).
std::string entry_socket(const std::string& entry) {
    for (const char* key : {"path=", "abstract="}) {
        const std::size_t at = entry.find(key);
        if (entry.rfind("unix:", 0) != 0 || at == std::string::npos) {
            continue;
        }
        std::string value = entry.substr(at + std::strlen(key));
        value = value.substr(0, value.find(','));
        if (value.empty()) {
            continue;
        }
        return key[0] == 'a' ? std::string(1, '\0') + value : value;
    }
    return {};
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool send_all(int fd, const std::string& text, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0) {
            return false;
        }
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return true;
}

// Connects without waiting: a socket whose listener is stopped still accepts into its backlog, so the connect
// itself returns; only the answer never comes.
int connect_to(const std::string& socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof address.sun_path) {
        return -1;
    }
    std::memcpy(address.sun_path, socket_path.data(), socket_path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_path.size() + (socket_path[0] == '\0' ? 0 : 1));
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string session_bus_socket(const char* address, const char* runtime_dir) {
    if (address != nullptr && *address != '\0') {
        std::string list = address;
        for (std::size_t at = 0; at <= list.size();) {
            std::size_t end = list.find(';', at);
            end = end == std::string::npos ? list.size() : end;
            if (std::string socket = entry_socket(list.substr(at, end - at)); !socket.empty()) {
                return socket;
            }
            at = end + 1;
        }
        return {};
    }
    if (runtime_dir != nullptr && *runtime_dir == '/') {
        return std::string(runtime_dir) + "/bus";
    }
    return {};
}

BusProbe probe_session_bus(int timeout_ms) {
    const std::string path =
        session_bus_socket(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
    if (path.empty()) {
        return BusProbe::none;
    }
    const int fd = connect_to(path);
    if (fd < 0) {
        return BusProbe::none;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    // The credentials byte, then AUTH EXTERNAL with the user id in hex digits of its decimal text.
    char uid[32];
    std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(getuid()));
    std::string hello(1, '\0');
    hello += "AUTH EXTERNAL ";
    for (const char* c = uid; *c != '\0'; ++c) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(*c));
        hello += hex;
    }
    hello += "\r\n";
    BusProbe result = BusProbe::silent;
    if (send_all(fd, hello, deadline)) {
        pollfd p{fd, POLLIN, 0};
        char reply[64];
        if (poll(&p, 1, remaining_ms(deadline)) > 0) {
            // A closed connection is an answer too: the bus library will hear the same and give up at once.
            result = recv(fd, reply, sizeof reply, 0) > 0 ? BusProbe::answers : BusProbe::none;
        }
    }
    close(fd);
    return result;
}

void leave_out_silent_session_bus(int timeout_ms) {
    if (probe_session_bus(timeout_ms) != BusProbe::silent) {
        return;
    }
    ini_read_key(Key::ErrorLog); // the initialise step that loads the log switches comes later
    write_error_logf("session bus ---> The session bus does not answer: the notifier runs without it[error: %d]",
                     ETIMEDOUT);
    // An address of no transport the bus library knows: every connection fails at once, and says why.
    setenv("DBUS_SESSION_BUS_ADDRESS", "silent:", 1);
}
