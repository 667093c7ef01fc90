// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/candidate_text.h"

const char* security_text(int security, bool imap) {
    switch (security) {
    case kSecurityTls:
        return "TLS";
    case kSecurityStartTls:
        return imap ? "STARTTLS" : "STLS";
    default:
        return "none";
    }
}

std::string sign_in_text(const ServerCandidate& c) {
    switch (c.sign_in) {
    case SignIn::password:
        return "password";
    case SignIn::app_password:
        return "app password";
    case SignIn::authorization_code:
        return "authorization code";
    case SignIn::oauth2:
        return c.oauth_preset.empty() ? "OAuth2" : "OAuth2 (" + c.oauth_preset + ")";
    }
    return "password";
}

std::string source_text(const ServerCandidate& c) {
    switch (c.source) {
    case ServerSource::table:
        return "provider table (" + c.source_name + ")";
    case ServerSource::autoconfig:
        return "autoconfig (" + c.source_name + ")";
    case ServerSource::srv:
        return "DNS SRV";
    case ServerSource::mx:
        return "MX (" + c.source_name + ")";
    case ServerSource::guess:
        return "usual name";
    }
    return "";
}

std::string server_text(const ServerCandidate& c) {
    return c.host + ":" + std::to_string(c.port) + " with " + security_text(c.security, c.imap);
}
