// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/refresh_token.h"

#include "credentials/scramble_text.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/keyring_session.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 20000;
constexpr char kToken[] = "1//0e-refresh-token-that-opens-the-mailbox-for-months";

// The account as the setup program left it in the file, and the record empty again, as the option program finds
// it at a sign-in.
void file_account(int index, const char* server, const char* id, const char* protocol) {
    settings_put(Key::ServerName, server, index);
    settings_put(Key::ID, id, index);
    settings_put(Key::Protocol, protocol, index);
    settings_put(Key::Auth, "1", index);
    settings_clear();
}

// The record as the notifier's pass has it: loaded from the file.
void notifier_reads(int index) {
    settings_clear();
    ASSERT_EQ(ini_read_keys({Key::ServerName, Key::ID, Key::Protocol, Key::SecretStore}, index), 0);
}

std::string notifier_token(int index, TokenRead& read) {
    notifier_reads(index);
    std::string token;
    refresh_token_load(index, token, SecretUnlock::never, kWaitMs, &read);
    return token;
}

std::vector<KeyringSession::Item> items_of(const KeyringSession& session, const std::string& user) {
    std::vector<KeyringSession::Item> found;
    for (const auto& item : session.items()) {
        if (item.attributes.at("user") == user) {
            found.push_back(item);
        }
    }
    return found;
}

// The file holds neither the token nor a password: not in clear, and no scrambled pair to decode.
void expect_file_clean(const TempCorvo& dir, int index, const std::string& token) {
    EXPECT_EQ(dir.read("corvo_kd5lite.ini").find(token), std::string::npos);
    EXPECT_EQ(stored_key(Key::Password, index), "");
    EXPECT_EQ(stored_key(Key::Scramble, index), "");
    EXPECT_EQ(stored_key(Key::SecretStore, index), "1");
    std::string kept = "stale";
    ASSERT_EQ(refresh_token_file_load(index, kept), 0);
    EXPECT_EQ(kept, "");
}

// A sign-in with a keyring, from each state an account may be in: a new one; one whose password is still in the
// file (it moves with the token, for SecretStore "1" speaks for both); and a keyring user whose token an earlier
// sign-in left in the file (still read from there until this sign-in moves it). Catches a token left in the file,
// a password stranded in the file behind SecretStore "1", and an item filed under other names than the
// notifier's.
TEST(RefreshToken, SignInStoresInTheKeyringAndMovesWhatTheFileStillHolds) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    file_account(0, "imap.example.com", "new@example.com", "1");
    file_account(1, "pop.example.com", "pat", "0");
    settings_set(Key::Password, "old-pass", 1);
    ASSERT_EQ(ini_write_password(1), 0);
    file_account(2, "imap.example.org", "kim", "1");
    ASSERT_EQ(secret_save({"imap.example.org", "kim", "imap", SecretKind::password}, "kims-pass", SecretUnlock::never,
                          kWaitMs),
              SecretResult::ok);
    settings_put(Key::SecretStore, "1", 2);
    ASSERT_EQ(refresh_token_file_save(2, "token-from-before"), 0);
    TokenRead read;
    EXPECT_EQ(notifier_token(2, read), "token-from-before");
    EXPECT_EQ(read.place, TokenPlace::file);

    for (int index = 0; index < kAccountCount; ++index) {
        SCOPED_TRACE(index);
        settings_clear();
        const std::string token = kToken + std::to_string(index);
        TokenSave save;
        ASSERT_EQ(refresh_token_save(index, token, save), 0);
        EXPECT_TRUE(save.in_keyring);
        expect_file_clean(dir, index, token);
        EXPECT_EQ(notifier_token(index, read), token);
        EXPECT_EQ(read.place, TokenPlace::keyring);
    }
    const auto tokens = items_of(session, "new@example.com");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].label, "kd5lite: new@example.com (imap.example.com), OAuth2 refresh token");
    EXPECT_EQ(tokens[0].attributes.at("kind"), "refresh-token");
    EXPECT_EQ(tokens[0].attributes.at("server"), "imap.example.com");
    EXPECT_EQ(tokens[0].attributes.at("protocol"), "imap");
    EXPECT_EQ(session.secret(tokens[0].path), kToken + std::string("0"));
    EXPECT_EQ(dir.read("corvo_kd5lite.ini").find("old-pass"), std::string::npos);
    std::string password;
    notifier_reads(1);
    EXPECT_EQ(secret_lookup(account_secret_key(1), password, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(password, "old-pass");
    EXPECT_EQ(items_of(session, "kim").size(), 2u);

    // A new token from a refresh replaces the one in the keyring, and does not pile up items.
    notifier_reads(0);
    ASSERT_EQ(refresh_token_replace(0, "rotated", TokenPlace::keyring, kWaitMs), 0);
    EXPECT_EQ(notifier_token(0, read), "rotated");
    EXPECT_EQ(items_of(session, "new@example.com").size(), 1u);
}

// Headless, or no keyring daemon on the bus: the token goes to the file scrambled as before, the account's
// password stays where it was, and the save says why for the option program's words.
TEST(RefreshToken, WithoutASecretServiceTheFileKeepsItScrambled) {
    for (auto desktop : {KeyringSession::Desktop::no_bus, KeyringSession::Desktop::bus_only}) {
        KeyringSession session(desktop);
        ASSERT_TRUE(session.start()) << session.error();
        TempCorvo dir;
        file_account(0, "imap.example.com", "alice", "1");
        settings_set(Key::Password, "file-pass", 0);
        ASSERT_EQ(ini_write_password(0), 0);
        TokenSave save;
        ASSERT_EQ(refresh_token_save(0, kToken, save), 0);
        EXPECT_FALSE(save.in_keyring);
        EXPECT_EQ(save.keyring, SecretResult::no_service);
        EXPECT_EQ(dir.read("corvo_kd5lite.ini").find(kToken), std::string::npos);
        EXPECT_NE(stored_key(Key::SecretStore, 0), "1");
        EXPECT_EQ(unscramble_text(stored_key(Key::Password, 0), stored_key(Key::Scramble, 0)), "file-pass");
        TokenRead read;
        EXPECT_EQ(notifier_token(0, read), kToken);
        EXPECT_EQ(read.place, TokenPlace::file);
    }
}

// A locked keyring: the notifier's read is an answer, not a wait for a prompt, and says locked; a sign-in the
// keyring will not take (no prompt comes) leaves the token in the file, where it is read even with SecretStore "1".
TEST(RefreshToken, LockedKeyringIsAnAnswerAndASignInFallsBackToTheFile) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    file_account(0, "imap.example.com", "alice", "1");
    TokenSave save;
    ASSERT_EQ(refresh_token_save(0, kToken, save), 0);
    ASSERT_TRUE(save.in_keyring);
    ASSERT_TRUE(session.lock());

    TokenRead read;
    EXPECT_EQ(notifier_token(0, read), "");
    EXPECT_EQ(read.place, TokenPlace::keyring);
    EXPECT_EQ(read.keyring, SecretResult::locked);
    EXPECT_EQ(refresh_token_replace(0, "rotated", TokenPlace::keyring, kWaitMs), -1);

    ASSERT_EQ(refresh_token_save(0, "signed-in-while-locked", save), 0);
    EXPECT_FALSE(save.in_keyring);
    EXPECT_EQ(save.keyring, SecretResult::locked);
    EXPECT_EQ(notifier_token(0, read), "signed-in-while-locked");
    EXPECT_EQ(read.place, TokenPlace::file);
}

