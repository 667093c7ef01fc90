// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/figures_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

double seconds_since(FigureClock::time_point start) {
    return std::chrono::duration<double>(FigureClock::now() - start).count();
}

double time_to(const LampSim& lamp, std::size_t from, const std::string& command, FigureClock::time_point start) {
    bool seen = wait_until(
        [&] {
            std::vector<std::string> commands = lamp.commands();
            return std::find(commands.begin() + static_cast<long>(std::min(from, commands.size())), commands.end(),
                             command) != commands.end();
        },
        kFigureWaitMs);
    return seen ? seconds_since(start) : -1.0;
}

void wait_for_quiet_lamp(const LampSim& lamp, int quiet_ms) {
    std::size_t last = lamp.commands().size();
    FigureClock::time_point since = FigureClock::now();
    wait_until(
        [&] {
            std::size_t now = lamp.commands().size();
            if (now != last) {
                last = now;
                since = FigureClock::now();
            }
            return seconds_since(since) * 1000 >= quiet_ms;
        },
        kFigureWaitMs);
}

void print_series(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        return;
    }
    std::printf("%-52s n=%-3zu median %6.3f s   worst %6.3f s   best %6.3f s\n", what, values.size(),
                values[values.size() / 2], values.back(), values.front());
}

double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // After the name: state is field 3 of the line, utime 14 and stime 15.
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

namespace {

long status_field(const std::string& path, const std::string& field) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

} // namespace

long status_kib(pid_t pid, const std::string& field) {
    return status_field("/proc/" + std::to_string(pid) + "/status", field);
}

long resident_kib(pid_t pid) {
    return status_kib(pid, "VmRSS");
}

long context_switches(pid_t pid) {
    long total = 0;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        const std::string status = task.path().string() + "/status";
        total += std::max(0L, status_field(status, "voluntary_ctxt_switches")) +
                 std::max(0L, status_field(status, "nonvoluntary_ctxt_switches"));
    }
    return total;
}
