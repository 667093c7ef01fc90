// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/credential.h"
#include "settings/keys.h"

// What the keys whose values are codes mean, read one way for every program: the mail check, the notifier, the
// tools' pages and kd5lite --check. Numeric values are read with their leading digits counting unless a key says
// otherwise below; an empty value means what older files, which lack the key, always meant.

// Security: how an account's connection is protected.
enum class MailSecurity {
    plain,   // "0" or empty: POP3 in clear, as it always was
    stls,    // "1": STLS on the "pop3" port, and TLS before USER (RFC 2595)
    tls,     // "2": TLS from the first byte on the "pop3s" port (RFC 8314)
    unknown, // anything else: no connection at all rather than a guess that might send the password in clear
};

// The mode a Security value names: its leading digits as a decimal number, so "01" is 1; a value that does not
// begin with a digit (a blank or a sign first), or names no mode, is unknown.
MailSecurity mail_security(const char* setting);

// Protocol: what an account speaks.
enum class MailProtocol {
    pop3,    // "0" or empty, as every account was before IMAP
    imap,    // "1"
    unknown, // anything else: no connection at all
};

// The protocol a Protocol value names, read as Security is read: leading digits count, so "01" is IMAP, and a
// value that does not begin with a digit names none.
MailProtocol mail_protocol(const char* setting);

// Auth: 1 is OAuth2; anything else (empty, 0, any other number) the password.
CredentialKind credential_kind(const char* setting);

// OAuthSource: where an OAuth2 account's token comes from.
enum class OAuthSource {
    unknown = 0,        // anything else: the token sources refuse the account
    browser = 1,        // the sign-in in the browser, whose refresh token the option program keeps
    online_account = 2, // the desktop's online accounts, which also say where the mail is
    token_command = 3,  // a program the user names, which prints the token
};
OAuthSource oauth_source(const char* setting);

// Switch: the mail monitor takes an account whose value reads as exactly 1; the notifier's check of the account's
// other keys counts it as on for any number but 0; the setup program's box is ticked exactly when the first
// character is "1" (so "10" ticks it, and the next Apply makes it "1").
bool switch_watched(const char* setting);
bool switch_on(const char* setting);
bool switch_ticked(const char* setting);

// Notify: only "0" itself turns the desktop notification off; empty (an older file) leaves it on.
bool notify_on(const char* setting);

// SpecialSearch1 to 3: the sender condition as the mail check applies it (1 exact, 2 partial; any other number
// is no condition).
int sender_condition(const char* setting);

// StateLog and ErrorLog hold a switch character and the day marker: "1" first switches the family on, anything
// else off; the day is the number after the switch, 0 when there is none.
bool log_switch(const char* setting);
int log_day(const char* setting);

// The same keys as the settings record holds them now (account keys of account index 0 to 2).
MailSecurity account_security(int index);
MailProtocol account_protocol(int index);
CredentialKind account_auth(int index);
OAuthSource account_oauth_source(int index);
bool account_watched(int index);
bool account_on(int index);
bool account_ticked(int index);
bool account_notifies(int index);
bool account_health_blinks(int index);          // HealthBlink: on unless "0", as Notify
int account_sender_condition(int index, int n); // n: 0 to 2, for SpecialSearch1 to 3
bool log_switched_on(Key key);                  // StateLog or ErrorLog

// BeepTime: how often the buzzer sounds for new mail; 0 (also for an empty or negative value) means the accounts'
// wave files instead.
int beep_count();
