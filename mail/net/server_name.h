// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// A ServerName split into the host to resolve and the port to use. Beside a plain host name, "host:port" and
// "[IPv6 address]:port" name a server on a port other than the POP3 service's.
struct ServerName {
    enum class Error { none, port, host };
    Error error = Error::none;
    std::string host;
    int port = 0;         // 0: the port of the services entry
    bool numeric = false; // written in brackets: an address, never a name to look up
};

ServerName split_server_name(std::string_view text);
