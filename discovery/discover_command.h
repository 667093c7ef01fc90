// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

// kd5lite --discover ADDRESS: what 按地址填写 would fill in, one "key: value" line each (protocol, server, port,
// security, sign-in, user when it is not the address, source), IMAP preferred. The exit status: 0 when a server
// was found and, unless it came from the provider table, answered; 1 when not, with the reason on one line. The
// thread needs a QCoreApplication.
int discover_command(const std::string& address, std::FILE* out);
