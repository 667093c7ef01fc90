// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the slow blink, measured with the real notifier against the POP3 server program on loopback:
//     health_figures [scale]        (default 1: real timing, some 12 minutes)
// One account whose password the server refuses needs the user at once; after the grace (10 minutes, times scale)
// its LED blinks. Prints the lamp commands per minute and the notifier's CPU time per minute over one minute
// (scaled) before the blink and one while it blinks. IntervalTimer is 1: a pass a minute beside the blink.

#include "bench/figures_support.h"
#include "tests/notifier/harness.h"
#include "tests/support/lampsim_handle.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr int kPassesWait = 20 * 60 * 1000; // bound of every wait here: a blink that never comes still ends the run

struct Minute {
    double commands = 0;
    double cpu_seconds = 0;
};

// The commands the lamp received and the CPU time the notifier spent over one minute of the scaled clock.
Minute measure_minute(const LampSim& lamp, pid_t notifier, double scale) {
    const std::size_t commands = lamp.commands().size();
    const double cpu = cpu_seconds(notifier);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(60000 * scale)));
    return {static_cast<double>(lamp.commands().size() - commands), cpu_seconds(notifier) - cpu};
}

// Every wait of the notifier is scaled, so one scaled minute holds the work of one real minute: its commands and
// its CPU time are those of a real minute.
void print_minute(const char* what, const Minute& m) {
    std::printf("%-24s %6.1f lamp commands a minute, %7.3f s CPU a minute (%.3f %%)\n", what, m.commands, m.cpu_seconds,
                m.cpu_seconds / 60 * 100);
}

} // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (scale <= 0) {
        std::fprintf(stderr, "usage: health_figures [scale]\n");
        return 2;
    }
    TempCorvo dir;
    std::filesystem::create_directory(dir.path("lamp"));
    LampSim lamp(dir.path("lamp"));
    tool_write("StateLog", "1");
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "1");
    Pop3Program server(dir, "taro", "secret");
    if (!server.start({"--reply", "PASS=-ERR invalid password"})) {
        std::fprintf(stderr, "the POP3 server program did not start\n");
        return 1;
    }
    tool_write_account(0, server.server_name(), "taro", "secret");
    NotifierProcess notifier(dir, {{"KD5LITE_TIME_SCALE", std::to_string(scale)}});
    if (!wait_until([&] { return file_key(dir, "State") == "2"; }, kPassesWait)) {
        std::fprintf(stderr, "the notifier did not start\n");
        return 1;
    }
    tool_write("Request", "1");
    if (!wait_until([&] { return log_text(dir, "log").find("health --> Needs you") != std::string::npos; },
                    kPassesWait)) {
        std::fprintf(stderr, "the account never came to need the user\n%s", log_text(dir, "log").c_str());
        return 1;
    }
    const Minute before = measure_minute(lamp, notifier.pid(), scale);
    const std::size_t from = lamp.commands().size();
    // A blink command is an ON0 or OF0 that follows another one, not a lamp update's CLS.
    if (!wait_until(
            [&] {
                std::vector<std::string> c = lamp.commands();
                for (std::size_t i = std::max<std::size_t>(from, 1); i < c.size(); ++i) {
                    if ((c[i] == "ON0" || c[i] == "OF0") && (c[i - 1] == "ON0" || c[i - 1] == "OF0")) {
                        return true;
                    }
                }
                return false;
            },
            kPassesWait)) {
        std::fprintf(stderr, "the LED never blinked\n");
        return 1;
    }
    const Minute blinking = measure_minute(lamp, notifier.pid(), scale);
    std::printf("KD5LITE_TIME_SCALE %g, IntervalTimer 1, one account needing the user\n", scale);
    print_minute("before the blink:", before);
    print_minute("while its LED blinks:", blinking);
    std::printf("resident memory %ld KiB\n", resident_kib(notifier.pid()));
    return 0;
}
