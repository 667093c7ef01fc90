// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

// A signal that ends a connection's waits from another thread: an eventfd that every wait of a connection polls
// together with its socket. Raised, it stays raised until cleared, so that a step that begins after the raise
// ends at once as well.
class CancelSignal {
public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    // -1 when no eventfd could be had: the waits are then bounded by their deadlines alone.
    int fd() const { return fd_; }
    void raise();
    void clear();
    // Waits at most timeout_ms for the signal; whether it is raised.
    bool wait(int timeout_ms) const;

private:
    int fd_ = -1;
};

// A deadline for every wait of the calling thread's connections (connect, TLS handshake, send, receive: every wait
// that poll_cancellable makes), however long each wait itself may be: past it, a wait that would have to wait fails
// at once with ETIMEDOUT, as when its own time runs out. kd5lite --check bounds each account with one, over checks
// whose single waits allow minutes. Scopes nest: an inner deadline later than the outer one keeps the outer.
class ThreadDeadline {
public:
    explicit ThreadDeadline(std::chrono::steady_clock::time_point at);
    ~ThreadDeadline();
    ThreadDeadline(const ThreadDeadline&) = delete;
    ThreadDeadline& operator=(const ThreadDeadline&) = delete;

private:
    std::chrono::steady_clock::time_point outer_;
};

// poll() on one socket and a cancel signal (cancel_fd -1: none), within the thread's deadline: 1 when the socket is
// ready for events, 0 when the time ran out (errno 0), -1 with errno ECANCELED when the signal was raised, with
// ETIMEDOUT when the thread's deadline has passed, or the poll's error.
int poll_cancellable(int fd, short events, int cancel_fd, int timeout_ms);
