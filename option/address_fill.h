// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/discovery.h"

#include <string>
#include <string_view>

// What the 连接 tab fills in for an account: by the domain of its address (按地址填写) from the provider table at
// once, or from the search of the domain's published settings; or by the OAuth2 provider chosen. Plain C++, so it
// is tested by tables without widgets.

// The server an account of the provider uses for the protocol (false: POP3, true: IMAP), as ServerName holds it
// with its port ("imap.gmail.com:993"); "" for custom, an unknown name, or a provider without that protocol.
// Every server of the table takes TLS from the first byte, Security 2.
std::string preset_server(std::string_view provider, bool imap);

struct AddressFill {
    std::string server;   // ServerName to store; "" when there is nothing to fill in
    int security = kSecurityTls;
    bool imap = true;     // the protocol of server
    bool oauth2 = false;  // the provider takes OAuth2 only: Auth 1 with provider; else Auth 0, the password
    std::string provider; // OAuthProvider for an OAuth2 server ("google", "microsoft"; "custom" when none fits)
    std::string note;     // what the page tells the user: the source and server, or why nothing was filled in
    bool search = false;  // the table does not know the domain: its published settings are to be searched
};

// The fill for an account's address (its ID) and protocol from the provider table.
AddressFill address_fill(std::string_view address, bool imap);

// The fill for what the search of the address's domain found, for an account whose protocol was imap.
AddressFill discovered_fill(const DiscoveryResult& result, bool imap);
