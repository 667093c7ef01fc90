// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/private_bus.h"

#include "tests/support/lampsim_handle.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The daemon binds its socket before it listens on it: a client that comes in between is refused.
bool accepts_connections(const std::string& socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof address.sun_path) {
        return false;
    }
    socket_path.copy(address.sun_path, socket_path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool accepted = fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return accepted;
}

} // namespace

void end_process(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

pid_t spawn_process(const std::vector<std::string>& argv, const std::string& output, bool append) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int run_process(const std::vector<std::string>& argv, const std::string& output, bool append) {
    pid_t pid = spawn_process(argv, output, append);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

PrivateSessionBus::PrivateSessionBus(const std::string& dir) {
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        old_address_ = old;
        had_address_ = true;
    }
    const std::string socket = dir + "/session-bus";
    const std::string address = "unix:path=" + socket;
    const std::string config = dir + "/session-bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>"
                          << address
                          << "</listen><auth>EXTERNAL</auth>"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    pid_ =
        spawn_process({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config}, dir + "/session-bus.out");
    if (pid_ > 0 && wait_until([&] { return accepts_connections(socket); }, 20000)) {
        address_ = address;
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    end_process(pid_);
    if (had_address_) {
        setenv("DBUS_SESSION_BUS_ADDRESS", old_address_.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

MuteSessionBus::MuteSessionBus(const std::string& dir) {
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        old_address_ = old;
        had_address_ = true;
    }
    const std::string path = dir + "/mute-bus";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    stop_ = eventfd(0, EFD_CLOEXEC);
    if (listener_ < 0 || stop_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0) {
        if (listener_ >= 0) {
            close(listener_);
        }
        listener_ = -1;
        return;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    thread_ = std::thread([this] {
        std::vector<int> held; // read from never, closed only at the end
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) {
                break;
            }
            if (const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) {
                held.push_back(fd);
                ++connections_;
            }
        }
        for (int fd : held) {
            close(fd);
        }
    });
}

MuteSessionBus::~MuteSessionBus() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
        thread_.join();
    }
    if (listener_ >= 0) {
        close(listener_);
    }
    if (stop_ >= 0) {
        close(stop_);
    }
    if (had_address_) {
        setenv("DBUS_SESSION_BUS_ADDRESS", old_address_.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

NotificationServerMock::NotificationServerMock(const std::string& dir) : log_path_(dir + "/notifications.log") {
    pid_ = spawn_process({kSystemPython, "-m", "dbusmock", "--template", "notification_daemon", "--logfile", log_path_},
                         dir + "/notification-server.out");
}

NotificationServerMock::~NotificationServerMock() {
    end_process(pid_);
}

bool NotificationServerMock::wait_ready(int timeout_ms) {
    const std::string out = log_path_ + ".probe";
    return wait_until(
        [&] {
            return run_process({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner",
                                "string:org.freedesktop.Notifications"},
                               out) == 0;
        },
        timeout_ms);
}

std::string NotificationServerMock::calls() const {
    return read_file(log_path_);
}

bool NotificationServerMock::invoke_action(unsigned id, const std::string& action) {
    const std::string script =
        "import dbus, sys\n"
        "o = dbus.SessionBus().get_object('org.freedesktop.Notifications', '/org/freedesktop/Notifications')\n"
        "o.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',\n"
        "             [dbus.UInt32(int(sys.argv[1])), sys.argv[2]], dbus_interface='org.freedesktop.DBus.Mock')\n";
    return run_process({kSystemPython, "-c", script, std::to_string(id), action}, log_path_ + ".emit") == 0;
}
