// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/server_name.h"

namespace {

// A TCP port: decimal digits only, 1 to 65535.
int parse_port(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) {
        return 0;
    }
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

ServerName with_port(std::string host, std::string_view digits, bool numeric) {
    ServerName name;
    name.host = std::move(host);
    name.numeric = numeric;
    name.port = parse_port(digits);
    if (name.port == 0) {
        name.error = ServerName::Error::port;
    } else if (name.host.empty()) {
        name.error = ServerName::Error::host;
    }
    return name;
}

} // namespace

ServerName split_server_name(std::string_view text) {
    ServerName name;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            name.error = ServerName::Error::host;
            return name;
        }
        std::string host(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (rest.empty()) {
            name.host = host;
            name.numeric = true;
            return name;
        }
        if (rest.front() != ':') {
            name.error = ServerName::Error::host;
            return name;
        }
        return with_port(host, rest.substr(1), true);
    }
    // One colon separates a port; an IPv6 address written without brackets has several and is a plain host.
    std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        return with_port(std::string(text.substr(0, colon)), text.substr(colon + 1), false);
    }
    name.host = std::string(text);
    return name;
}
