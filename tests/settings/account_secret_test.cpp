// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/account_secret.h"

#include "credentials/scramble_text.h"
#include "settings/password_pair.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "tests/support/keyring_session.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr char kPassword[] = "s3cret-Pa55";
constexpr int kWaitMs = 20000;

// What the setup program's Apply puts into the record (and the file) before it saves the account's password.
void type_account(int index, const char* server, const char* id, const char* password, const char* protocol = "") {
    settings_set(Key::Switch, "1", index);
    settings_set(Key::ServerName, server, index);
    settings_set(Key::ID, id, index);
    settings_set(Key::Protocol, protocol, index);
    settings_set(Key::Password, password, index);
    ini_write_keys({Key::Switch, Key::ServerName, Key::ID, Key::Protocol}, index);
}

PasswordSave save_account(int index, AccountPassword& state) {
    PasswordSave save;
    EXPECT_EQ(ini_save_password(index, state, save), 0);
    return save;
}

// The account's password as the next start of the setup program loads it.
std::string loaded_password(int index, AccountPassword& state) {
    settings_clear();
    EXPECT_EQ(ini_read_keys({Key::ServerName, Key::ID, Key::Protocol}, index), 0);
    EXPECT_EQ(ini_load_password(index, state), 0);
    return settings_get(Key::Password, index);
}

// Proof that a keyring user's settings file holds no password: not in clear, and no scrambled pair to decode.
void expect_no_password_in_file(const TempCorvo& dir, int index) {
    EXPECT_EQ(dir.read("corvo_kd5lite.ini").find(kPassword), std::string::npos);
    EXPECT_EQ(stored_key(Key::Password, index), "");
    EXPECT_EQ(stored_key(Key::Scramble, index), "");
    EXPECT_EQ(stored_key(Key::SecretStore, index), "1");
}

// The file's pair as files without a keyring have it: it decodes to the password, and SecretStore (empty, or
// missing in a file of an older setup program) says the file.
void expect_password_in_file(int index, const std::string& password) {
    EXPECT_EQ(unscramble_text(stored_key(Key::Password, index), stored_key(Key::Scramble, index)), password);
    EXPECT_EQ(stored_key(Key::Password, index).size(), 2 * password.size());
    EXPECT_NE(stored_key(Key::SecretStore, index), "1");
}

// Store on save and read back at the next start; the notifier's load, check and save leave it where it is.
TEST(AccountSecret, SaveStoresInTheKeyringAndTheFileKeepsNoPassword) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    AccountPassword state;
    ASSERT_EQ(ini_load_password(1, state), 0);
    type_account(1, "mail.example.com", "alice", kPassword, "1");
    PasswordSave save = save_account(1, state);
    EXPECT_TRUE(save.in_keyring);
    EXPECT_FALSE(save.kept);
    expect_no_password_in_file(dir, 1);

    auto items = session.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].label, "kd5lite: alice@mail.example.com");
    EXPECT_EQ(items[0].attributes.at("server"), "mail.example.com");
    EXPECT_EQ(items[0].attributes.at("user"), "alice");
    EXPECT_EQ(items[0].attributes.at("protocol"), "imap");
    EXPECT_EQ(items[0].attributes.at("kind"), "password");
    EXPECT_EQ(session.secret(items[0].path), kPassword);

    AccountPassword again;
    EXPECT_EQ(loaded_password(1, again), kPassword);
    EXPECT_TRUE(again.in_keyring);
    EXPECT_EQ(again.read, SecretResult::ok);

    // The notifier's initialisation: the empty Password is not missing, and goes back into the file empty.
    settings_clear();
    ini_read_all();
    EXPECT_TRUE(password_in_keyring(1));
    EXPECT_EQ(ini_check_key(Key::Password, 1), 0);
    ini_write_all();
    expect_no_password_in_file(dir, 1);
    EXPECT_EQ(session.items().size(), 1u);
}

// Migration: a password the file holds from before moves to the keyring at the account's next save, and only then.
TEST(AccountSecret, PasswordInTheFileMovesToTheKeyringAtTheNextSave) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    type_account(0, "pop.example.org", "bob", kPassword);
    ASSERT_EQ(ini_write_password(0), 0); // as an older setup program saved it
    expect_password_in_file(0, kPassword);

    // Loading, and the notifier's whole initialisation, move nothing.
    AccountPassword state;
    EXPECT_EQ(loaded_password(0, state), kPassword);
    EXPECT_FALSE(state.in_keyring);
    ini_read_all();
    ini_check_all();
    ini_write_all();
    EXPECT_TRUE(session.items().empty());
    expect_password_in_file(0, kPassword);

    settings_clear();
    type_account(0, "pop.example.org", "bob", kPassword);
    EXPECT_TRUE(save_account(0, state).in_keyring);
    expect_no_password_in_file(dir, 0);
    auto items = session.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].attributes.at("protocol"), "pop3");
    EXPECT_EQ(session.secret(items[0].path), kPassword);
}

