// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_values.h"

#include "settings/key_values.h"
#include "settings/keys.h"

int condition_entry(const char* value) {
    int entry = sender_condition(value);
    return entry >= 0 && entry < kConditionCount ? entry : -1;
}

int protocol_entry(const char* value) {
    switch (mail_protocol(value)) {
    case MailProtocol::pop3: return 0;
    case MailProtocol::imap: return 1;
    default: return -1;
    }
}

int security_entry(const char* value) {
    switch (mail_security(value)) {
    case MailSecurity::plain: return 0;
    case MailSecurity::stls: return 1;
    case MailSecurity::tls: return 2;
    default: return -1;
    }
}

const char* upgrade_item(int protocol_entry) {
    return protocol_entry == 1 ? "1.STARTTLS" : kSecurityItems[1];
}

int auth_entry(const char* value) {
    return credential_kind(value) == CredentialKind::oauth2 ? 1 : 0;
}

int source_entry(const char* value) {
    const OAuthSource source = oauth_source(value);
    return source == OAuthSource::unknown ? -1 : static_cast<int>(source) - 1;
}

std::string source_value(int entry) {
    return entry >= 0 && entry < static_cast<int>(std::size(kSourceItems)) ? std::to_string(entry + 1) : "";
}

int provider_entry(const std::string& value) {
    for (std::size_t i = 0; i < std::size(kProviderValues); ++i) {
        if (value == kProviderValues[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string provider_value(int entry) {
    return entry >= 0 && entry < static_cast<int>(std::size(kProviderValues)) ? kProviderValues[entry] : "";
}

int sound_path_room() {
    return key_width(Key::SoundFile);
}

bool sound_path_fits(const std::string& path) {
    return path.size() <= static_cast<std::size_t>(sound_path_room());
}
