// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/lampsim_handle.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// What the figures programs share: times taken when the lamp simulator has logged a command, series of them, and
// what a process costs.

using FigureClock = std::chrono::steady_clock;

// Bound of every wait of a figures program: a push that never comes still ends the run.
inline constexpr int kFigureWaitMs = 10 * 60 * 1000;

double seconds_since(FigureClock::time_point start);
// Waits until the lamp has received command after its first `from` commands; seconds since start, or -1.
double time_to(const LampSim& lamp, std::size_t from, const std::string& command, FigureClock::time_point start);
// Waits until the lamp has taken no command for quiet_ms: the passes in flight are over.
void wait_for_quiet_lamp(const LampSim& lamp, int quiet_ms);
void print_series(const char* what, std::vector<double> values);

// utime + stime of a process in seconds; a field of /proc/PID/status in KiB (VmRSS, VmHWM); the voluntary and
// involuntary context switches of all its threads (each a wake-up of a thread that slept, or a preemption).
double cpu_seconds(pid_t pid);
long status_kib(pid_t pid, const std::string& field);
long resident_kib(pid_t pid);
long context_switches(pid_t pid);
