// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// What the 连接 tab fills in for an account from the provider table: by the domain of its address (按地址填写), or
// by the OAuth2 provider chosen. Plain C++, so it is tested by tables without widgets.

// The server an account of the provider uses for the protocol (false: POP3, true: IMAP), as ServerName holds it
// with its port ("imap.gmail.com:993"); "" for custom, an unknown name, or a provider without that protocol.
// Every server of the table takes TLS from the first byte, Security 2.
std::string preset_server(std::string_view provider, bool imap);

struct AddressFill {
    std::string server;   // ServerName to store; "" when there is nothing to fill in
    bool oauth2 = false;  // the provider takes OAuth2 only: Auth 1 with provider
    std::string provider; // OAuthProvider for an OAuth2 row ("google", "microsoft")
    std::string note;     // what the page tells the user: the provider and server, or why nothing was filled in
};

// The fill for an account's address (its ID) and protocol. Security is always 2 where server is set.
AddressFill address_fill(std::string_view address, bool imap);
