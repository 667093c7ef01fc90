// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

// What an account's Security and TlsFingerprint settings say about its connection. Plain C++, tested by tables.

enum class MailSecurity {
    plain,   // "0" or empty: POP3 in clear, as it always was
    stls,    // "1": STLS on the "pop3" port, and TLS before USER (RFC 2595)
    tls,     // "2": TLS from the first byte on the "pop3s" port (RFC 8314)
    unknown, // anything else: no connection at all rather than a guess that might send the password in clear
};

// The mode a Security value names: its leading digits as a decimal number, so "01" is 1; a value that does not
// begin with a digit, or names no mode, is unknown.
MailSecurity mail_security(const char* setting);

enum class MailProtocol {
    pop3,    // "0" or empty, as every account was before IMAP
    imap,    // "1"
    unknown, // anything else: no connection at all
};

// The protocol a Protocol value names, read as Security is read: leading digits count, so "01" is IMAP, and a
// value that does not begin with a digit names none.
MailProtocol mail_protocol(const char* setting);

// The services entry that gives the port of a server name written without one.
const char* mail_service(MailSecurity security);

// A SHA-256 digest as the error log shows it and TlsFingerprint takes it: upper-case hex pairs joined by colons.
std::string fingerprint_text(const unsigned char* digest, std::size_t size);

// Whether a TlsFingerprint value names the certificate whose digest fingerprint_text showed. Colons and case do
// not count; a value that is not exactly 64 hex digits then names no certificate, so an empty one trusts nothing.
bool fingerprint_matches(const char* setting, const std::string& shown);
