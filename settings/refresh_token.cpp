// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/refresh_token.h"

#include "credentials/scramble_text.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/keys.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/settings_lock.h"

#include <cstdio>
#include <mutex>

namespace {

constexpr char kTokenKey[] = "RefreshToken";
constexpr char kListKey[] = "RefreshScramble";
constexpr std::size_t kPiece = kPasswordMax; // a scrambled piece is 2 * kPiece characters, its list as many digits

bool valid(int index) {
    return index >= 0 && index < kAccountCount;
}

void section_of(int index, char (&section)[64]) {
    std::snprintf(section, sizeof section, kSectionAccountPattern, index);
}

// ini_read_password leaves the plain password in the record; the option program has no use for it there.
void wipe_password_field(int index) {
    std::lock_guard lock(settings_field_mutex());
    FieldRef field = key_field(Key::Password, index);
    wipe_secret(field.data, field.size);
}

// The account's password still in the file goes to the keyring with the token: SecretStore "1" speaks for both.
SecretResult store_password(int index, int wait_ms, std::string* reason) {
    SecretBuffer<sizeof g_settings.user[0].Password> plain;
    settings_get_into(Key::Password, plain.text, sizeof plain.text, index);
    return secret_save(account_secret_key(index), plain.text, SecretUnlock::ask, wait_ms, reason);
}

// The file after a store in the keyring: no password, no token, and SecretStore "1", in one write.
int write_keyring_keys(int index) {
    char section[64];
    section_of(index, section);
    const int rc = ini_put_texts(section, {{key_name(Key::Password), ""},
                                           {key_name(Key::Scramble), ""},
                                           {key_name(Key::SecretStore), "1"},
                                           {kTokenKey, ""},
                                           {kListKey, ""}});
    if (rc == 0) {
        settings_set(Key::Scramble, "", index);
        settings_set(Key::SecretStore, "1", index);
    }
    return rc;
}

// The scrambled token and its position lists as the file has them. -1 when the file cannot be read.
int read_kept_pair(int index, std::string& scrambled, std::string& lists) {
    char section[64];
    section_of(index, section);
    return ini_get_text(section, kTokenKey, scrambled) != 0 || ini_get_text(section, kListKey, lists) != 0 ? -1 : 0;
}

} // namespace

int refresh_token_file_save(int index, std::string_view token) {
    if (!valid(index)) {
        return -1;
    }
    std::string scrambled;
    std::string lists;
    for (std::size_t at = 0; at < token.size(); at += kPiece) {
        const std::string_view piece = token.substr(at, kPiece);
        const std::vector<int> positions = shuffled_positions(piece.size());
        scrambled += scramble_text(piece, positions);
        lists += position_list(positions);
    }
    char section[64];
    section_of(index, section);
    return ini_put_texts(section, {{kTokenKey, scrambled}, {kListKey, lists}});
}

int refresh_token_file_load(int index, std::string& token) {
    wipe_secret(token);
    if (!valid(index)) {
        return -1;
    }
    std::string scrambled;
    std::string lists;
    if (read_kept_pair(index, scrambled, lists) != 0) {
        return -1;
    }
    if (scrambled.size() != lists.size()) {
        return 0; // not written together: nothing usable is kept
    }
    for (std::size_t at = 0; at < scrambled.size(); at += 2 * kPiece) {
        std::optional<std::string> piece = unscramble_text(std::string_view(scrambled).substr(at, 2 * kPiece),
                                                           std::string_view(lists).substr(at, 2 * kPiece));
        if (!piece) {
            wipe_secret(token);
            return 0;
        }
        token += *piece;
        wipe_secret(*piece);
    }
    return 0;
}

int refresh_token_forget_file(int index) {
    if (!valid(index)) {
        return -1;
    }
    std::string scrambled;
    std::string lists;
    if (read_kept_pair(index, scrambled, lists) != 0) {
        return -1;
    }
    // Files that never held a token get no empty keys from this.
    return scrambled.empty() && lists.empty() ? 0 : refresh_token_file_save(index, "");
}

int refresh_token_load(int index, std::string& token, SecretUnlock unlock, int wait_ms, TokenRead* read) {
    TokenRead local;
    TokenRead& r = read != nullptr ? *read : local;
    r = TokenRead{};
    if (refresh_token_file_load(index, token) != 0) {
        return -1;
    }
    if (!token.empty()) {
        r.place = TokenPlace::file;
        return 0;
    }
    if (!password_in_keyring(index)) {
        return 0;
    }
    r.place = TokenPlace::keyring;
    r.keyring = secret_lookup(account_secret_key(index, SecretKind::refresh_token), token, unlock, wait_ms, &r.reason);
    return r.keyring == SecretResult::ok ? 0 : -1;
}

int refresh_token_replace(int index, std::string_view token, TokenPlace place, int wait_ms) {
    switch (place) {
    case TokenPlace::file:
        return refresh_token_file_save(index, token);
    case TokenPlace::keyring:
        return secret_save(account_secret_key(index, SecretKind::refresh_token), token, SecretUnlock::never, wait_ms) ==
                       SecretResult::ok
                   ? 0
                   : -1;
    default:
        return -1;
    }
}

int refresh_token_save(int index, std::string_view token, TokenSave& save) {
    save = TokenSave{};
    if (!valid(index) || ini_read_keys({Key::ServerName, Key::ID, Key::Protocol}, index) != 0 ||
        ini_read_password(index) != 0) {
        return -1;
    }
    const int wait = timing().keyring_prompt_ms;
    const bool move_password = !password_in_keyring(index) && !settings_get(Key::Password, index).empty();
    if (move_password) {
        save.keyring = store_password(index, wait, &save.reason);
    }
    wipe_password_field(index);
    if (save.keyring == SecretResult::ok) {
        save.keyring = secret_save(account_secret_key(index, SecretKind::refresh_token), token, SecretUnlock::ask, wait,
                                   &save.reason);
    }
    save.in_keyring = save.keyring == SecretResult::ok;
    if (save.in_keyring) {
        return write_keyring_keys(index);
    }
    if (move_password && !secret_shared_with_another(index, account_secret_key(index))) {
        secret_remove(account_secret_key(index), wait); // the password stays in the file with the token
    }
    return refresh_token_file_save(index, token);
}
