// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's online accounts over a real private session bus, the service played by python3-dbusmock.
#include "credentials/oauth/online_accounts.h"

#include "credentials/token_stop.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/online_accounts_mock.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kWaitMs = 20000; // a loaded machine's mock is slow, not dead

TEST(OnlineAccountText, IdsHostsAndUsersWithSpacesControlBytesOrTooLongAreRefused) {
    struct Row {
        std::string text;
        bool usable;
    };
    const Row rows[] = {
        {"account_1712345678_0", true},
        {"imap.gmail.com:993", true},
        {"[::1]:993", true},
        {"", false},
        {"imap host", false},
        {"imap\r\nA1 LOGOUT", false},
        {"a\x01-b", false},
        {"a\x7f", false},
        {std::string(255, 'h'), true},
        {std::string(256, 'h'), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(online_field_usable(row.text, kOnlineFieldMax), row.usable) << row.text;
    }
}

TEST(OnlineAccountText, ShownTextIsCutOnACharacterBoundaryAndMadeSafe) {
    struct Row {
        std::string text;
        std::size_t max;
        std::string shown;
    };
    const Row rows[] = {
        {"Google", 128, "Google"},
        {"a\nb\tc\x7f", 128, "a?b?c?"},
        {"\xE5\xA4\xAA\xE9\x83\x8E", 4, "\xE5\xA4\xAA"}, // 太郎 cut inside 郎: only 太 is left
        {"abcdef", 3, "abc"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(online_display_text(row.text, row.max), row.shown) << row.text;
    }
}

class OnlineAccounts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ok());
        ASSERT_TRUE(goa_.wait_ready(kWaitMs)) << goa_.log();
    }

    TempCorvo dir_;
    PrivateSessionBus bus_{dir_.dir()};
    OnlineAccountsMock goa_{dir_.dir()};
};

// Only accounts that read mail over IMAP and sign in with OAuth2 are offered; one whose host or user could smuggle
// bytes into a command is left out. Catches a list that offers a password account, a calendar or switched-off mail.
TEST_F(OnlineAccounts, ListsOnlyMailAccountsThatSignInWithOAuth2) {
    ASSERT_TRUE(goa_.add_mail_account("account_1_0", "Google", "alice@gmail.com", "imap.gmail.com", "alice@gmail.com"));
    ASSERT_TRUE(goa_.add_other_account("account_2_0", "password"));
    ASSERT_TRUE(goa_.add_other_account("account_3_0", "mail-off"));
    ASSERT_TRUE(goa_.add_other_account("account_4_0", "no-imap"));
    ASSERT_TRUE(goa_.add_other_account("account_5_0", "calendar"));
    ASSERT_TRUE(goa_.add_mail_account("account_6_0", "Microsoft", "bob@outlook.com", "outlook.office365.com:993", ""));
    ASSERT_TRUE(goa_.add_mail_account("account_7_0", "Evil", "x", "imap.example.com\r\nA1 LOGOUT", "x"));

    std::vector<OnlineMailAccount> list;
    std::string why;
    ASSERT_EQ(online_mail_accounts(list, kWaitMs, &why), OnlineStatus::ok) << why << goa_.log();
    std::vector<std::string> ids;
    for (const OnlineMailAccount& a : list) {
        ids.push_back(a.id);
    }
    std::sort(ids.begin(), ids.end()); // the order of the service's objects is its own
    EXPECT_EQ(ids, (std::vector<std::string>{"account_1_0", "account_6_0"}));

    OnlineMailAccount bob;
    ASSERT_EQ(online_mail_account("account_6_0", bob, kWaitMs), OnlineStatus::ok);
    EXPECT_EQ(bob.provider, "Microsoft");
    EXPECT_EQ(bob.identity, "bob@outlook.com");
    EXPECT_EQ(bob.imap_host, "outlook.office365.com:993");
    EXPECT_EQ(bob.imap_user, "bob@outlook.com"); // no ImapUserName: the address
    EXPECT_TRUE(bob.oauth2 && bob.imap_use_ssl && !bob.imap_use_tls && !bob.attention_needed);
}

// The token the service hands out, asked for from a thread that runs no event loop, as the notifier's checks do.
TEST_F(OnlineAccounts, GivesTheAccountsTokenToAWorkerThread) {
    ASSERT_TRUE(goa_.add_mail_account("account_1_0", "Google", "alice@gmail.com", "imap.gmail.com", "alice"));
    ASSERT_TRUE(goa_.set_token("account_1_0", "ya29.token-1", 1800));
    OnlineStatus status = OnlineStatus::failed;
    std::string token = "stale";
    int expires_in = 0;
    std::string why;
    std::thread worker([&] { status = online_access_token("account_1_0", token, expires_in, kWaitMs, &why); });
    worker.join();
    ASSERT_EQ(status, OnlineStatus::ok) << why << goa_.log();
    EXPECT_EQ(token, "ya29.token-1");
    EXPECT_EQ(expires_in, 1800);
}

