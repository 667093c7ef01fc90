// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/provider_servers.h"

#include <algorithm>

namespace {

SignIn sign_in_of(ProviderSecret secret) {
    switch (secret) {
    case ProviderSecret::oauth2:
        return SignIn::oauth2;
    case ProviderSecret::app_password:
        return SignIn::app_password;
    case ProviderSecret::authorization_code:
        return SignIn::authorization_code;
    }
    return SignIn::password;
}

// Both tables have the same shape of servers and secret.
template <class Row> std::vector<ServerCandidate> servers_of(const Row& row, ServerSource source, bool prefer_imap) {
    std::vector<ServerCandidate> out;
    const std::pair<const char*, int> servers[] = {{row.imap_host, row.imap_port}, {row.pop3_host, row.pop3_port}};
    for (int i = 0; i < 2; ++i) {
        if (servers[i].first == nullptr || *servers[i].first == '\0') {
            continue;
        }
        ServerCandidate c;
        c.imap = i == 0;
        c.host = servers[i].first;
        c.port = servers[i].second;
        c.security = kSecurityTls;
        c.sign_in = sign_in_of(row.secret);
        c.oauth_preset = c.sign_in == SignIn::oauth2 ? row.oauth_preset : "";
        c.source = source;
        c.source_name = row.name;
        out.push_back(std::move(c));
    }
    order_candidates(out, prefer_imap);
    return out;
}

} // namespace

std::vector<ServerCandidate> table_candidates(const MailProvider& provider, bool prefer_imap) {
    return servers_of(provider, ServerSource::table, prefer_imap);
}

const MailProvider* hosting_provider(std::vector<MxRecord> records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const MxRecord& a, const MxRecord& b) { return a.preference < b.preference; });
    for (const MxRecord& r : records) {
        const std::string host = host_name(r.host);
        if (const MailProvider* provider = host.empty() ? nullptr : hosted_mail_for_exchanger(host)) {
            return provider;
        }
    }
    return nullptr;
}

std::vector<ServerCandidate> hosted_candidates(const MailProvider& provider, bool prefer_imap) {
    return servers_of(provider, ServerSource::mx, prefer_imap);
}
