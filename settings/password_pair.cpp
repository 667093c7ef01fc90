// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/password_pair.h"

#include "credentials/scramble_text.h"
#include "platform/secret.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstring>

namespace {
constexpr std::size_t kPasswordField = sizeof(UserAccount{}.Password);
} // namespace

void scramble_password(int index, char* password) {
    SecretBuffer<kPasswordMax + 1> plain;
    fit_text(plain.text, sizeof plain.text, password);
    std::size_t n = std::strlen(plain.text);
    if (n > 0) {
        std::vector<int> positions = shuffled_positions(n);
        settings_set(Key::Scramble, position_list(positions).c_str(), index);
        fit_text(password, kPasswordField, scramble_text(plain.text, positions).c_str());
    } else {
        password[0] = '\0';
    }
}

void unscramble_password(int index, char* password) {
    std::string list = settings_get(Key::Scramble, index);
    // Straight into the field: the plain password is kept nowhere else.
    SecretBuffer<kPasswordField> plain;
    unscramble_into(password, list, plain.text, sizeof plain.text);
    fit_text(password, kPasswordField, plain.text);
}

int ini_read_password(int index) {
    if (ini_read_keys({Key::Password, Key::Scramble, Key::SecretStore}, index) != 0) {
        return -1;
    }
    unscramble_password(index, g_settings.user[index].Password);
    return 0;
}

int ini_write_password(int index) {
    scramble_password(index, g_settings.user[index].Password);
    return ini_write_keys({Key::Password, Key::Scramble}, index);
}
