// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/route_check.h"

#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string>
#include <unistd.h>

namespace {

bool same_address(const sockaddr* a, const sockaddr_storage& b) {
    if (a == nullptr || a->sa_family != b.ss_family) {
        return false;
    }
    if (a->sa_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&b)->sin_addr.s_addr;
    }
    if (a->sa_family == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&b)->sin6_addr, sizeof(in6_addr)) == 0;
    }
    return false;
}

// The interface that holds address now; empty when none does.
std::string interface_of(const sockaddr_storage& address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::string name;
    for (const ifaddrs* i = list; i != nullptr && name.empty(); i = i->ifa_next) {
        if (same_address(i->ifa_addr, address)) {
            name = i->ifa_name;
        }
    }
    freeifaddrs(list);
    return name;
}

socklen_t length_of(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// The source address the kernel picks now for a packet to peer: a datagram socket's connect sends nothing.
bool route_source(const sockaddr_storage& peer, sockaddr_storage& source) {
    int probe = socket(peer.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    socklen_t size = sizeof source;
    bool found = connect(probe, reinterpret_cast<const sockaddr*>(&peer), length_of(peer)) == 0 &&
                 getsockname(probe, reinterpret_cast<sockaddr*>(&source), &size) == 0;
    close(probe);
    return found;
}

} // namespace

bool route_holds(const sockaddr_storage& local, const sockaddr_storage& peer) {
    const std::string own = interface_of(local);
    sockaddr_storage source{};
    return !own.empty() && route_source(peer, source) && interface_of(source) == own;
}
