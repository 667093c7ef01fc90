// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/discover_command.h"

#include "discovery/candidate_text.h"
#include "discovery/discovery.h"

namespace {

const char* why_not(DiscoveryEnd end) {
    switch (end) {
    case DiscoveryEnd::no_address:
        return "not a mail address";
    case DiscoveryEnd::timed_out:
        return "the search ran out of time";
    case DiscoveryEnd::stopped:
        return "the search was stopped";
    default:
        return "no source named a server that answers (autoconfig, DNS SRV, MX, usual names)";
    }
}

} // namespace

int discover_command(const std::string& address, std::FILE* out) {
    DiscoveryStop never;
    const DiscoveryResult result = discover_server(address, true, never);
    if (result.end != DiscoveryEnd::found) {
        std::fprintf(out, "error: %s%s%s\n", result.domain.empty() ? "" : result.domain.c_str(),
                     result.domain.empty() ? "" : ": ", why_not(result.end));
        return 1;
    }
    const ServerCandidate& c = result.server;
    std::fprintf(out, "protocol: %s\n", c.imap ? "IMAP" : "POP3");
    std::fprintf(out, "server: %s\n", c.host.c_str());
    std::fprintf(out, "port: %d\n", c.port);
    std::fprintf(out, "security: %s\n", security_text(c.security, c.imap));
    std::fprintf(out, "sign-in: %s\n", sign_in_text(c).c_str());
    if (!c.user.empty()) {
        std::fprintf(out, "user: %s\n", c.user.c_str());
    }
    std::fprintf(out, "source: %s\n", source_text(c).c_str());
    return 0;
}
