// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_stop.h"

#include "platform/child_run.h"
#include "platform/timing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Made once and never closed: a fetch on another thread may be polling it as the process ends.
int stop_fd() {
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

std::atomic<bool (*)()> g_look{nullptr};
std::atomic<bool> g_raised{false}; // the signal itself; the eventfd only wakes the waits

ChildGroups g_groups;

} // namespace

void token_stop_raise() {
    g_raised = true;
    g_groups.end_all();
    const std::uint64_t one = 1;
    if (stop_fd() >= 0) {
        [[maybe_unused]] ssize_t n = write(stop_fd(), &one, sizeof one);
    }
}

void token_stop_clear() {
    g_raised = false;
    g_groups.reopen();
    std::uint64_t count = 0;
    if (stop_fd() >= 0) {
        [[maybe_unused]] ssize_t n = read(stop_fd(), &count, sizeof count);
    }
}

void token_stop_add_group(int pgid) {
    g_groups.add(pgid);
}

void token_stop_remove_group(int pgid) {
    g_groups.remove(pgid);
}

int token_stop_fd() {
    return stop_fd();
}

void set_token_stop_look(bool (*look)()) {
    g_look = look;
}

bool token_stop_asked() {
    if (g_raised) {
        return true;
    }
    bool (*look)() = g_look;
    if (look != nullptr && look()) {
        token_stop_raise();
        return true;
    }
    return false;
}

int token_stop_slice_ms(int remaining_ms) {
    if (g_look.load() == nullptr) {
        return remaining_ms;
    }
    const int look = std::max(1, timing().stop_poll_ms);
    return remaining_ms < 0 ? look : std::min(remaining_ms, look);
}

TokenTurn::TokenTurn() : fd_(eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE)) {}

TokenTurn::~TokenTurn() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TokenTurn::take(bool stoppable) {
    if (fd_ < 0) {
        mutex_.lock();
        return true;
    }
    for (;;) {
        std::uint64_t one = 0;
        if (read(fd_, &one, sizeof one) == sizeof one) {
            return true;
        }
        if (stoppable && token_stop_asked()) {
            return false;
        }
        // The semaphore is readable when the holder gives the turn back; the stop's signal ends the wait too.
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stoppable ? token_stop_fd() : -1, POLLIN, 0}};
        poll(fds, 2, stoppable ? token_stop_slice_ms(-1) : -1);
    }
}

void TokenTurn::give() {
    if (fd_ < 0) {
        mutex_.unlock();
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}
