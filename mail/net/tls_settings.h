// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/key_values.h"

#include <cstddef>
#include <string>

// What an account's Security and TlsFingerprint settings say about its connection. Plain C++, tested by tables.
// The modes themselves (MailSecurity, MailProtocol) are the settings' own.

// The services entry that gives the port of a server name written without one.
const char* mail_service(MailSecurity security);

// A SHA-256 digest as the error log shows it and TlsFingerprint takes it: upper-case hex pairs joined by colons.
std::string fingerprint_text(const unsigned char* digest, std::size_t size);

// Whether a TlsFingerprint value names the certificate whose digest fingerprint_text showed. Colons and case do
// not count; a value that is not exactly 64 hex digits then names no certificate, so an empty one trusts nothing.
bool fingerprint_matches(const char* setting, const std::string& shown);
