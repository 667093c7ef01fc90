// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/tray_host_mock.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The ToolTip property of an item is (sa(iiay)ss): icon name, icon pixmaps, title, text.
constexpr char kReadTip[] =
    "import dbus, sys\n"
    "item = dbus.SessionBus().get_object(sys.argv[1], '/StatusNotifierItem')\n"
    "tip = item.Get('org.kde.StatusNotifierItem', 'ToolTip', dbus_interface='org.freedesktop.DBus.Properties')\n"
    "sys.stdout.buffer.write(str(tip[2]).encode('utf-8'))\n";

} // namespace

TrayHostMock::TrayHostMock(const std::string& dir) : dir_(dir) {
    pid_ = spawn_process(
        {kSystemPython, "-m", "dbusmock", "--template", KD5_TRAY_HOST_TEMPLATE, "--logfile", dir_ + "/tray-host.log"},
        dir_ + "/tray-host.out", true);
}

TrayHostMock::~TrayHostMock() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool TrayHostMock::wait_ready(int timeout_ms) {
    return wait_until(
        [&] {
            return run_process({"dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                                "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                                "string:org.kde.StatusNotifierWatcher", "string:IsStatusNotifierHostRegistered"},
                               dir_ + "/tray-host.probe") == 0;
        },
        timeout_ms);
}

std::string TrayHostMock::item() const {
    const std::string log = read_file(dir_ + "/tray-host.log");
    const std::string call = "RegisterStatusNotifierItem \"";
    const auto at = log.rfind(call);
    if (at == std::string::npos) {
        return {};
    }
    const auto from = at + call.size();
    const auto to = log.find('"', from);
    return to == std::string::npos ? std::string() : log.substr(from, to - from);
}

std::string TrayHostMock::tip() const {
    const std::string name = item();
    const std::string out = dir_ + "/tray-host.tip";
    if (name.empty() || run_process({kSystemPython, "-c", kReadTip, name}, out) != 0) {
        return {};
    }
    return read_file(out);
}
