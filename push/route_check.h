// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/socket.h>

// Whether a connection still holds after an address or route change somewhere on the machine: its own address is
// still on the interface it was on, and the route to its server still leaves through that interface. A change
// elsewhere (loopback, a container bridge, a new temporary IPv6 address) leaves it alone.
bool route_holds(const sockaddr_storage& local, const sockaddr_storage& peer);