// The token follows the account: a protocol changed in the option program files it anew; a password the setup
// program moves to the file takes the token along (or no reader would find it); another ID drops it from the
// keyring and the file. Catches a token stranded under the old names or behind an empty SecretStore.
TEST(RefreshToken, FollowsTheAccountThroughRefileAndTheSetupProgramsSave) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    TempCorvo dir;
    file_account(0, "mail.example.com", "alice", "0");
    settings_set(Key::Password, "pass", 0);
    ASSERT_EQ(ini_write_password(0), 0);
    TokenSave save;
    ASSERT_EQ(refresh_token_save(0, kToken, save), 0);
    ASSERT_TRUE(save.in_keyring);

    notifier_reads(0);
    const SecretKey before = account_secret_key(0);
    settings_set(Key::Protocol, "1", 0);
    EXPECT_EQ(refile_account_secrets(0, before, [] { return ini_write_key(Key::Protocol, 0); }), SecretResult::ok);
    TokenRead read;
    EXPECT_EQ(notifier_token(0, read), kToken);
    for (const auto& item : session.items()) {
        EXPECT_EQ(item.attributes.at("protocol"), "imap") << item.label;
    }

    // The setup program, its password edit emptied: the password leaves the keyring, and the token with it.
    AccountPassword state;
    notifier_reads(0);
    ASSERT_EQ(ini_load_password(0, state), 0);
    ASSERT_EQ(settings_get(Key::Password, 0), "pass");
    settings_set(Key::Password, "", 0);
    PasswordSave saved;
    ASSERT_EQ(ini_save_password(0, state, saved), 0);
    EXPECT_TRUE(session.items().empty());
    EXPECT_EQ(notifier_token(0, read), kToken);
    EXPECT_EQ(read.place, TokenPlace::file);

    // Another ID: the token was given to alice, and goes.
    settings_set(Key::ID, "bob", 0);
    ASSERT_EQ(ini_write_key(Key::ID, 0), 0);
    ASSERT_EQ(ini_save_password(0, state, saved), 0);
    EXPECT_EQ(notifier_token(0, read), "");
    EXPECT_EQ(read.place, TokenPlace::none);
}

} // namespace
