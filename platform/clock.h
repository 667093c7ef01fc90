// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ctime>
#include <functional>

// The calendar time that the logs, the defaults and the scrambling read. Tests replace the source to move
// through days and months without waiting.
std::time_t clock_now();

// Installs a source of calendar time; an empty function restores the system clock.
void clock_set_source(std::function<std::time_t()> source);