// Headless or without a keyring daemon: the file keeps the scrambled password exactly as before, and the save says
// why, so the setup program can tell the user.
TEST(AccountSecret, WithoutASecretServiceTheFileKeepsTheScrambledPassword) {
    for (auto desktop : {KeyringSession::Desktop::no_bus, KeyringSession::Desktop::bus_only}) {
        KeyringSession session(desktop);
        ASSERT_TRUE(session.start()) << session.error();
        TempCorvo dir;
        AccountPassword state;
        ASSERT_EQ(ini_load_password(2, state), 0);
        type_account(2, "mail.example.com", "carol", kPassword);
        PasswordSave save = save_account(2, state);
        EXPECT_FALSE(save.in_keyring);
        EXPECT_EQ(save.keyring, SecretResult::no_service);
        expect_password_in_file(2, kPassword);
        AccountPassword again;
        EXPECT_EQ(loaded_password(2, again), kPassword);
        EXPECT_EQ(again.read, SecretResult::ok);
    }
}

// An account cleared, or one that now names another server, ID or protocol, leaves nothing of its old self in the
// keyring: neither the password nor a refresh token stored for it.
TEST(AccountSecret, ChangedOrClearedAccountsLeaveNoItemBehind) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    struct Change {
        const char* server;
        const char* id;
        const char* protocol;
    } changes[] = {
        {"mail.example.com", "alice", ""},   // first save
        {"mail2.example.com", "alice", ""},  // another server
        {"mail2.example.com", "alice2", ""}, // another ID
        {"mail2.example.com", "alice2", "1"}, // another protocol
    };
    AccountPassword state;
    ASSERT_EQ(ini_load_password(0, state), 0);
    for (const Change& c : changes) {
        type_account(0, c.server, c.id, kPassword, c.protocol);
        ASSERT_TRUE(save_account(0, state).in_keyring) << c.server << c.id << c.protocol;
        // The new account's password and nothing of the account before, its refresh token included.
        auto items = session.items();
        EXPECT_EQ(items.size(), 1u);
        for (const auto& item : items) {
            EXPECT_EQ(item.attributes.at("server"), c.server);
            EXPECT_EQ(item.attributes.at("user"), c.id);
            EXPECT_EQ(item.attributes.at("protocol"), *c.protocol == '1' ? "imap" : "pop3");
        }
        // A refresh token stored for the account as it is now, as the OAuth2 sign-in does.
        ASSERT_EQ(secret_save(account_secret_key(0, SecretKind::refresh_token), "token", SecretUnlock::never,
                              kWaitMs),
                  SecretResult::ok);
    }
    EXPECT_EQ(session.items().size(), 2u);

    type_account(0, "", "", "");
    PasswordSave save = save_account(0, state);
    EXPECT_FALSE(save.in_keyring);
    EXPECT_TRUE(session.items().empty());
    EXPECT_EQ(stored_key(Key::Password, 0), "");
    EXPECT_EQ(stored_key(Key::SecretStore, 0), "");
}

// A keyring locked when the setup program starts: the password edit stays empty, and an Apply that did not type a
// new one keeps the stored password instead of throwing it away. Nothing waits for a prompt.
TEST(AccountSecret, LockedKeyringAtLoadKeepsThePasswordUntilANewOneIsTyped) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    AccountPassword state;
    ASSERT_EQ(ini_load_password(1, state), 0);
    type_account(1, "mail.example.com", "alice", kPassword);
    ASSERT_TRUE(save_account(1, state).in_keyring);
    ASSERT_TRUE(session.lock());

    AccountPassword locked;
    EXPECT_EQ(loaded_password(1, locked), "");
    EXPECT_EQ(locked.read, SecretResult::locked);
    type_account(1, "mail.example.com", "alice", "");
    PasswordSave save = save_account(1, locked);
    EXPECT_TRUE(save.kept);
    expect_no_password_in_file(dir, 1);
    EXPECT_EQ(session.items().size(), 1u);

    // A new password typed while the keyring stays locked goes to the file, scrambled.
    type_account(1, "mail.example.com", "alice", "new-one");
    save = save_account(1, locked);
    EXPECT_FALSE(save.in_keyring);
    EXPECT_EQ(save.keyring, SecretResult::locked);
    expect_password_in_file(1, "new-one");
}

