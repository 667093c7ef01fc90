// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clock.h"

#include <mutex>

namespace {
std::mutex g_mutex;
std::function<std::time_t()> g_source;
} // namespace

std::time_t clock_now() {
    std::lock_guard lock(g_mutex);
    return g_source ? g_source() : std::time(nullptr);
}

void clock_set_source(std::function<std::time_t()> source) {
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}
