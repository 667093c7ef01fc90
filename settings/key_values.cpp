// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/key_values.h"

#include "platform/text.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The setup program's switch boxes and the log switches look at the first character alone.
bool first_is_one(const char* setting) {
    return setting != nullptr && setting[0] == '1';
}

// A code whose meaning is a mode to connect with: a value that does not begin with a digit is not taken as 0.
bool begins_with_digit(const char* setting) {
    return *setting >= '0' && *setting <= '9';
}

template <typename Read> auto read_field(Key key, int index, Read read) {
    return read(settings_get(key, index).c_str());
}

constexpr Key kSearchKeys[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};

} // namespace

MailSecurity mail_security(const char* setting) {
    if (setting == nullptr || *setting == '\0') {
        return MailSecurity::plain;
    }
    if (!begins_with_digit(setting)) {
        return MailSecurity::unknown;
    }
    switch (text_to_int(setting)) {
    case 0:
        return MailSecurity::plain;
    case 1:
        return MailSecurity::stls;
    case 2:
        return MailSecurity::tls;
    default:
        return MailSecurity::unknown;
    }
}

MailProtocol mail_protocol(const char* setting) {
    switch (mail_security(setting)) {
    case MailSecurity::plain:
        return MailProtocol::pop3;
    case MailSecurity::stls:
        return MailProtocol::imap;
    default:
        return MailProtocol::unknown;
    }
}

CredentialKind credential_kind(const char* setting) {
    return text_to_int(setting) == 1 ? CredentialKind::oauth2 : CredentialKind::password;
}

OAuthSource oauth_source(const char* setting) {
    const int source = text_to_int(setting);
    return source >= static_cast<int>(OAuthSource::browser) && source <= static_cast<int>(OAuthSource::token_command)
               ? static_cast<OAuthSource>(source)
               : OAuthSource::unknown;
}

bool switch_watched(const char* setting) {
    return text_to_int(setting) == 1;
}

bool switch_on(const char* setting) {
    return text_to_int(setting) != 0;
}

bool switch_ticked(const char* setting) {
    return first_is_one(setting);
}

bool notify_on(const char* setting) {
    return setting == nullptr || std::strcmp(setting, "0") != 0;
}

int sender_condition(const char* setting) {
    return text_to_int(setting);
}

bool log_switch(const char* setting) {
    return first_is_one(setting);
}

int log_day(const char* setting) {
    return setting == nullptr || *setting == '\0' ? 0 : text_to_int(setting + 1);
}

MailSecurity account_security(int index) {
    return read_field(Key::Security, index, mail_security);
}

MailProtocol account_protocol(int index) {
    return read_field(Key::Protocol, index, mail_protocol);
}

CredentialKind account_auth(int index) {
    return read_field(Key::Auth, index, credential_kind);
}

OAuthSource account_oauth_source(int index) {
    return read_field(Key::OAuthSource, index, oauth_source);
}

bool account_watched(int index) {
    return read_field(Key::Switch, index, switch_watched);
}

bool account_on(int index) {
    return read_field(Key::Switch, index, switch_on);
}

bool account_ticked(int index) {
    return read_field(Key::Switch, index, switch_ticked);
}

bool account_notifies(int index) {
    return read_field(Key::Notify, index, notify_on);
}

bool account_health_blinks(int index) {
    return read_field(Key::HealthBlink, index, notify_on);
}

int account_sender_condition(int index, int n) {
    return read_field(kSearchKeys[std::clamp(n, 0, 2)], index, sender_condition);
}

bool log_switched_on(Key key) {
    return read_field(key, 0, log_switch);
}

int beep_count() {
    return std::max(0, settings_number(Key::BeepTime));
}
