// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/desktop_services.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

std::string script(const char* name) {
    return std::string(KD5_TEST_SUPPORT_DIR) + "/" + name;
}

} // namespace

RecordingNotificationServer::RecordingNotificationServer(const std::string& dir, const std::string& capabilities,
                                                         const std::string& inhibited)
    : dir_(dir), log_path_(dir + "/notification-calls.log") {
    std::vector<std::string> argv = {kSystemPython, script("notification_server.py"), log_path_, capabilities};
    if (!inhibited.empty()) {
        argv.push_back(inhibited);
    }
    pid_ = spawn_process(argv, dir + "/notification-server.out");
}

RecordingNotificationServer::~RecordingNotificationServer() {
    end_process(pid_);
}

bool RecordingNotificationServer::wait_ready(int timeout_ms) {
    return wait_until([&] { return calls().find("ready as ") != std::string::npos; }, timeout_ms);
}

std::string RecordingNotificationServer::calls() const {
    return read_file(log_path_);
}

std::string RecordingNotificationServer::notifies() const {
    std::istringstream in(calls());
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        if (line.starts_with("Notify ")) {
            out += line + "\n";
        }
    }
    return out;
}

std::string RecordingNotificationServer::unique_name() const {
    const std::string log = calls();
    const std::size_t at = log.find("ready as ");
    return at == std::string::npos ? "" : log.substr(at + 9, log.find('\n', at) - at - 9);
}

bool RecordingNotificationServer::control(const std::string& method, const std::string& arguments) {
    return !dbus_call(dir_, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                      "org.kd5lite.test.Notifications." + method, arguments)
                .empty();
}

bool RecordingNotificationServer::invoke_action(unsigned id, const std::string& key) {
    return control("InvokeAction", "[dbus.UInt32(" + std::to_string(id) + "), '" + key + "']");
}

bool RecordingNotificationServer::dismiss(unsigned id) {
    return control("Dismiss", "[dbus.UInt32(" + std::to_string(id) + ")]");
}

bool RecordingNotificationServer::set_inhibited(bool inhibited) {
    return control("SetInhibited", inhibited ? "[True]" : "[False]");
}

StatusNotifierPanel::StatusNotifierPanel(const std::string& dir, bool fetches)
    : log_path_(dir + "/status-notifier-host.log") {
    std::vector<std::string> argv = {kSystemPython, script("status_notifier_host.py"), log_path_};
    if (fetches) {
        argv.push_back("fetch");
    }
    pid_ = spawn_process(argv, dir + "/status-notifier-host.out");
}

StatusNotifierPanel::~StatusNotifierPanel() {
    end_process(pid_);
}

bool StatusNotifierPanel::wait_ready(int timeout_ms) {
    return wait_until([&] { return log().find("ready as ") != std::string::npos; }, timeout_ms);
}

std::string StatusNotifierPanel::log() const {
    return read_file(log_path_);
}

std::string StatusNotifierPanel::item() const {
    const std::string text = log();
    const std::string mark = "RegisterStatusNotifierItem ";
    const std::size_t at = text.find(mark);
    if (at == std::string::npos) {
        return "";
    }
    return text.substr(at + mark.size(), text.find(' ', at + mark.size()) - at - mark.size());
}

std::string dbus_call(const std::string& dir, const std::string& destination, const std::string& path,
                      const std::string& method, const std::string& arguments) {
    const std::string out = dir + "/dbus-call.out";
    if (run_process({kSystemPython, script("dbus_call.py"), destination, path, method, arguments}, out) != 0) {
        return "";
    }
    std::string answer = read_file(out);
    while (!answer.empty() && answer.back() == '\n') {
        answer.pop_back();
    }
    return answer.empty() ? "None" : answer;
}

bool dbus_foreign_signal(const std::string& dir, const std::string& path, const std::string& member,
                         const std::vector<std::string>& body) {
    std::vector<std::string> argv = {"dbus-send", "--session", "--type=signal", path, member};
    argv.insert(argv.end(), body.begin(), body.end());
    return run_process(argv, dir + "/dbus-send.out") == 0;
}
