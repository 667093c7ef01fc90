// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// What we know of the mail providers our users have, by the domain of the address: servers, ports, and which
// secret the provider wants from a mail program. Pure data and look-ups; the option program fills an account in
// from it ("按地址填写"), and kd5lite --check takes its hints from it.

enum class ProviderSecret {
    oauth2,             // sign-in with OAuth2 only (or an app password where two-step verification allows one)
    app_password,       // a password made for mail programs in the account's security settings
    authorization_code, // 授权码: a code the web mail's settings hand out for mail programs
};

struct MailProvider {
    const char* name;      // as the user knows it: "Gmail", "Outlook.com"
    const char* domains;   // the address domains (for a hosting provider its exchangers), separated by spaces
    const char* imap_host; // with TLS from the first byte (Security 2)
    int imap_port;
    const char* pop3_host; // "" when the provider has no POP3
    int pop3_port;
    ProviderSecret secret;
    const char* oauth_preset; // "google", "microsoft", or "" without OAuth2
};

// The row for an address's domain (after its last "@", letters compared without case), or nullptr.
const MailProvider* mail_provider_for(std::string_view address);
// Every row, for the user guide and the tests.
const MailProvider* mail_providers(std::size_t* count);

// Providers that host the mail of their customers' own domains are rows of the same shape, known by the domain's
// mail exchangers (MX): their `domains` are the exchangers' host names, or the domains those end in.

// The provider whose mail exchanger host is (letters compared without case, a trailing dot ignored): the host is
// one of the row's names or ends in "." and one of them. nullptr for any other host.
const MailProvider* hosted_mail_for_exchanger(std::string_view host);

// An OAuth2 provider's endpoints and scopes. The presets google and microsoft; custom comes from the settings.
struct OAuthEndpoints {
    std::string auth_url;
    std::string token_url;
    std::string scope; // separated by spaces
    std::string client_id;
    std::string client_secret; // Google's installed-application secret, which is no secret (RFC 8252 8.5)
};

// The endpoints for a provider name ("google", "microsoft", "custom") and an account's protocol (false: POP3,
// true: IMAP). For custom the settings' own URLs and scope; a client id from the settings wins over the one the
// build brings. False, with a reason in *why, when the name is unknown, a custom provider lacks its token URL, or
// no client id is there.
bool oauth_endpoints(std::string_view provider, bool imap, std::string_view auth_url, std::string_view token_url,
                     std::string_view scope, std::string_view client_id, OAuthEndpoints& out, std::string* why);

// Whether this build brings a client id of its own for the preset provider ("google", "microsoft"): whoever packages
// it may register one. False for custom and any other name, whose client id the user always enters.
bool oauth_build_brings_client_id(std::string_view provider);

// Whether a token endpoint may be used: https, or plain http to a loopback address only (127.0.0.0/8, [::1],
// localhost), as the mail connections allow clear text only where nothing leaves the machine.
bool oauth_url_allowed(std::string_view url);
