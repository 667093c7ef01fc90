// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"

#include <string>
#include <string_view>
#include <vector>

// Whether an account's server is what its domain publishes now, for kd5lite --check.

enum class PublishedMatch {
    same,    // one of the published servers is the account's: host, port and security
    differs, // the domain publishes servers, none of them the account's
    none,    // the domain publishes nothing for the protocol
};

// The account's ServerName ("host", "host:port", "[v6]:port"; without a port the protocol's own for the
// security), Security and protocol against the published servers. Pure.
PublishedMatch published_match(std::string_view server_name, int security, bool imap,
                               const std::vector<ServerCandidate>& published);

// One line for the diagnosis of an account: "the server is what example.org publishes (autoconfig
// (example.org))", "example.org publishes imap.example.org:993 with TLS (DNS SRV), not ...", "example.org
// publishes no IMAP server", or "" when the address has no domain to ask. Looks the domain up without connecting
// to any server, within the search's deadlines; the thread needs a QCoreApplication.
std::string published_settings_line(const std::string& address, const std::string& server_name, bool imap,
                                    int security);
