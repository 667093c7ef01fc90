// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_bulk.h"

#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

namespace {

// Calls on_key for every key in file order, the account keys once for each account, and on_password at each
// account's Password, which the load and the save move together with its Scramble.
template <typename OnKey, typename OnPassword>
void visit_keys(OnKey on_key, OnPassword on_password) {
    bool accounts_visited = false;
    for (int k = 0; k < kKeyCount; ++k) {
        const Key key = static_cast<Key>(k);
        if (key_group(key) != KeyGroup::Account) {
            on_key(key, 0);
        } else if (!accounts_visited) {
            accounts_visited = true;
            for (int i = 0; i < kAccountCount; ++i) {
                for (int a = k; a < kKeyCount && key_group(static_cast<Key>(a)) == KeyGroup::Account; ++a) {
                    const Key account_key = static_cast<Key>(a);
                    if (account_key == Key::Password) {
                        on_password(i);
                    } else if (account_key != Key::Scramble) {
                        on_key(account_key, i);
                    }
                }
            }
        }
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

void ini_read_settings() {
    visit_keys(
        [](Key k, int i) {
            if (k != Key::SecretStore && key_group(k) != KeyGroup::Command) {
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
