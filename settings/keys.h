// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kd5_version.h"

#include <cstddef>

// Every key of the settings file. Account keys take an account index 0 to 2 wherever a key is used.
enum class Key {
    Request,
    State,
    Answer,
    Error,
    Job,
    Company,
    Brand,
    Product,
    Type,
    SerialNumber,
    CurrentPath,
    Language,
    Version,
    EntryCount,
    IntervalTimer,
    BeepTime,
    StateLog,
    ErrorLog,
    Switch,
    ServerName,
    ID,
    Password,
    Scramble,
    SoundFile,
    SpecialAddress1,
    SpecialAddress2,
    SpecialAddress3,
    SpecialSearch1,
    SpecialSearch2,
    SpecialSearch3,
    Security,
    TlsFingerprint,
    Protocol,
    Folder,
    SecretStore,
    Auth,
    OAuthSource,
    OAuthProvider,
    AuthUrl,
    TokenUrl,
    Scope,
    ClientId,
    OnlineAccount,
    TokenCommand,
    Notify,
};

enum class KeyGroup {
    Identity, // section "corvo"
    System,   // section "corvo\KD-5lite"
    Command,  // section "corvo\KD-5lite", the command mailbox
    Account,  // sections "corvo\KD-5lite\user00" to "user02"
};

inline constexpr char kSectionIdentity[] = "corvo";
inline constexpr char kSectionSystem[] = "corvo\\KD-5lite";
inline constexpr char kSectionAccountPattern[] = "corvo\\KD-5lite\\user%02d";
inline constexpr char kSettingsFileName[] = "corvo_kd5lite.ini";

const char* key_name(Key key);
KeyGroup key_group(Key key);

// The field of key in g_settings (account keys: of account index, which must be 0 to 2) and its size in bytes.
struct FieldRef {
    char* data;
    std::size_t size;
};
FieldRef key_field(Key key, int index = 0);

// The section that holds key, written into out (at least 32 bytes).
void key_section(Key key, int index, char* out, std::size_t size);

// Path of the settings file.
const char* settings_file_path();

// Values the notifier always writes.
inline constexpr char kCompany[] = "KESTREL CO.,LTD.";
inline constexpr char kBrand[] = "corvo";
inline constexpr char kProduct[] = "KD-5";
inline constexpr char kType[] = "lite2";
inline constexpr char kVersion[] = "Ver " KD5_VERSION;
inline constexpr char kLanguage[] = "Japanese";
