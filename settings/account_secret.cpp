// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/account_secret.h"

#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/password_pair.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

void remove_items(int index, const SecretKey& key, const std::vector<SecretKind>& kinds, int wait_ms) {
    for (SecretKind kind : kinds) {
        SecretKey item = key;
        item.kind = kind;
        remove_unless_shared(index, item, wait_ms);
    }
}

// Copies the items of these kinds filed under from to the account to names, all or none: when one cannot be read
// or stored, the copies made so far are removed again and the keyring's answer is returned. copied gets the kinds
// that were there and are copied; an item that is not there needs no copy.
SecretResult copy_items(int index, const SecretKey& from, const SecretKey& to, std::initializer_list<SecretKind> kinds,
                        std::vector<SecretKind>& copied, int wait_ms) {
    copied.clear();
    for (SecretKind kind : kinds) {
        SecretKey source = from;
        source.kind = kind;
        SecretKey target = to;
        target.kind = kind;
        std::string secret;
        SecretResult step = secret_lookup(source, secret, SecretUnlock::ask, wait_ms);
        if (step == SecretResult::ok) {
            step = secret_save(target, secret, SecretUnlock::ask, wait_ms);
        }
        wipe_secret(secret);
        if (step == SecretResult::ok) {
            copied.push_back(kind);
        } else if (step != SecretResult::not_found) {
            remove_items(index, to, copied, wait_ms);
            copied.clear();
            return step;
        }
    }
    return SecretResult::ok;
}

int write_listed(const std::vector<Key>& keys, int index) {
    return keys.empty() ? 0 : ini_write_keys(keys, index);
}

// The password in the keyring that the caller does not have stays there. A new server name or ID is written only
// once the password has been copied to the account they name; until then the file keeps naming the one it is
// filed under, or the account would fail at every pass.
int keep_unread_password(int index, AccountPassword& state, const SecretKey& now, std::vector<Key> keys,
                         PasswordSave& save) {
    save.kept = true;
    if (!named(state.filed_under) || same_account(state.filed_under, now)) {
        return write_listed(keys, index);
    }
    const int wait = timing().keyring_prompt_ms;
    std::vector<SecretKind> copied;
    save.keyring = copy_items(index, state.filed_under, now, {SecretKind::password}, copied, wait);
    if (save.keyring != SecretResult::ok) {
        save.name_kept = true;
        settings_set(Key::ServerName, state.filed_under.server.c_str(), index);
        settings_set(Key::ID, state.filed_under.user.c_str(), index);
        std::erase_if(keys, [](Key key) { return key == Key::ServerName || key == Key::ID; });
        return write_listed(keys, index);
    }
    if (write_listed(keys, index) != 0) {
        remove_items(index, now, copied, wait);
        return -1;
    }
    remove_items(index, state.filed_under, copied, wait);
    forget_refresh_token(index, state.filed_under, wait);
    state.filed_under = now;
    return 0;
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

int ini_save_password(int index, AccountPassword& state, PasswordSave& save, const std::vector<Key>& with) {
    save = PasswordSave{};
    const SecretKey now = account_secret_key(index);
    const bool typed = !settings_get(Key::Password, index).empty();
    const bool cleared = !typed && !named(now);
    // A password the keyring would not show is still there: an empty edit is no reason to throw it away.
    if (state.in_keyring && state.read != SecretResult::ok && !typed && !cleared) {
        return keep_unread_password(index, state, now, with, save);
    }
    if (typed) {
        SecretBuffer<kPasswordField> plain;
        settings_get_into(Key::Password, plain.text, sizeof plain.text, index);
        save.keyring = secret_save(now, plain.text, SecretUnlock::ask, timing().keyring_prompt_ms, &save.reason);
        save.in_keyring = save.keyring == SecretResult::ok;
    }
    if (save.in_keyring) {
        settings_set(Key::Password, "", index);
        settings_set(Key::Scramble, "", index);
        settings_set(Key::SecretStore, "1", index);
    } else {
        // As in files that know no keyring; an empty password keeps its Scramble as it was.
        scramble_password(index, key_field(Key::Password, index).data);
        settings_set(Key::SecretStore, "", index);
    }
    std::vector<Key> keys = with;
    keys.insert(keys.end(), {Key::Password, Key::Scramble, Key::SecretStore});
    if (ini_write_keys(keys, index) != 0) {
        return -1; // the file still names what is filed under the account as it was: keep it for the next try
    }
    remove_unused(index, state, now, save.in_keyring, cleared);
    state = {now, save.in_keyring, SecretResult::ok};
    return 0;
}

SecretResult refile_account_secrets(int index, const SecretKey& before, const std::function<int()>& write_keys) {
    const SecretKey now = account_secret_key(index);
    if (!password_in_keyring(index) || same_account(before, now)) {
        write_keys();
        return SecretResult::ok;
    }
    const int wait = timing().keyring_prompt_ms;
    std::vector<SecretKind> copied;
    const SecretResult result =
        copy_items(index, before, now, {SecretKind::password, SecretKind::refresh_token}, copied, wait);
    if (result == SecretResult::ok) {
        // Copies, while another account reads the same mailbox; the old names' once the file names the new ones.
        remove_items(index, write_keys() == 0 ? before : now, copied, wait);
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
