// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/keys.h"

#include "platform/corvo_dir.h"
#include "settings/settings.h"

#include <cstdio>
#include <string>

namespace {

struct KeyInfo {
    const char* name;
    KeyGroup group;
};

constexpr KeyInfo kKeys[] = {
    {"Request", KeyGroup::Command},
    {"State", KeyGroup::Command},
    {"Answer", KeyGroup::Command},
    {"Error", KeyGroup::Command},
    {"Job", KeyGroup::Command},
    {"Company", KeyGroup::Identity},
    {"Brand", KeyGroup::Identity},
    {"Product", KeyGroup::Identity},
    {"Type", KeyGroup::Identity},
    {"SerialNumber", KeyGroup::System},
    {"CurrentPath", KeyGroup::System},
    {"Language", KeyGroup::System},
    {"Version", KeyGroup::System},
    {"EntryCount", KeyGroup::System},
    {"IntervalTimer", KeyGroup::System},
    {"BeepTime", KeyGroup::System},
    {"StateLog", KeyGroup::System},
    {"ErrorLog", KeyGroup::System},
    {"Switch", KeyGroup::Account},
    {"ServerName", KeyGroup::Account},
    {"ID", KeyGroup::Account},
    {"Password", KeyGroup::Account},
    {"Scramble", KeyGroup::Account},
    {"SoundFile", KeyGroup::Account},
    {"SpecialAddress1", KeyGroup::Account},
    {"SpecialAddress2", KeyGroup::Account},
    {"SpecialAddress3", KeyGroup::Account},
    {"SpecialSearch1", KeyGroup::Account},
    {"SpecialSearch2", KeyGroup::Account},
    {"SpecialSearch3", KeyGroup::Account},
    {"Security", KeyGroup::Account},
    {"TlsFingerprint", KeyGroup::Account},
    {"Protocol", KeyGroup::Account},
    {"Folder", KeyGroup::Account},
    {"SecretStore", KeyGroup::Account},
    {"Auth", KeyGroup::Account},
    {"OAuthSource", KeyGroup::Account},
    {"OAuthProvider", KeyGroup::Account},
    {"AuthUrl", KeyGroup::Account},
    {"TokenUrl", KeyGroup::Account},
    {"Scope", KeyGroup::Account},
    {"ClientId", KeyGroup::Account},
    {"OnlineAccount", KeyGroup::Account},
    {"TokenCommand", KeyGroup::Account},
    {"Notify", KeyGroup::Account},
};

template <std::size_t N> FieldRef ref(char (&field)[N]) { return {field, N}; }

FieldRef account_field(Key key, UserAccount& u) {
    switch (key) {
    case Key::Switch: return ref(u.Switch);
    case Key::ServerName: return ref(u.ServerName);
    case Key::ID: return ref(u.ID);
    case Key::Password: return ref(u.Password);
    case Key::Scramble: return ref(u.Scramble);
    case Key::SoundFile: return ref(u.SoundFile);
    case Key::SpecialAddress1: return ref(u.SpecialAddress1);
    case Key::SpecialAddress2: return ref(u.SpecialAddress2);
    case Key::SpecialAddress3: return ref(u.SpecialAddress3);
    case Key::SpecialSearch1: return ref(u.SpecialSearch1);
    case Key::SpecialSearch2: return ref(u.SpecialSearch2);
    case Key::SpecialSearch3: return ref(u.SpecialSearch3);
    case Key::Security: return ref(u.Security);
    case Key::TlsFingerprint: return ref(u.TlsFingerprint);
    case Key::Protocol: return ref(u.Protocol);
    case Key::Folder: return ref(u.Folder);
    case Key::SecretStore: return ref(u.SecretStore);
    case Key::Auth: return ref(u.Auth);
    case Key::OAuthSource: return ref(u.OAuthSource);
    case Key::OAuthProvider: return ref(u.OAuthProvider);
    case Key::AuthUrl: return ref(u.AuthUrl);
    case Key::TokenUrl: return ref(u.TokenUrl);
    case Key::Scope: return ref(u.Scope);
    case Key::ClientId: return ref(u.ClientId);
    case Key::OnlineAccount: return ref(u.OnlineAccount);
    case Key::TokenCommand: return ref(u.TokenCommand);
    default: return ref(u.Notify);
    }
}

} // namespace

const char* key_name(Key key) { return kKeys[static_cast<int>(key)].name; }

KeyGroup key_group(Key key) { return kKeys[static_cast<int>(key)].group; }

FieldRef key_field(Key key, int index) {
    Settings& s = g_settings;
    switch (key) {
    case Key::Request: return ref(s.Request);
    case Key::State: return ref(s.State);
    case Key::Answer: return ref(s.Answer);
    case Key::Error: return ref(s.Error);
    case Key::Job: return ref(s.Job);
    case Key::Company: return ref(s.Company);
    case Key::Brand: return ref(s.Brand);
    case Key::Product: return ref(s.Product);
    case Key::Type: return ref(s.Type);
    case Key::SerialNumber: return ref(s.SerialNumber);
    case Key::CurrentPath: return ref(s.CurrentPath);
    case Key::Language: return ref(s.Language);
    case Key::Version: return ref(s.Version);
    case Key::EntryCount: return ref(s.EntryCount);
    case Key::IntervalTimer: return ref(s.IntervalTimer);
    case Key::BeepTime: return ref(s.BeepTime);
    case Key::StateLog: return ref(s.StateLog);
    case Key::ErrorLog: return ref(s.ErrorLog);
    default: break;
    }
    if (index < 0 || index >= kAccountCount) {
        index = 0;
    }
    return account_field(key, s.user[index]);
}

void key_section(Key key, int index, char* out, std::size_t size) {
    switch (key_group(key)) {
    case KeyGroup::Identity: std::snprintf(out, size, "%s", kSectionIdentity); break;
    case KeyGroup::System:
    case KeyGroup::Command: std::snprintf(out, size, "%s", kSectionSystem); break;
    case KeyGroup::Account: std::snprintf(out, size, kSectionAccountPattern, index); break;
    }
}

const char* settings_file_path() {
    // Built anew at each call: tests move the directory between cases.
    thread_local std::string path;
    path = corvo_path(kSettingsFileName);
    return path.c_str();
}
