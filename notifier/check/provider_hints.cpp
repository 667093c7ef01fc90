// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/provider_hints.h"

#include <cctype>
#include <string>

namespace {

struct ProviderHint {
    const char* domain;
    const char* hint;
};

constexpr char kAuthorizationCode[] =
    "this provider wants an authorization code (授权码), not the web password: switch IMAP/POP3 on in its web "
    "mail's settings, where the code is made, and type the code as the password";
constexpr char kAppPassword[] =
    "this provider wants an app password, made in its account security settings (two-step verification on), "
    "not the web password";
constexpr char kOauth[] = "this provider takes OAuth2 sign-in only and refuses passwords from mail programs";

// A server name matches a domain when it is the domain or ends in "." and the domain: pop.qq.com, imap.qq.com.
constexpr ProviderHint kHints[] = {
    {"qq.com", kAuthorizationCode},      {"163.com", kAuthorizationCode},   {"126.com", kAuthorizationCode},
    {"yeah.net", kAuthorizationCode},    {"gmail.com", kAppPassword},       {"googlemail.com", kAppPassword},
    {"yahoo.com", kAppPassword},         {"aol.com", kAppPassword},         {"mail.me.com", kAppPassword},
    {"icloud.com", kAppPassword},        {"outlook.com", kOauth},           {"office365.com", kOauth},
    {"hotmail.com", kOauth},
};

bool in_domain(const std::string& host, std::string_view domain) {
    if (host.size() < domain.size() || host.compare(host.size() - domain.size(), domain.size(), domain) != 0) {
        return false;
    }
    return host.size() == domain.size() || host[host.size() - domain.size() - 1] == '.';
}

} // namespace

const char* provider_hint(std::string_view host) {
    std::string name;
    for (char c : host) {
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    while (!name.empty() && name.back() == '.') { // a fully qualified name's final dot
        name.pop_back();
    }
    for (const ProviderHint& entry : kHints) {
        if (in_domain(name, entry.domain)) {
            return entry.hint;
        }
    }
    return nullptr;
}
