// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Whether the session bus answers at all, asked before the bus library is: the library waits without any end for
// a bus that takes the connection and never says a word (a daemon that was stopped), and the notifier's window
// thread would wait with it. The question is the first step of every connection, the authentication of RFC 4422's
// EXTERNAL mechanism as the D-Bus wire protocol opens with it; any answer of the server counts.

enum class BusProbe {
    answers,
    none,   // no address, or nothing listens there: the bus library fails at once by itself
    silent, // connected, and no answer within the time
};

// The first unix:path= or unix:abstract= entry of a D-Bus server address list; empty when there is none.
// DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus, as the bus library looks.
std::string session_bus_socket(const char* address, const char* runtime_dir);

BusProbe probe_session_bus(int timeout_ms);

// Probes the session bus; one that is silent is left out for the rest of the process (DBUS_SESSION_BUS_ADDRESS
// then names no bus, so every later call fails at once), with a line in the error log.
void leave_out_silent_session_bus(int timeout_ms);
