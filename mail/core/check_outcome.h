// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// How one check of one account ended, beside the error-log line it wrote: readers (the diagnosis, the tray, the
// health of an account) decide on these values, never on the wording of a line.

// Where in the check it ended. The order is the order of a check.
enum class CheckStep {
    none,     // it did not end early
    settings, // the account's own settings (protocol, security, OAuth2 without TLS)
    secret,   // reading the password or refresh token (keyring, settings file)
    token,    // getting the OAuth2 access token (token command, browser sign-in, online account)
    resolve,  // looking up the server's name
    connect,  // the TCP connection
    greeting, // the server's first words
    tls,      // STARTTLS/STLS or the TLS handshake and the certificate
    user,     // the user name on its own (POP3 USER), before the password
    login,    // user name, password or token
    folder,   // selecting the folder (IMAP)
    count,    // counting: STAT, SEARCH, UIDL
    headers,  // the headers for sender conditions or a notification: TOP, FETCH
    logout,   // QUIT or LOGOUT
};

// What went wrong. Kinds that mend themselves (a server down, a network away) come first; those that want the user
// (a refused login, a revoked sign-in) after them.
enum class CheckFailure {
    none,            // the check worked
    unreachable,     // no name, no route, nothing listening, no answer in time
    tls,             // no TLS where the account wants it, a failed handshake
    certificate,     // a certificate that is not trusted or no longer matches its pin
    protocol_broken, // the server broke the protocol: an unexpected, over-long or malformed answer
    flood,           // the server sent more than any answer may hold
    refused,         // the server refused a command after the login (the count may still stand)
    refused_login,   // the server refused the user name or the password
    refused_token,   // the server refused the OAuth2 access token
    sign_in_again,   // the provider refused the refresh token: the user must sign in anew
    no_token,        // no access token could be had (not signed in, the token command failed, no online account)
    keyring,         // the keyring is locked, not running, does not answer, or holds no such secret
    settings,        // the account's settings cannot work (an unknown protocol or security, OAuth2 without TLS)
    stopped,         // a stop was asked for while the check ran
};

struct CheckOutcome {
    CheckStep step = CheckStep::none;
    CheckFailure failure = CheckFailure::none;
    int error = 0;    // the error number of the log line
    std::string line; // the error-log line as written, for showing, never for deciding; empty when none was written

    bool ok() const { return failure == CheckFailure::none; }
};

// The names of steps and failures in plain English, for the diagnosis and the logs of a change of health.
const char* check_step_name(CheckStep step);
const char* check_failure_name(CheckFailure failure);

// Writes the line (made with format_text) to the error log, and keeps it in outcome with its step, kind and error
// number (the number the line gives).
void write_failure_line(CheckOutcome& outcome, CheckStep step, CheckFailure failure, int error, std::string line);
