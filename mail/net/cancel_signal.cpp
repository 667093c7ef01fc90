// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/cancel_signal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

thread_local Clock::time_point t_deadline = Clock::time_point::max();

// The wait cut to the thread's deadline, rounded up so that a fraction of a millisecond left still waits.
int within_deadline(int timeout_ms) {
    if (t_deadline == Clock::time_point::max()) {
        return timeout_ms;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t_deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, timeout_ms));
}

} // namespace

ThreadDeadline::ThreadDeadline(Clock::time_point at) : outer_(t_deadline) {
    t_deadline = std::min(at, outer_);
}

ThreadDeadline::~ThreadDeadline() {
    t_deadline = outer_;
}

CancelSignal::CancelSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CancelSignal::~CancelSignal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void CancelSignal::raise() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void CancelSignal::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
}

bool CancelSignal::wait(int timeout_ms) const {
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
}

int poll_cancellable(int fd, short events, int cancel_fd, int timeout_ms) {
    pollfd p[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
    errno = 0;
    int ready = poll(p, cancel_fd >= 0 ? 2 : 1, within_deadline(timeout_ms < 0 ? 0 : timeout_ms));
    if (ready > 0 && p[1].revents != 0) {
        errno = ECANCELED;
        return -1;
    }
    if (ready == 0 && Clock::now() >= t_deadline) {
        errno = ETIMEDOUT;
        return -1;
    }
    return ready > 0 ? 1 : ready;
}
