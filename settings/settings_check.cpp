// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/local_time.h"
#include "settings/program_dir.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/settings_lock.h"
#include "settings/text.h"

#include <cstdio>
#include <cstring>

namespace {

enum class Rule {
    DefaultWhenEmpty, // fill the default when empty; -1 when filled
    AlwaysSet,        // overwrite with the fixed value; always 0
    ReportWhenEmpty,  // nothing to fill; -1 when empty
    ReportWhenOn,     // account keys: -1 when empty while the account is on
    None,
};

Rule rule_of(Key key) {
    switch (key) {
    case Key::Type:
    case Key::Version: return Rule::AlwaysSet;
    case Key::SerialNumber: return Rule::ReportWhenEmpty;
    case Key::ServerName:
    case Key::ID:
    case Key::Password:
    case Key::SoundFile:
    case Key::SpecialAddress1:
    case Key::SpecialAddress2:
    case Key::SpecialAddress3:
    case Key::SpecialSearch1:
    case Key::SpecialSearch2:
    case Key::SpecialSearch3: return Rule::ReportWhenOn;
    // Empty Security means plain POP3, an empty fingerprint trusts no extra certificate, an empty Protocol means
    // POP3, an empty Folder the INBOX and an empty SecretStore a password in the file: none of them is missing.
    case Key::Scramble:
    case Key::Security:
    case Key::TlsFingerprint:
    case Key::Protocol:
    case Key::Folder:
    case Key::SecretStore:
    // Empty sign-in keys mean a password account, or the provider's own endpoints and the build's client id.
    case Key::Auth:
    case Key::OAuthSource:
    case Key::OAuthProvider:
    case Key::AuthUrl:
    case Key::TokenUrl:
    case Key::Scope:
    case Key::ClientId:
    case Key::OnlineAccount:
    case Key::TokenCommand: return Rule::None;
    default: return Rule::DefaultWhenEmpty;
    }
}

// Keys whose check leaves trace lines; the sound file and sender keys leave none.
bool traced(Key key) {
    switch (key) {
    case Key::SoundFile:
    case Key::SpecialAddress1:
    case Key::SpecialAddress2:
    case Key::SpecialAddress3:
    case Key::SpecialSearch1:
    case Key::SpecialSearch2:
    case Key::SpecialSearch3: return false;
    default: return true;
    }
}

void default_value(Key key, char* out, std::size_t size) {
    switch (key) {
    case Key::Company: std::snprintf(out, size, "%s", kCompany); break;
    case Key::Brand: std::snprintf(out, size, "%s", kBrand); break;
    case Key::Product: std::snprintf(out, size, "%s", kProduct); break;
    case Key::Type: std::snprintf(out, size, "%s", kType); break;
    case Key::Version: std::snprintf(out, size, "%s", kVersion); break;
    case Key::Language: std::snprintf(out, size, "%s", kLanguage); break;
    case Key::CurrentPath: get_program_dir(out, size); break;
    case Key::IntervalTimer: std::snprintf(out, size, "10"); break;
    case Key::BeepTime: std::snprintf(out, size, "1"); break;
    case Key::Notify: std::snprintf(out, size, "1"); break;
    case Key::StateLog:
    case Key::ErrorLog: {
        LocalTime t{};
        get_local_time(t);
        std::snprintf(out, size, "0%02d", t.day);
        break;
    }
    default: std::snprintf(out, size, "0"); break;
    }
}

// "corvo.Name", "command.Name" or "corvo.user[i].Name", as the check's trace lines name a key.
void trace_name(Key key, int index, char* out, std::size_t size) {
    switch (key_group(key)) {
    case KeyGroup::Command: std::snprintf(out, size, "command.%s", key_name(key)); break;
    case KeyGroup::Account: std::snprintf(out, size, "corvo.user[%d].%s", index, key_name(key)); break;
    default: std::snprintf(out, size, "corvo.%s", key_name(key)); break;
    }
}

void check_trace(Key key, int index, bool filled, const char* value) {
    if (!traced(key)) {
        return;
    }
    char name[64];
    trace_name(key, index, name, sizeof name);
    char line[kIniReadSize + 96];
    if (filled) {
        // The Type line has two blanks before "default".
        std::snprintf(line, sizeof line, key == Key::Type ? "check %s( %s )  default set" : "check %s( %s ) default set",
                      name, value);
    } else {
        std::snprintf(line, sizeof line, "check %s", name);
    }
    write_trace(LogKind::reg, 0, line);
    std::snprintf(line, sizeof line, "check registry no %s", name);
    write_trace(LogKind::dbg, 0, line);
}

} // namespace

int ini_check_key(Key key, int index) {
    Rule rule = rule_of(key);
    // A password in the keyring leaves the file's Password empty on purpose: it is not missing.
    if (rule == Rule::None || (key == Key::Password && password_in_keyring(index))) {
        return 0;
    }
    bool on = account_on(index);
    if (key == Key::Password && account_auth(index) == CredentialKind::oauth2) {
        on = false; // an OAuth2 account signs in with a token: no password is missing
    }
    char value[kIniReadSize];
    bool empty;
    {
        std::lock_guard lock(settings_field_mutex());
        FieldRef f = key_field(key, index);
        empty = f.data[0] == '\0';
        std::memcpy(value, f.data, f.size);
    }
    switch (rule) {
    case Rule::AlwaysSet:
    case Rule::DefaultWhenEmpty: {
        if (rule == Rule::DefaultWhenEmpty && !empty) {
            return 0;
        }
        default_value(key, value, sizeof value);
        settings_set(key, value, index);
        check_trace(key, index, true, settings_get(key, index).c_str());
        return rule == Rule::AlwaysSet ? 0 : -1;
    }
    case Rule::ReportWhenEmpty:
    case Rule::ReportWhenOn:
        if (!empty || (rule == Rule::ReportWhenOn && !on)) {
            return 0;
        }
        check_trace(key, index, false, value);
        return -1;
    default: return 0;
    }
}
