// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// The desktop's online accounts (GNOME Online Accounts, org.gnome.OnlineAccounts on the session bus): the mail
// accounts a user added in the desktop's settings, and their OAuth2 access tokens. kd5lite needs no client id of
// its own for them. Every call is bounded by a wait in milliseconds; no session bus or no such service answers at
// once.

// One online account with mail: its Id (the OnlineAccount setting), who it is, and where its mail is read.
struct OnlineMailAccount {
    std::string id;        // the account's Id, e.g. "account_1712345678_0"
    std::string provider;  // the provider's name as the desktop shows it ("Google", "Microsoft")
    std::string identity;  // the presentation identity, usually the mail address
    std::string imap_host; // the Mail interface's ImapHost; may carry ":port"
    std::string imap_user; // the Mail interface's ImapUserName
    bool oauth2 = false;   // the account has the OAuth2Based interface
    // Added after the first fields, which the option program's list builds on:
    std::string email;             // the Mail interface's EmailAddress
    bool imap_use_ssl = false;     // ImapUseSsl: TLS from the first byte (port 993 unless imap_host names one)
    bool imap_use_tls = false;     // ImapUseTls: STARTTLS on the plain port
    bool attention_needed = false; // AttentionNeeded: the desktop wants the credentials entered again
};

enum class OnlineStatus {
    ok,
    no_service, // no session bus, or no online accounts service on it
    no_account, // no online account with that Id, or it has no mail or no OAuth2
    refused,    // the service could not give a token: the account needs its credentials entered again
    failed,     // any other failure, the service's own words in the error text
};

// The online accounts that read mail and sign in with OAuth2, in the service's order. ok with an empty list when
// the service has none.
OnlineStatus online_mail_accounts(std::vector<OnlineMailAccount>& accounts, int wait_ms,
                                  std::string* error = nullptr);

// The account with this Id (as online_mail_accounts lists it).
OnlineStatus online_mail_account(const std::string& id, OnlineMailAccount& account, int wait_ms,
                                 std::string* error = nullptr);

// An access token of the account with this Id into token (wiped first), and its life in seconds when the service
// says. The caller wipes token after use.
OnlineStatus online_access_token(const std::string& id, std::string& token, int& expires_in_s, int wait_ms,
                                 std::string* error = nullptr);

// Limits on what the bus may hand over: the service's strings are not ours to trust. An account whose Id, IMAP
// host or user is longer, or holds a control byte or a space, is left out of the list; the names shown are cut.
inline constexpr std::size_t kOnlineIdMax = 64; // the OnlineAccount setting's size
inline constexpr std::size_t kOnlineFieldMax = 255;
inline constexpr std::size_t kOnlineTokenMax = 8192; // what the SASL mechanisms take (mail/sasl/oauth_sasl.h)

// Whether text from the bus can serve as an Id, a host or a user: 1 to max bytes, none of them a space or a control
// byte; pure.
bool online_field_usable(const std::string& text, std::size_t max);

// Text from the bus made fit to be shown and logged: control bytes become '?', and it is cut to at most max bytes
// without splitting a UTF-8 sequence; pure.
std::string online_display_text(const std::string& text, std::size_t max);
