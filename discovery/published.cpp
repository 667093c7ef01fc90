// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/published.h"

#include "discovery/candidate_text.h"
#include "discovery/discovery.h"
#include "mail/net/server_name.h"

#include <algorithm>

namespace {

// The published server that is the account's, or nullptr.
const ServerCandidate* matching(std::string_view server_name, int security, bool imap,
                                const std::vector<ServerCandidate>& published) {
    const ServerName name = split_server_name(server_name);
    if (name.error != ServerName::Error::none) {
        return nullptr;
    }
    const std::string host = host_name(name.host);
    const int port = name.port != 0 ? name.port : default_port(imap, security);
    const auto it = std::find_if(published.begin(), published.end(), [&](const ServerCandidate& c) {
        return c.imap == imap && !host.empty() && c.host == host && c.port == port && c.security == security;
    });
    return it == published.end() ? nullptr : &*it;
}

} // namespace

PublishedMatch published_match(std::string_view server_name, int security, bool imap,
                               const std::vector<ServerCandidate>& published) {
    const bool any =
        std::any_of(published.begin(), published.end(), [imap](const ServerCandidate& c) { return c.imap == imap; });
    if (!any) {
        return PublishedMatch::none;
    }
    return matching(server_name, security, imap, published) != nullptr ? PublishedMatch::same : PublishedMatch::differs;
}

std::string published_settings_line(const std::string& address, const std::string& server_name, bool imap,
                                    int security) {
    DiscoveryStop never;
    const PublishedServers published = published_servers(address, imap, never);
    if (published.domain.empty()) {
        return "";
    }
    switch (published_match(server_name, security, imap, published.servers)) {
    case PublishedMatch::same: {
        const ServerCandidate* c = matching(server_name, security, imap, published.servers);
        return "the server is what " + published.domain + " publishes (" + source_text(*c) + ")";
    }
    case PublishedMatch::differs: {
        const ServerCandidate& c = published.servers.front();
        return published.domain + " publishes " + server_text(c) + " (" + source_text(c) + "), not " +
               std::string(server_name) + " with " + security_text(security, imap);
    }
    case PublishedMatch::none:
        break;
    }
    return published.domain + " publishes no " + (imap ? "IMAP" : "POP3") + " server";
}
