// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_values.h"

#include "mail/net/tls_settings.h"
#include "platform/text.h"
#include "settings/keys.h"

int condition_entry(const char* value) {
    int entry = text_to_int(value);
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
    return text_to_int(value) == 1 ? 1 : 0;
}

int source_entry(const char* value) {
    const int source = text_to_int(value);
    return source >= 1 && source <= static_cast<int>(std::size(kSourceItems)) ? source - 1 : -1;
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
    return static_cast<int>(key_field(Key::SoundFile).size) - 1;
}

bool sound_path_fits(const std::string& path) {
    return path.size() <= static_cast<std::size_t>(sound_path_room());
}
