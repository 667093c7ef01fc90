// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A mail server that a source names for an address, before and after it was checked: what the 连接 tab fills in
// and kd5lite --discover prints. Plain C++, tested by tables.

// Where a server came from, in the order the sources are asked.
enum class ServerSource {
    table,      // the provider table, by the address's domain
    autoconfig, // the domain's published autoconfig file (https://autoconfig.DOMAIN/..., /.well-known/...)
    srv,        // the domain's SRV records (RFC 6186)
    mx,         // the domain's mail exchangers belong to a provider that hosts domains
    guess,      // imap.DOMAIN, mail.DOMAIN, pop.DOMAIN
};

// What the server wants as the secret.
enum class SignIn {
    password,           // the mailbox's own password
    app_password,       // a password made for mail programs in the account's security settings
    authorization_code, // 授权码 from the web mail's settings
    oauth2,             // OAuth2 only
};

// Security as the Security setting stores it.
inline constexpr int kSecurityClear = 0;
inline constexpr int kSecurityStartTls = 1; // STARTTLS (IMAP) or STLS (POP3) on the plain port
inline constexpr int kSecurityTls = 2;      // TLS from the first byte

struct ServerCandidate {
    bool imap = true; // false: POP3
    std::string host; // a checked host name: letters, digits, '-' and '.', lower case, no trailing dot
    int port = 0;
    int security = kSecurityTls;
    std::string user; // the login name the server wants when it is not the address itself; "" otherwise
    SignIn sign_in = SignIn::password;
    std::string oauth_preset; // "google" or "microsoft" with SignIn::oauth2 when a preset fits, else ""
    ServerSource source = ServerSource::guess;
    std::string source_name; // the autoconfig's domain, the hosting provider's or table row's name

    bool same_server(const ServerCandidate& other) const {
        return imap == other.imap && host == other.host && port == other.port && security == other.security;
    }
};

// A host name as a DNS answer or a published file gives it, in the form a candidate keeps: lower case, without a
// trailing dot, each label 1 to 63 letters, digits or '-' not at either end, 253 bytes at most (RFC 1123 2.1).
// "" for anything else, so that nothing else is ever connected to or shown.
std::string host_name(std::string_view text);

// The domain of an address (after its last "@") as host_name has it; "" when there is none.
std::string address_domain(std::string_view address);

// A login name pattern of a published file with the address put in: %EMAILADDRESS%, %EMAILLOCALPART% (before the
// last "@") and %EMAILDOMAIN% (after it), in one pass. Other text stays as it is; controls are dropped, and ""
// comes back for a result longer than 255 bytes.
std::string fill_placeholders(std::string_view pattern, std::string_view address);

// Orders candidates as they are tried: every encrypted one before any in clear; among those, the preferred
// protocol first; then TLS from the first byte before STARTTLS (RFC 8314 3); ties keep the source's own order.
// A server named twice keeps its first place only.
void order_candidates(std::vector<ServerCandidate>& candidates, bool prefer_imap);

// The usual names of a domain's servers as the last guess: imap.DOMAIN and mail.DOMAIN for IMAP on 993 and 143,
// pop.DOMAIN and mail.DOMAIN for POP3 on 995 and 110, each port with TLS, then STARTTLS/STLS, then in clear;
// ordered by order_candidates.
std::vector<ServerCandidate> guessed_candidates(std::string_view domain, bool prefer_imap);

// The OAuth2 preset of a provider whose servers include host ("imap.gmail.com" is google), "" for none.
std::string oauth_preset_for_host(std::string_view host);

// The port a server name without one uses: 993 or 143 for IMAP, 995 or 110 for POP3, by security.
int default_port(bool imap, int security);
