// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/secret_store.h"

#include "tests/support/keyring_session.h"

#include <gtest/gtest.h>

namespace {

// Long enough for a loaded CI machine: a result other than timed_out shows the call did not wait for it.
constexpr int kWaitMs = 20000;

const SecretKey kAlice = {"mail.example.com", "alice", "imap", SecretKind::password};

SecretKey with_kind(SecretKey key, SecretKind kind) {
    key.kind = kind;
    return key;
}

TEST(SecretLabel, NamesTheAccountAsAPersonKnowsIt) {
    struct Case {
        SecretKey key;
        const char* label;
    } cases[] = {
        {kAlice, "kd5lite: alice@mail.example.com"},
        {{"imap.example.com", "alice@example.com", "imap", SecretKind::password},
         "kd5lite: alice@example.com (imap.example.com)"},
        {{"127.0.0.1:1143", "bob", "pop3", SecretKind::password}, "kd5lite: bob@127.0.0.1:1143"},
        {with_kind(kAlice, SecretKind::refresh_token), "kd5lite: alice@mail.example.com, OAuth2 refresh token"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(secret_label(c.key), c.label);
    }
}

// One story over a real keyring: a password and a refresh token of the same account are two items that never mix,
// a second save replaces, a removal leaves nothing, and the secret's bytes come back as they went in.
TEST(SecretStore, StoresReadsBackReplacesAndRemoves) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();

    EXPECT_EQ(secret_save(kAlice, "hunter2", SecretUnlock::never, kWaitMs), SecretResult::ok);
    const SecretKey token = with_kind(kAlice, SecretKind::refresh_token);
    EXPECT_EQ(secret_save(token, "1//0refresh-token", SecretUnlock::never, kWaitMs), SecretResult::ok);

    std::string out = "left over";
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(out, "hunter2");
    EXPECT_EQ(secret_lookup(token, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(out, "1//0refresh-token");

    auto items = session.items();
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        EXPECT_EQ(item.attributes.at("xdg:schema"), "org.corvo.kd5lite.Account");
        EXPECT_EQ(item.attributes.at("server"), "mail.example.com");
        EXPECT_EQ(item.attributes.at("user"), "alice");
        EXPECT_EQ(item.attributes.at("protocol"), "imap");
        const bool is_token = item.attributes.at("kind") == "refresh-token";
        EXPECT_EQ(item.label, is_token ? "kd5lite: alice@mail.example.com, OAuth2 refresh token"
                                       : "kd5lite: alice@mail.example.com");
        EXPECT_EQ(session.secret(item.path), is_token ? "1//0refresh-token" : "hunter2");
    }

    // The same account again: replaced, not doubled. Bytes above 0x7F and a password longer than the settings
    // file's 32 come back whole.
    const std::string long_password = "p\xc3\xa4ss w\xc3\xb6rd \xe4\xb8\xad 0123456789012345678901234567890123";
    EXPECT_EQ(secret_save(kAlice, long_password, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(session.items().size(), 2u);
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(out, long_password);

    // Another server, user or protocol is another account.
    for (SecretKey other : {SecretKey{"mail.example.org", "alice", "imap"}, SecretKey{"mail.example.com", "bob", "imap"},
                            SecretKey{"mail.example.com", "alice", "pop3"}}) {
        EXPECT_EQ(secret_lookup(other, out, SecretUnlock::never, kWaitMs), SecretResult::not_found) << other.server;
        EXPECT_EQ(out, "");
    }

    EXPECT_EQ(secret_remove(kAlice, kWaitMs), SecretResult::ok);
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::not_found);
    EXPECT_EQ(secret_lookup(token, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(secret_remove(token, kWaitMs), SecretResult::ok);
    EXPECT_EQ(secret_remove(token, kWaitMs), SecretResult::ok); // nothing left to remove is no failure
    EXPECT_TRUE(session.items().empty());
}

// A locked keyring must neither raise a prompt the notifier cannot answer nor hang: the result says locked at once,
// and nothing of the secret comes out.
TEST(SecretStore, LockedKeyringAnswersLockedWithoutWaitingForAPrompt) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    ASSERT_EQ(secret_save(kAlice, "hunter2", SecretUnlock::never, kWaitMs), SecretResult::ok);
    ASSERT_TRUE(session.lock());

    std::string out = "left over";
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::locked);
    EXPECT_EQ(out, "");
    EXPECT_EQ(secret_save(kAlice, "new", SecretUnlock::never, kWaitMs), SecretResult::locked);
    // With leave to ask, the keyring asks for its password; this session has no one to answer, so the prompt
    // fails and the keyring stays locked.
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::ask, kWaitMs), SecretResult::locked);
    EXPECT_EQ(out, "");
    std::string text = secret_result_text(SecretResult::locked);
    EXPECT_EQ(text, "the keyring is locked");
}

// A keyring daemon that has stopped answering costs the wait and no more; once it answers again, so do the calls.
TEST(SecretStore, KeyringThatStopsAnsweringTimesOutAndIsFoundAgain) {
    KeyringSession session;
    ASSERT_TRUE(session.start()) << session.error();
    ASSERT_EQ(secret_save(kAlice, "hunter2", SecretUnlock::never, kWaitMs), SecretResult::ok);
    session.pause();
    std::string out;
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, 300), SecretResult::timed_out);
    EXPECT_EQ(out, "");
    session.resume();
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(out, "hunter2");
}

// Headless, or a desktop without a keyring daemon: every call says so, none waits for the time-out, and a bus
// that goes away takes nothing down with it.
TEST(SecretStore, WithoutASecretServiceEveryCallSaysSo) {
    for (auto desktop : {KeyringSession::Desktop::no_bus, KeyringSession::Desktop::bus_only}) {
        KeyringSession session(desktop);
        ASSERT_TRUE(session.start()) << session.error();
        std::string out = "left over";
        std::string reason;
        EXPECT_EQ(secret_save(kAlice, "hunter2", SecretUnlock::ask, kWaitMs, &reason), SecretResult::no_service);
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::ask, kWaitMs), SecretResult::no_service);
        EXPECT_EQ(out, "");
        EXPECT_EQ(secret_remove(kAlice, kWaitMs), SecretResult::no_service);
    }
}

// A keyring daemon that ended and was started again (a crash, a new login on the same bus) is the one used next:
// nothing of the old one's session is held on to.
TEST(SecretStore, AKeyringStartedAgainIsTheOneUsed) {
    {
        KeyringSession first;
        ASSERT_TRUE(first.start()) << first.error();
        ASSERT_EQ(secret_save(kAlice, "first", SecretUnlock::never, kWaitMs), SecretResult::ok);
    }
    KeyringSession second;
    ASSERT_TRUE(second.start()) << second.error();
    std::string out;
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::not_found);
    EXPECT_EQ(secret_save(kAlice, "second", SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(secret_lookup(kAlice, out, SecretUnlock::never, kWaitMs), SecretResult::ok);
    EXPECT_EQ(out, "second");
}

} // namespace
