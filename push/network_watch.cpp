// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/network_watch.h"

#include "logging/log.h"
#include "platform/timing.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

long long clock_ms(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Time the machine spent asleep since it started.
long long slept_ms() {
    return clock_ms(CLOCK_BOOTTIME) - clock_ms(CLOCK_MONOTONIC);
}

// A socket that hears of every address and route change; -1 where netlink is not to be had (the suspend check
// still works then).
int open_route_events() {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return -1;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads what is waiting; whether any of it was an address or route change.
bool drain_route_events(int fd) {
    bool changed = false;
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            // ENOBUFS: the kernel dropped messages for us, which were changes too.
            return changed || (got < 0 && errno == ENOBUFS);
        }
        int left = static_cast<int>(got);
        for (auto* m = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(m, left); m = NLMSG_NEXT(m, left)) {
            switch (m->nlmsg_type) {
            case RTM_NEWADDR:
            case RTM_DELADDR:
            case RTM_NEWROUTE:
            case RTM_DELROUTE: changed = true; break;
            default: break;
            }
        }
    }
}

} // namespace

void watch_network(const CancelSignal& stop, void (*changed)(bool resumed)) {
    const Timing& t = timing();
    int fd = open_route_events();
    long long asleep = slept_ms();
    long long quiet_since = -1; // a change waits until the burst of messages that makes it up has passed
    for (;;) {
        // Nothing to do but wait: for the stop, for route messages, for the end of a burst, or for the next look at
        // the clocks (a resume sends no message of its own).
        int wait = t.resume_look_ms;
        if (quiet_since >= 0) {
            wait = static_cast<int>(std::max(0LL, quiet_since + t.push_burst_ms - clock_ms(CLOCK_MONOTONIC)));
        }
        int ready = fd >= 0 ? poll_cancellable(fd, POLLIN, stop.fd(), wait) : (stop.wait(wait) ? -1 : 0);
        if (ready < 0 && (errno == ECANCELED || fd < 0)) {
            break;
        }
        if (ready == 1 && drain_route_events(fd)) {
            quiet_since = clock_ms(CLOCK_MONOTONIC);
        }
        bool resumed = slept_ms() - asleep >= t.clock_jump_ms;
        bool settled = quiet_since >= 0 && clock_ms(CLOCK_MONOTONIC) - quiet_since >= t.push_burst_ms;
        if (resumed || settled) {
            write_state_log(resumed ? "Email arrival of the mail push --> Resumed" :
                                      "Email arrival of the mail push --> Network changed");
            changed(resumed);
            asleep = slept_ms();
            quiet_since = -1;
        }
    }
    if (fd >= 0) {
        close(fd);
    }
}
