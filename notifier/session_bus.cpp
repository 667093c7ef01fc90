// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/session_bus.h"

#include "logging/log.h"
#include "platform/hex_digit.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string g_address_at_start;
bool g_usable = true;

// "%xx" escapes of an address value (D-Bus specification: any byte may be escaped); false for a broken escape.
bool unescaped(std::string_view value, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size()) {
            return false;
        }
        const int high = hex_value(value[i + 1]);
        const int low = hex_value(value[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, ms_left(deadline));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

// The first line of the authentication (D-Bus specification, "Authentication Protocol"): a nul byte, then
// EXTERNAL with the uid in decimal, hex-encoded.
std::string auth_line() {
    const std::string uid = std::to_string(getuid());
    std::string line("\0AUTH EXTERNAL ", 15);
    static const char digits[] = "0123456789abcdef";
    for (unsigned char c : uid) {
        line += digits[c >> 4];
        line += digits[c & 15];
    }
    return line + "\r\n";
}

BusAnswer probe(const BusSocket& s, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = s.abstract ? 1 : 0; // an abstract name starts with a nul byte
    if (s.path.empty() || s.path.size() + offset >= sizeof address.sun_path) {
        return BusAnswer::absent;
    }
    std::memcpy(address.sun_path + offset, s.path.data(), s.path.size());
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + s.path.size() +
                                                    (s.abstract ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return BusAnswer::unknown;
    }
    BusAnswer answer = BusAnswer::silent;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 && errno != EINPROGRESS &&
        errno != EAGAIN) {
        answer = BusAnswer::absent; // refused or no such socket: libdbus gives up at once too
    } else {
        const std::string line = auth_line();
        std::size_t sent = 0;
        while (sent < line.size() && wait_for(fd, POLLOUT, deadline)) {
            const ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                break;
            }
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        char reply[64];
        // Any byte back is a bus that speaks; whether it accepts us is libdbus's business.
        if (sent == line.size() && wait_for(fd, POLLIN, deadline) && recv(fd, reply, sizeof reply, 0) > 0) {
            answer = BusAnswer::answers;
        }
    }
    close(fd);
    return answer;
}

} // namespace

std::vector<BusSocket> bus_sockets(std::string_view address) {
    std::vector<BusSocket> sockets;
    while (!address.empty()) {
        const std::size_t end = address.find(';');
        std::string_view entry = address.substr(0, end);
        address = end == std::string_view::npos ? std::string_view() : address.substr(end + 1);
        if (!entry.starts_with("unix:")) {
            continue;
        }
        entry.remove_prefix(5);
        BusSocket socket;
        bool found = false;
        while (!entry.empty()) {
            const std::size_t comma = entry.find(',');
            const std::string_view pair = entry.substr(0, comma);
            entry = comma == std::string_view::npos ? std::string_view() : entry.substr(comma + 1);
            const std::size_t eq = pair.find('=');
            const std::string_view key = pair.substr(0, eq);
            if (eq == std::string_view::npos || (key != "path" && key != "abstract")) {
                continue;
            }
            found = unescaped(pair.substr(eq + 1), socket.path) && !socket.path.empty();
            socket.abstract = key == "abstract";
        }
        if (found) {
            sockets.push_back(std::move(socket));
        }
    }
    return sockets;
}

BusAnswer bus_answers(std::string_view address, int timeout_ms) {
    const std::vector<BusSocket> sockets = bus_sockets(address);
    if (sockets.empty()) {
        return BusAnswer::unknown;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    BusAnswer last = BusAnswer::absent;
    // libdbus takes the first entry it can connect to, and stays with it whether it answers or not.
    for (const BusSocket& s : sockets) {
        last = probe(s, deadline);
        if (last != BusAnswer::absent) {
            return last;
        }
    }
    return last;
}

void session_bus_check_at_start(int timeout_ms) {
    const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    g_address_at_start = set != nullptr ? set : "";
    std::string address = g_address_at_start;
    if (set == nullptr) {
        // Where libdbus looks without the variable (before an X11 autolaunch, which a dead session makes fail).
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        address = runtime != nullptr && *runtime != '\0' ? "unix:path=" + std::string(runtime) + "/bus" : "";
    }
    if (bus_answers(address, timeout_ms) != BusAnswer::silent) {
        return;
    }
    g_usable = false;
    ini_read_key(Key::ErrorLog); // the settings are not loaded yet, and the line must not be lost
    std::fprintf(stderr, "kd5lite: the session bus does not answer; no desktop notifications this run\n");
    write_error_logf("desktop bus ---> The session bus takes connections and does not answer: no desktop "
                     "notifications and no StatusNotifier tray icon until the notifier starts again[wait: %d ms]",
                     timeout_ms);
    // A transport no D-Bus library knows: every connection of this process fails at once instead of hanging.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

bool session_bus_usable() {
    return g_usable;
}

const std::string& session_bus_address_at_start() {
    return g_address_at_start;
}
