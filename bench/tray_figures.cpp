// SPDX-License-Identifier: GPL-3.0-or-later
// What an idle notifier costs a StatusNotifier panel, measured with the real notifier at real timing:
//     tray_figures [seconds] [notifier]      (default 60 s and this build's kd5lite)
// The notifier runs on an X display of its own with a private session bus, a panel that reads the item again at
// each of its New* signals (as KDE's and GNOME's do) and one POP3 account whose three messages keep the red LED lit;
// IntervalTimer 1, so a pass a minute. After the first pass it counts, over the given time, the signals of the item
// and its menu and the panel's reads of the item, and prints them per minute. Give another build's kd5lite to
// compare.

#include "tests/notifier/harness.h"
#include "tests/support/desktop_services.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr int kWait = 60000; // bound of each wait for the notifier to come up

struct Counts {
    long signals = 0;
    long new_icon = 0;
    long fetches = 0;
    long long bytes = 0;
};

Counts counted(const std::string& log) {
    Counts c;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("signal org.kde.StatusNotifierItem.", 0) == 0 || line.rfind("signal com.canonical.", 0) == 0) {
            ++c.signals;
            c.new_icon += line.rfind("signal org.kde.StatusNotifierItem.NewIcon ", 0) == 0 ? 1 : 0;
        } else if (line.rfind("fetch from=", 0) == 0) {
            ++c.fetches;
            const std::size_t at = line.find(" bytes=");
            c.bytes += at == std::string::npos ? 0 : std::atoll(line.c_str() + at + 7);
        }
    }
    return c;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const std::string binary = argc > 2 ? argv[2] : KD5LITE_BINARY;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: tray_figures [seconds] [notifier]\n");
        return 2;
    }
    TempCorvo dir;
    std::filesystem::create_directory(dir.path("lamp"));
    LampSim lamp(dir.path("lamp"));
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "1");
    Pop3Program server(dir, "taro", "secret");
    server.set_message_count(3);
    if (!server.start()) {
        std::fprintf(stderr, "the POP3 server program did not start\n");
        return 1;
    }
    tool_write_account(0, server.server_name(), "taro", "secret");
    VirtualDisplay display(dir);
    PrivateSessionBus bus(dir.dir());
    StatusNotifierPanel panel(dir.dir(), true);
    if (display.name().empty() || !bus.ok() || !panel.wait_ready(kWait)) {
        std::fprintf(stderr, "no display, bus or panel\n");
        return 1;
    }
    ChildProcess notifier({binary},
                          {{"CORVO_HOME", dir.dir()},
                           {"XDG_RUNTIME_DIR", dir.dir()},
                           {"QT_QPA_PLATFORM", "xcb"},
                           {"DISPLAY", display.name()}},
                          dir.path("notifier.out"));
    if (!wait_until([&] { return file_key(dir, "State") == "2"; }, kWait)) {
        std::fprintf(stderr, "the notifier did not start\n%s", notifier.output().c_str());
        return 1;
    }
    tool_write("Request", "1");
    auto lit = [&] {
        for (const std::string& command : lamp.commands()) {
            if (command == "ON0") {
                return true;
            }
        }
        return false;
    };
    if (!wait_until([&] { return !panel.item().empty() && lit(); }, kWait)) {
        std::fprintf(stderr, "the notifier showed no item or lit no LED\n%s%s", notifier.output().c_str(),
                     panel.log().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the first pass's changes settle
    const Counts before = counted(panel.log());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Counts after = counted(panel.log());
    const double per_minute = 60.0 / seconds;
    const double signals = static_cast<double>(after.signals - before.signals) * per_minute;
    const double fetches = static_cast<double>(after.fetches - before.fetches) * per_minute;
    std::printf("%s, %d s, one account lit, IntervalTimer 1\n", binary.c_str(), seconds);
    std::printf(
        "per minute: %.1f signals of item and menu (%.1f NewIcon), %.1f reads by the panel, %.1f D-Bus messages "
        "(a signal each, a call and a reply per read), %.1f KiB of icon pixmaps\n",
        signals, static_cast<double>(after.new_icon - before.new_icon) * per_minute, fetches, signals + 2 * fetches,
        static_cast<double>(after.bytes - before.bytes) * per_minute / 1024);
    return 0;
}
