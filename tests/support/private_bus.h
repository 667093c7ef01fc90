// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// python3-dbusmock is a Debian package: its module is in the system's Python, whatever python3 is first on PATH.
constexpr char kSystemPython[] = "/usr/bin/python3";

// A helper process of the tests (a bus daemon, a mock service, a call to one): argv found on PATH, its standard
// output and error into output, appended to what is there or in place of it.
pid_t spawn_process(const std::vector<std::string>& argv, const std::string& output, bool append = false);
// Ends a helper process: SIGTERM, then waits for it. Nothing for a pid of 0 or less.
void end_process(pid_t pid);
// A whole file, or "" when it cannot be read.
std::string read_file(const std::string& path);
// Runs argv to its end: its exit status, or -1 when it could not run or did not exit.
int run_process(const std::vector<std::string>& argv, const std::string& output, bool append = false);

// A D-Bus session bus of the test's own (dbus-daemon), so that no test touches the desktop's. While the object
// lives DBUS_SESSION_BUS_ADDRESS names it; the daemon is ended with the object. A missing dbus-daemon is a failure
// of ok(), never a reason to skip.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const std::string& dir);
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool ok() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
    std::string old_address_;
    bool had_address_ = false;
};

// A session bus that accepts connections and never says a word, as a bus daemon that was stopped: a Unix socket
// whose connections a thread of its own takes and holds. While the object lives DBUS_SESSION_BUS_ADDRESS names it,
// for this process and the programs it starts.
class MuteSessionBus {
public:
    explicit MuteSessionBus(const std::string& dir);
    ~MuteSessionBus();
    MuteSessionBus(const MuteSessionBus&) = delete;
    MuteSessionBus& operator=(const MuteSessionBus&) = delete;

    bool ok() const { return listener_ >= 0; }
    int connections() const { return connections_; } // taken so far

private:
    int listener_ = -1;
    int stop_ = -1;
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::string old_address_;
    bool had_address_ = false;
};

// python3-dbusmock's notification daemon on the private bus: it answers Notify as a desktop does, logs every call,
// and emits the signals a user's click would.
class NotificationServerMock {
public:
    explicit NotificationServerMock(const std::string& dir);
    ~NotificationServerMock();
    NotificationServerMock(const NotificationServerMock&) = delete;
    NotificationServerMock& operator=(const NotificationServerMock&) = delete;

    // True once the service owns its name on the bus, within timeout_ms.
    bool wait_ready(int timeout_ms);
    // The calls it received, one line each.
    std::string calls() const;
    // Emits ActionInvoked(id, action), as when the user clicks the action's button.
    bool invoke_action(unsigned id, const std::string& action);

private:
    pid_t pid_ = -1;
    std::string log_path_;
};