// Expired credentials are refused (the user must enter them again), a removed account is no account, and a token
// beyond what a mail server takes, or a service that does not answer in time, is a failure: never a hang, never a
// token cut short.
TEST_F(OnlineAccounts, EachWayOfGivingNoTokenHasItsStatus) {
    ASSERT_TRUE(goa_.add_mail_account("account_1_0", "Google", "alice@gmail.com", "imap.gmail.com", "alice"));
    ASSERT_TRUE(goa_.add_mail_account("account_2_0", "Google", "bob@gmail.com", "imap.gmail.com", "bob"));
    ASSERT_TRUE(goa_.add_mail_account("account_3_0", "Google", "carol@gmail.com", "imap.gmail.com", "carol"));
    ASSERT_TRUE(goa_.set_token("account_2_0", std::string(kOnlineTokenMax + 1, 'a')));
    ASSERT_TRUE(goa_.expire_credentials("account_1_0"));
    ASSERT_TRUE(goa_.delay_token("account_3_0", 3));

    std::string token, why;
    int expires_in = 0;
    EXPECT_EQ(online_access_token("account_1_0", token, expires_in, kWaitMs, &why), OnlineStatus::refused);
    EXPECT_NE(why.find("invalid_grant"), std::string::npos) << why; // the service's own words
    OnlineMailAccount alice;
    ASSERT_EQ(online_mail_account("account_1_0", alice, kWaitMs), OnlineStatus::ok);
    EXPECT_TRUE(alice.attention_needed);

    EXPECT_EQ(online_access_token("account_2_0", token, expires_in, kWaitMs, &why), OnlineStatus::failed);
    EXPECT_TRUE(token.empty());
    EXPECT_EQ(online_access_token("account_3_0", token, expires_in, 300, &why), OnlineStatus::failed);
    EXPECT_TRUE(token.empty());

    ASSERT_TRUE(goa_.remove_account("account_2_0"));
    EXPECT_EQ(online_access_token("account_2_0", token, expires_in, kWaitMs, &why), OnlineStatus::no_account);
    EXPECT_EQ(online_mail_account("account_2_0", alice, kWaitMs), OnlineStatus::no_account);
    EXPECT_TRUE(alice.id.empty());
}

// No service on the bus, and no bus at all: both answer no_service at once rather than start one.
TEST(OnlineAccountsService, NoServiceOrNoSessionBusIsNoService) {
    TempCorvo dir;
    std::vector<OnlineMailAccount> list;
    std::string token, why;
    int expires_in = 0;
    {
        PrivateSessionBus bus(dir.dir());
        ASSERT_TRUE(bus.ok());
        EXPECT_EQ(online_mail_accounts(list, kWaitMs, &why), OnlineStatus::no_service) << why;
        EXPECT_EQ(online_access_token("account_1_0", token, expires_in, kWaitMs), OnlineStatus::no_service);
    }
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", dir.dir().c_str(), 1); // holds no bus socket
    EXPECT_EQ(online_mail_accounts(list, kWaitMs, &why), OnlineStatus::no_service);
    EXPECT_EQ(why, "no session bus");
    if (runtime.empty()) {
        unsetenv("XDG_RUNTIME_DIR");
    } else {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
}

// A session bus that takes the connection and never answers (a stopped bus daemon): each call ends with its wait,
// and a stop ends it at once. The connection hung for good before. Catches any step of a call that waits on the
// bus without the wait's bound.
TEST(OnlineAccountsService, AMuteBusCostsTheWaitAndAStopEndsIt) {
    TempCorvo dir;
    MuteSessionBus bus(dir.dir());
    ASSERT_TRUE(bus.ok());
    std::vector<OnlineMailAccount> list;
    std::string token, why;
    int expires_in = 0;
    OnlineMailAccount account;
    struct Row {
        const char* name;
        std::function<OnlineStatus(int wait_ms)> call;
    } rows[] = {
        {"list", [&](int wait_ms) { return online_mail_accounts(list, wait_ms, &why); }},
        {"account", [&](int wait_ms) { return online_mail_account("account_1_0", account, wait_ms, &why); }},
        {"token", [&](int wait_ms) { return online_access_token("account_1_0", token, expires_in, wait_ms, &why); }},
    };
    for (const Row& row : rows) {
        token_stop_clear();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(row.call(500), OnlineStatus::failed) << row.name;
        EXPECT_EQ(why, "the session bus did not answer within the time") << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << row.name;

        const int before = bus.connections();
        std::thread stopper([&] {
            wait_until([&] { return bus.connections() > before; }, kWaitMs);
            token_stop_raise();
        });
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(row.call(60000), OnlineStatus::failed) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << row.name;
        stopper.join();
        EXPECT_EQ(why, "stopped") << row.name;
    }
    token_stop_clear();
}

} // namespace
