// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/private_bus.h"

#include <string>

// One private session bus for the whole GUI test program, made at its first use: Qt connects to the session bus
// once per process and keeps that connection, so a bus per test would leave later tests without one.
PrivateSessionBus& gui_bus();
// A directory of the program's own beside it, for the services the tests start on that bus.
const std::string& gui_bus_dir();
