// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether the session bus answers, asked once at start before anything of Qt's D-Bus runs. libdbus connects with
// no time limit: a bus that accepts and never says a word (a stopped bus daemon) would hold the notifier's start for
// good, and with it the tray, whose Qt code asks the bus first. Plain sockets here, each wait bounded.

// One socket a bus address names (D-Bus specification, "Server Addresses"): "unix:path=..." or "unix:abstract=...",
// values percent-decoded. Other transports are not probed.
struct BusSocket {
    bool abstract = false;
    std::string path;
    bool operator==(const BusSocket&) const = default;
};

// Pure: the sockets of an address list ("a;b;c" are tried in order), in order; transports other than unix, and
// unix entries without path or abstract (a listening-only "dir" or "tmpdir"), are left out.
std::vector<BusSocket> bus_sockets(std::string_view address);

enum class BusAnswer {
    answers, // a socket answered the authentication (OK, REJECTED: either way a bus that speaks)
    absent,  // nothing to connect to: libdbus fails at once as well
    silent,  // a socket took the connection and said nothing within the time limit
    unknown, // nothing the probe can reach (another transport, no address): left to libdbus
};

// Connects to the address's sockets in turn and sends the first line of the authentication (AUTH EXTERNAL with
// the user's uid); waits at most timeout_ms in all.
BusAnswer bus_answers(std::string_view address, int timeout_ms);

// At start, before the application object: asks the session bus (DBUS_SESSION_BUS_ADDRESS, else the usual
// $XDG_RUNTIME_DIR/bus). A silent bus is written to the error log and taken out of this process's environment
// for good, so that every D-Bus user of the process (Qt's tray, the notifications, the keyring) fails at once rather
// than hang; the programs the notifier starts get the address as it was.
void session_bus_check_at_start(int timeout_ms);

// False once the start found the session bus silent: nothing of ours uses it.
bool session_bus_usable();

// The address the process was started with (empty when unset), for the programs it starts.
const std::string& session_bus_address_at_start();
