// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A domain's published mail settings in the autoconfig format (clientConfig, version 1.1), read from the bytes of
// its answer. Only the incoming IMAP and POP3 servers are read; outgoing servers, documentation and anything
// unknown are passed over. Pure; any bytes.

// Bytes an answer may have: published files are a few kilobytes, and one that is larger is no such file.
inline constexpr std::size_t kAutoconfigLimit = 64 * 1024;

struct AutoconfigServer {
    bool imap = true;
    std::string host;          // as the file has it, placeholders in place
    int port = 0;              // 0: none or not a port
    int security = -1;         // kSecurityTls for SSL or TLS, kSecurityStartTls, kSecurityClear for plain; -1 other
    std::string username;      // the pattern, placeholders in place
    bool password = false;     // a password method is named (password-cleartext, password-encrypted, plain, secure)
    bool oauth2 = false;       // OAuth2 is named
    bool other_method = false; // a method we cannot use is named (NTLM, GSSAPI, client-IP-address, ...)
};

struct Autoconfig {
    bool ok = false;
    std::string error;                      // why nothing was read, in English, for the logs
    std::vector<AutoconfigServer> incoming; // at most kAutoconfigServerLimit, in the file's order
};

inline constexpr std::size_t kAutoconfigServerLimit = 16;

// The incoming servers of an answer. Not ok for an answer larger than kAutoconfigLimit, broken XML (anywhere in
// the answer), a document type declaration (whose entities could grow it without bound), or a root element other
// than clientConfig.
Autoconfig parse_autoconfig(std::string_view bytes);

// The servers an account of address can use: the placeholders put in, the host checked by host_name, a port and a
// socket type given, and a sign-in we can do (a password, or OAuth2 only: then with the preset of a provider we
// know). Source autoconfig, named for domain; ordered by order_candidates.
std::vector<ServerCandidate> autoconfig_candidates(const Autoconfig& config, std::string_view address,
                                                   std::string_view domain, bool prefer_imap);
