// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/server_candidate.h"

#include "credentials/mail_providers.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>
#include <utility>

namespace {

constexpr std::size_t kHostLimit = 253; // RFC 1035 2.3.4, without the trailing dot
constexpr std::size_t kLabelLimit = 63;
constexpr std::size_t kLoginLimit = 255;

bool label_ok(std::string_view label) {
    if (label.empty() || label.size() > kLabelLimit || label.front() == '-' || label.back() == '-') {
        return false;
    }
    return std::all_of(label.begin(), label.end(), [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
}

// Encrypted before clear, the preferred protocol, then TLS from the first byte before STARTTLS.
int rank(const ServerCandidate& c, bool prefer_imap) {
    const int clear = c.security == kSecurityClear ? 1 : 0;
    const int other_protocol = c.imap == prefer_imap ? 0 : 1;
    const int starttls = c.security == kSecurityTls ? 0 : 1;
    return clear * 4 + other_protocol * 2 + starttls;
}

} // namespace

std::string host_name(std::string_view text) {
    if (text.ends_with('.')) {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > kHostLimit) {
        return "";
    }
    std::string host;
    host.reserve(text.size());
    for (std::string_view rest = text;;) {
        const std::size_t dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        if (!label_ok(label)) {
            return "";
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest = rest.substr(dot + 1);
    }
    std::transform(text.begin(), text.end(), std::back_inserter(host),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host;
}

std::string address_domain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? "" : host_name(address.substr(at + 1));
}

std::string fill_placeholders(std::string_view pattern, std::string_view address) {
    const std::size_t at = address.rfind('@');
    const std::pair<std::string_view, std::string_view> kinds[] = {
        {"%EMAILADDRESS%", address},
        {"%EMAILLOCALPART%", address.substr(0, at)},
        {"%EMAILDOMAIN%", at == std::string_view::npos ? std::string_view() : address.substr(at + 1)},
    };
    // One pass: text that the address brings in is never read as a placeholder again.
    std::string text;
    while (!pattern.empty() && text.size() <= kLoginLimit) {
        const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                       [pattern](const auto& k) { return pattern.starts_with(k.first); });
        if (kind != std::end(kinds)) {
            text += kind->second;
            pattern.remove_prefix(kind->first.size());
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(pattern.front());
        if (c >= 0x20 && c != 0x7f) {
            text += static_cast<char>(c);
        }
        pattern.remove_prefix(1);
    }
    return text.size() > kLoginLimit ? "" : text;
}

void order_candidates(std::vector<ServerCandidate>& candidates, bool prefer_imap) {
    std::vector<ServerCandidate> unique;
    for (ServerCandidate& c : candidates) {
        if (std::none_of(unique.begin(), unique.end(), [&c](const ServerCandidate& u) { return u.same_server(c); })) {
            unique.push_back(std::move(c));
        }
    }
    std::stable_sort(unique.begin(), unique.end(), [prefer_imap](const ServerCandidate& a, const ServerCandidate& b) {
        return rank(a, prefer_imap) < rank(b, prefer_imap);
    });
    candidates = std::move(unique);
}

std::vector<ServerCandidate> guessed_candidates(std::string_view domain, bool prefer_imap) {
    const std::string base = host_name(domain);
    std::vector<ServerCandidate> out;
    if (base.empty()) {
        return out;
    }
    struct Name {
        bool imap;
        const char* prefix;
    };
    constexpr Name kNames[] = {{true, "imap."}, {true, "mail."}, {false, "pop."}, {false, "mail."}};
    for (int security : {kSecurityTls, kSecurityStartTls, kSecurityClear}) {
        for (const Name& name : kNames) {
            const std::string host = host_name(name.prefix + base);
            if (!host.empty()) {
                ServerCandidate c;
                c.imap = name.imap;
                c.host = host;
                c.port = default_port(name.imap, security);
                c.security = security;
                c.source = ServerSource::guess;
                out.push_back(std::move(c));
            }
        }
    }
    order_candidates(out, prefer_imap);
    return out;
}

std::string oauth_preset_for_host(std::string_view host) {
    const std::string name = host_name(host);
    std::size_t count = 0;
    const MailProvider* rows = mail_providers(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (*rows[i].oauth_preset != '\0' && (name == rows[i].imap_host || name == rows[i].pop3_host)) {
            return rows[i].oauth_preset;
        }
    }
    return "";
}

int default_port(bool imap, int security) {
    if (imap) {
        return security == kSecurityTls ? 993 : 143;
    }
    return security == kSecurityTls ? 995 : 110;
}
