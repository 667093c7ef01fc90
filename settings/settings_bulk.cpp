// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_bulk.h"

#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

namespace {

constexpr Key kHead[] = {Key::Company,      Key::Brand,       Key::Product,  Key::Type,
                         Key::SerialNumber, Key::CurrentPath, Key::Language, Key::Version,
                         Key::EntryCount,   Key::IntervalTimer, Key::BeepTime};

// Account keys after the password, in file order. The connection security keys, the protocol keys, where the
// password lives and then the sign-in keys come last, so older files and readers see the keys they know in the order
// they know.
constexpr Key kAccountTail[] = {Key::SoundFile,      Key::SpecialAddress1, Key::SpecialAddress2,
                                Key::SpecialAddress3, Key::SpecialSearch1,  Key::SpecialSearch2,
                                Key::SpecialSearch3,  Key::Security,        Key::TlsFingerprint,
                                Key::Protocol,        Key::Folder,          Key::SecretStore,
                                Key::Auth,            Key::OAuthSource,     Key::OAuthProvider,
                                Key::AuthUrl,         Key::TokenUrl,        Key::Scope,
                                Key::ClientId,        Key::OnlineAccount,   Key::TokenCommand,
                                Key::Notify};

constexpr Key kTail[] = {Key::StateLog, Key::ErrorLog, Key::Request, Key::State,
                         Key::Answer,   Key::Error,    Key::Job};

constexpr Key kAccountHead[] = {Key::Switch, Key::ServerName, Key::ID};

// Calls on_key for every key in file order, and on_password at each account's Password, which the load and the
// save move together with its Scramble.
template <typename OnKey, typename OnPassword>
void visit_keys(OnKey on_key, OnPassword on_password) {
    for (Key k : kHead) {
        on_key(k, 0);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        for (Key k : kAccountHead) {
            on_key(k, i);
        }
        on_password(i);
        for (Key k : kAccountTail) {
            on_key(k, i);
        }
    }
    for (Key k : kTail) {
        on_key(k, 0);
    }
}

} // namespace

void ini_read_all() {
    // SecretStore comes with the password pair, from the same read of the file.
    visit_keys(
        [](Key k, int i) {
            if (k != Key::SecretStore) {
                ini_read_key(k, i);
            }
        },
        ini_read_password);
}

void ini_check_all() {
    visit_keys([](Key k, int i) { ini_check_key(k, i); }, [](int i) { ini_check_key(Key::Password, i); });
}

void ini_write_all() {
    visit_keys([](Key k, int i) { ini_write_key(k, i); }, ini_write_password);
}
