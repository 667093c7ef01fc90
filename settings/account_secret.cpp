// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/account_secret.h"

#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/password_pair.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstdio>

namespace {

constexpr std::size_t kPasswordField = sizeof(UserAccount{}.Password);

bool same_account(const SecretKey& a, const SecretKey& b) {
    return a.server == b.server && a.user == b.user && a.protocol == b.protocol;
}

bool named(const SecretKey& key) {
    return !key.server.empty() || !key.user.empty();
}

// Whether account index of the file keeps its secrets in the keyring (SecretStore "1") under key's server name, ID
// and protocol. Read from the file, not the record: the record may hold edits of another account not applied yet,
// and the file is what the notifier reads. A file that cannot be read counts as naming it: the item stays.
bool file_names(int index, const SecretKey& key) {
    char section[64];
    std::snprintf(section, sizeof section, kSectionAccountPattern, index);
    std::string server, id, protocol, store;
    if (ini_get_text(section, key_name(Key::ServerName), server) != 0 ||
        ini_get_text(section, key_name(Key::ID), id) != 0 ||
        ini_get_text(section, key_name(Key::Protocol), protocol) != 0 ||
        ini_get_text(section, key_name(Key::SecretStore), store) != 0) {
        return true;
    }
    return store.starts_with('1') && server == key.server && id == key.user &&
           (protocol.starts_with('1') ? "imap" : "pop3") == key.protocol;
}

// Removes what is filed under key, unless another account still uses it.
void remove_unless_shared(int index, const SecretKey& key, int wait_ms) {
    if (!secret_shared_with_another(index, key)) {
        secret_remove(key, wait_ms);
    }
}

// A refresh token is given to one user at one server: when the account names another, or was cleared, the old
// token is of no use to it and goes wherever it was kept.
void forget_refresh_token(int index, const SecretKey& filed_under, int wait_ms) {
    SecretKey old = filed_under;
    old.kind = SecretKind::refresh_token;
    remove_unless_shared(index, old, wait_ms);
    refresh_token_forget_file(index);
}

// The password left the keyring for the file, and SecretStore with it: a refresh token in the keyring follows it
// there, or no reader would look for it (refresh_token.h). What the keyring will not give stays where it is.
void move_refresh_token_to_file(int index, const SecretKey& filed_under, int wait_ms) {
    SecretKey item = filed_under;
    item.kind = SecretKind::refresh_token;
    std::string token;
    if (secret_lookup(item, token, SecretUnlock::ask, wait_ms) == SecretResult::ok &&
        refresh_token_file_save(index, token) == 0) {
        remove_unless_shared(index, item, wait_ms);
    }
    wipe_secret(token);
}

// Removes what is filed under the account as it was, and is no longer used.
void remove_unused(int index, const AccountPassword& state, const SecretKey& now, bool now_in_keyring, bool cleared) {
    if (!named(state.filed_under)) {
        return;
    }
    const int wait = timing().keyring_prompt_ms;
    if (cleared || !same_account(state.filed_under, now)) {
        remove_unless_shared(index, state.filed_under, wait);
        forget_refresh_token(index, state.filed_under, wait);
    } else if (!now_in_keyring) {
        remove_unless_shared(index, state.filed_under, wait);
        if (state.in_keyring) {
            move_refresh_token_to_file(index, state.filed_under, wait);
        }
    }
}

} // namespace

bool secret_shared_with_another(int index, const SecretKey& key) {
    for (int other = 0; other < kAccountCount; ++other) {
        if (other != index && file_names(other, key)) {
            return true;
        }
    }
    return false;
}

bool password_in_keyring(int index) {
    return settings_get(Key::SecretStore, index).starts_with('1');
}

SecretKey account_secret_key(int index, SecretKind kind) {
    return {settings_get(Key::ServerName, index), settings_get(Key::ID, index),
            settings_get(Key::Protocol, index).starts_with('1') ? "imap" : "pop3", kind};
}

int ini_load_password(int index, AccountPassword& state) {
    const int rc = ini_read_password(index);
    state.filed_under = account_secret_key(index);
    state.in_keyring = password_in_keyring(index);
    state.read = SecretResult::ok;
    if (rc != 0 || !state.in_keyring) {
        return rc;
    }
    std::string plain;
    state.read = secret_lookup(state.filed_under, plain, SecretUnlock::ask, timing().keyring_prompt_ms);
    settings_set(Key::Password, plain.c_str(), index);
    wipe_secret(plain);
    return 0;
}

int ini_save_password(int index, AccountPassword& state, PasswordSave& save) {
    save = PasswordSave{};
    const SecretKey now = account_secret_key(index);
    const bool typed = !settings_get(Key::Password, index).empty();
    const bool cleared = !typed && !named(now);
    // A password the keyring would not show is still there: an empty edit is no reason to throw it away.
    if (state.in_keyring && state.read != SecretResult::ok && !typed && !cleared) {
        save.kept = true;
        if (named(state.filed_under) && !same_account(state.filed_under, now)) {
            forget_refresh_token(index, state.filed_under, timing().keyring_prompt_ms);
        }
        return 0;
    }
    if (typed) {
        SecretBuffer<kPasswordField> plain;
        settings_get_into(Key::Password, plain.text, sizeof plain.text, index);
        save.keyring = secret_save(now, plain.text, SecretUnlock::ask, timing().keyring_prompt_ms, &save.reason);
        save.in_keyring = save.keyring == SecretResult::ok;
    }
    int rc;
    if (save.in_keyring) {
        settings_set(Key::Password, "", index);
        settings_set(Key::Scramble, "", index);
        settings_set(Key::SecretStore, "1", index);
        rc = ini_write_keys({Key::Password, Key::Scramble, Key::SecretStore}, index);
    } else {
        // As in files that know no keyring; an empty password keeps its Scramble as it was.
        scramble_password(index, key_field(Key::Password, index).data);
        settings_set(Key::SecretStore, "", index);
        rc = ini_write_keys({Key::Password, Key::Scramble, Key::SecretStore}, index);
    }
    if (rc != 0) {
        return rc; // the file still names what is filed under the account as it was: keep it for the next try
    }
    remove_unused(index, state, now, save.in_keyring, cleared);
    state = {now, save.in_keyring, SecretResult::ok};
    return 0;
}

SecretResult refile_account_secrets(int index, const SecretKey& before) {
    SecretResult result = SecretResult::ok;
    if (!password_in_keyring(index)) {
        return result;
    }
    const int wait = timing().keyring_prompt_ms;
    for (SecretKind kind : {SecretKind::password, SecretKind::refresh_token}) {
        SecretKey from = before;
        from.kind = kind;
        const SecretKey to = account_secret_key(index, kind);
        if (same_account(from, to)) {
            continue;
        }
        std::string secret;
        SecretResult step = secret_lookup(from, secret, SecretUnlock::ask, wait);
        if (step == SecretResult::ok) {
            step = secret_save(to, secret, SecretUnlock::ask, wait);
        }
        wipe_secret(secret);
        if (step == SecretResult::ok) {
            remove_unless_shared(index, from, wait); // a copy, while another account reads the same mailbox
        } else if (step != SecretResult::not_found && result == SecretResult::ok) {
            result = step;
        }
    }
    return result;
}

const char* keyring_refusal_words(SecretResult result) {
    switch (result) {
    case SecretResult::locked: return "密钥环已锁定";
    case SecretResult::timed_out: return "密钥环没有响应";
    case SecretResult::failed: return "密钥环拒绝了保存";
    default: return "没有运行中的密钥环服务（Secret Service）";
    }
}
