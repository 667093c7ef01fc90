// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The desktop's services of the tests' own, for a private session bus (private_bus.h): a notification server that
// records every call, and a StatusNotifier panel (watcher and host) that records every item and signal. Each is a
// small Python program of tests/support, run with the system's Python.

class RecordingNotificationServer {
public:
    // capabilities: what GetCapabilities answers, blank-separated; inhibited: "" for no Inhibited property, else
    // "inhibited=0" or "inhibited=1".
    RecordingNotificationServer(const std::string& dir, const std::string& capabilities,
                                const std::string& inhibited = "");
    ~RecordingNotificationServer();
    RecordingNotificationServer(const RecordingNotificationServer&) = delete;
    RecordingNotificationServer& operator=(const RecordingNotificationServer&) = delete;

    // True once it owns its name, within timeout_ms.
    bool wait_ready(int timeout_ms);
    // Its log: one line per call (notification_server.py says the form).
    std::string calls() const;
    // The Notify lines alone, joined.
    std::string notifies() const;
    // Its unique name on the bus.
    std::string unique_name() const;

    // What a user does: a click on an action, a dismissal, do not disturb switched; each sent by the server itself.
    bool invoke_action(unsigned id, const std::string& key);
    bool dismiss(unsigned id);
    bool set_inhibited(bool inhibited);

private:
    bool control(const std::string& method, const std::string& arguments);

    pid_t pid_ = -1;
    std::string dir_;
    std::string log_path_;
};

class StatusNotifierPanel {
public:
    // fetches: the panel reads the item's properties again at each New* signal, as real panels do (figures).
    explicit StatusNotifierPanel(const std::string& dir, bool fetches = false);
    ~StatusNotifierPanel();
    StatusNotifierPanel(const StatusNotifierPanel&) = delete;
    StatusNotifierPanel& operator=(const StatusNotifierPanel&) = delete;

    bool wait_ready(int timeout_ms);
    std::string log() const;
    // The bus name of the first item that registered, "" before one did.
    std::string item() const;

private:
    pid_t pid_ = -1;
    std::string log_path_;
};

// One method call on the session bus from a client of its own (dbus_call.py): its answer as Python prints it, or
// "" when the call failed. arguments: a Python list, e.g. "[dbus.Int32(0)]".
std::string dbus_call(const std::string& dir, const std::string& destination, const std::string& path,
                      const std::string& method, const std::string& arguments = "[]");

// A signal sent from a client of its own, which is no server of anything (dbus-send): body as dbus-send writes it.
bool dbus_foreign_signal(const std::string& dir, const std::string& path, const std::string& member,
                         const std::vector<std::string>& body);
