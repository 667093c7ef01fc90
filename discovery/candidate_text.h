// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"

#include <string>

// A candidate in the terminal's words (kd5lite --discover and --check), in English. Pure.

// "TLS", "STARTTLS" (IMAP) or "STLS" (POP3), "none".
const char* security_text(int security, bool imap);
// "password", "app password", "authorization code", "OAuth2", "OAuth2 (google)".
std::string sign_in_text(const ServerCandidate& c);
// "provider table (Gmail)", "autoconfig (example.org)", "DNS SRV", "MX (Microsoft 365)", "usual name".
std::string source_text(const ServerCandidate& c);
// "imap.example.org:993 with TLS"
std::string server_text(const ServerCandidate& c);