// A refile is all or none, and the names follow the items: the file names the new protocol only once the password
// and the refresh token are filed under it, and the items under the names the file does not hold go. Catches a
// refile that moved the password and then failed on the token, or wrote the names while the keyring refused.
TEST(AccountSecret, RefileWritesTheNewNamesOnlyOnceTheItemsFollowed) {
    struct Row {
        const char* what;
        bool lock;   // the keyring locked before the refile
        int written; // what writing the names answers
        SecretResult result;
        bool called;       // whether the names were written
        const char* filed; // the protocol both items are filed under afterwards
    };
    const Row rows[] = {
        {"refiled", false, 0, SecretResult::ok, true, "imap"},
        {"the file was not written", false, -1, SecretResult::ok, true, "pop3"},
        {"the keyring is locked", true, 0, SecretResult::locked, false, "pop3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KeyringSession session;
        ASSERT_TRUE(session.start()) << session.error();
        TempCorvo dir;
        type_account(0, "mail.example.com", "alice", "", "0");
        settings_put(Key::SecretStore, "1", 0);
        const SecretKey before = account_secret_key(0);
        ASSERT_EQ(secret_save(before, kPassword, SecretUnlock::never, kWaitMs), SecretResult::ok);
        ASSERT_EQ(secret_save(account_secret_key(0, SecretKind::refresh_token), "token", SecretUnlock::never, kWaitMs),
                  SecretResult::ok);
        if (row.lock) {
            ASSERT_TRUE(session.lock());
        }
        settings_set(Key::Protocol, "1", 0);
        bool called = false;
        EXPECT_EQ(refile_account_secrets(0, before,
                                         [&] {
                                             called = true;
                                             return row.written;
                                         }),
                  row.result);
        EXPECT_EQ(called, row.called);
        const auto items = session.items();
        EXPECT_EQ(items.size(), 2u);
        for (const auto& item : items) {
            EXPECT_EQ(item.attributes.at("protocol"), row.filed) << item.label;
        }
    }
}

// Two accounts that read one mailbox (red = INBOX, green = Work on one IMAP login) share its keyring items. What
// the setup program or the option program does to the second must leave the first its password and refresh token:
// each row changes account 1 and then reads account 0 as the notifier does. Catches an item deleted or moved
// away under the other account, which then failed at every pass.
TEST(AccountSecret, TwoAccountsOnOneMailboxKeepEachOthersSecrets) {
    constexpr char kToken[] = "1//0e-shared-refresh-token";
    struct Row {
        const char* change;
        std::function<void(AccountPassword (&)[2])> apply;
        std::string password_1; // account 1's password afterwards, as its next load reads it
        std::string token_1;    // and its refresh token
    };
    auto save_both = [](AccountPassword (&states)[2]) {
        save_account(0, states[0]);
        save_account(1, states[1]);
    };
    const Row rows[] = {
        {"change server",
         [&](AccountPassword (&states)[2]) {
             type_account(0, "imap.example.com", "alice", kPassword, "1");
             type_account(1, "imap2.example.com", "alice", kPassword, "1");
             save_both(states);
         },
         kPassword, ""},
        {"clear",
         [&](AccountPassword (&states)[2]) {
             type_account(0, "imap.example.com", "alice", kPassword, "1");
             type_account(1, "", "", "", "");
             save_both(states);
         },
         "", ""},
        {"password to the file",
         [&](AccountPassword (&states)[2]) {
             type_account(0, "imap.example.com", "alice", kPassword, "1");
             type_account(1, "imap.example.com", "alice", "", "1"); // its password edit emptied
             save_both(states);
         },
         "", kToken},
        {"protocol changed on the 连接 tab",
         [](AccountPassword (&)[2]) {
             const SecretKey before = account_secret_key(1);
             settings_set(Key::Protocol, "0", 1);
             EXPECT_EQ(refile_account_secrets(1, before, [] { return ini_write_key(Key::Protocol, 1); }),
                       SecretResult::ok);
         },
         kPassword, kToken},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        KeyringSession session;
        ASSERT_TRUE(session.start()) << session.error();
        TempCorvo dir;
        AccountPassword states[2];
        for (int index : {0, 1}) {
            ASSERT_EQ(ini_load_password(index, states[index]), 0);
            type_account(index, "imap.example.com", "alice", kPassword, "1");
            ASSERT_TRUE(save_account(index, states[index]).in_keyring);
        }
        TokenSave token;
        ASSERT_EQ(refresh_token_save(0, kToken, token), 0);
        ASSERT_TRUE(token.in_keyring);
        ASSERT_EQ(session.items().size(), 2u); // one password and one token for the mailbox

        // The setup program's next start, then the change.
        for (int index : {0, 1}) {
            loaded_password(index, states[index]);
        }
        row.apply(states);

        for (int index : {0, 1}) {
            SCOPED_TRACE(index);
            AccountPassword again;
            EXPECT_EQ(loaded_password(index, again), index == 0 ? kPassword : row.password_1);
            ASSERT_EQ(ini_read_keys({Key::SecretStore}, index), 0);
            std::string kept;
            TokenRead read;
            const int rc = refresh_token_load(index, kept, SecretUnlock::never, kWaitMs, &read);
            EXPECT_EQ(kept, index == 0 ? kToken : row.token_1);
            // None kept, or none in the keyring under what the account names now: not signed in.
            EXPECT_TRUE(rc == 0 || (kept.empty() && read.keyring == SecretResult::not_found)) << rc;
        }
    }
}

} // namespace
