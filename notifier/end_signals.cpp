// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/end_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_write_end = -1;

void on_end_signal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_write_end, &byte, 1);
    errno = saved;
}

} // namespace

int end_signals_install() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    g_write_end = fds[1];
    struct sigaction action {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    return fds[0];
}

void end_signals_drain(int fd) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}
