// SPDX-License-Identifier: GPL-3.0-or-later
// The filtered check by unique id: the same result as a pass over every message, TOP for new messages only.

#include "mail/core/check_stop.h"
#include "mail/mail_check.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"

#include <random>
#include <set>

namespace {

using Lines = std::vector<std::string>;

const std::string kRefused = "-ERR unknown command\r\n";

// The message numbers of the TOP commands among commands[from...].
std::vector<int> tops_since(const Lines& commands, std::size_t from) {
    std::vector<int> numbers;
    for (std::size_t i = from; i < commands.size(); ++i) {
        if (commands[i].starts_with("TOP ")) {
            numbers.push_back(std::stoi(commands[i].substr(4)));
        }
    }
    return numbers;
}

class Pop3Uidl : public MailTest {
protected:
    // A server for alice / secret (and bob, with the same maildrop).
    std::unique_ptr<Pop3Server> start_server(const std::vector<std::string>& messages, bool refuse_uidl = false) {
        Pop3Script script;
        if (refuse_uidl) {
            script.replies["UIDL"] = kRefused;
        }
        return start_server(messages, script);
    }
    std::unique_ptr<Pop3Server> start_server(const std::vector<std::string>& messages, const Pop3Script& script) {
        std::map<std::string, Pop3Mailbox> boxes = {{"alice", {"secret", messages, ""}}, {"bob", {"pw", messages, ""}}};
        auto server = std::make_unique<Pop3Server>(boxes, script);
        EXPECT_TRUE(server->start()) << server->error();
        return server;
    }
    static void set_filters(int index, const std::vector<std::pair<std::string, std::string>>& filters) {
        for (int i = 0; i < 3; ++i) {
            auto f = i < static_cast<int>(filters.size()) ? filters[i] : std::pair<std::string, std::string>{};
            set_filter(index, i, f.first, f.second);
        }
    }
};

// Random maildrops that gain and lose messages between passes, under random filters: every pass gives what the
// pass over every message gives (a server without UIDL, checked as account 1), and TOP goes only to messages whose
// ids no pass under the same filters has seen.
TEST_F(Pop3Uidl, RandomMaildropsCountAsThePassOverEveryMessageWithTopForNewIdsOnly) {
    const Lines senders = {"Taro Yamada <taro@example.com>", "taro@example.com",   "jirotaro@example.com",
                           "Hanako <hanako@example.com>",    "hanako@example.com", "x@example.org"};
    const Lines addresses = {"taro@example.com", "hanako@example.com", "example.com", "Taro", ""};
    auto by_id = start_server({});
    auto every = start_server({}, true);
    set_account(0, by_id->server_name(), "alice", "secret");
    set_account(1, every->server_name(), "alice", "secret");
    int serial = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        std::vector<std::pair<std::string, std::string>> filters;
        for (int i = 0; i < 3; ++i) {
            filters.push_back({addresses[pick(5)], std::to_string(pick(4))});
        }
        filters[pick(3)].second = std::to_string(1 + pick(2)); // at least one condition, or no TOP at all
        set_filters(0, filters);
        set_filters(1, filters);
        std::vector<std::string> drop;
        std::set<std::string> seen; // ids read under these filters; new filters make every message new
        for (int pass = 0; pass < 5; ++pass) {
            for (int removed = pick(4); removed > 0 && !drop.empty(); --removed) {
                drop.erase(drop.begin() + pick(static_cast<int>(drop.size())));
            }
            for (int added = pick(pass == 0 ? 12 : 4); added > 0; --added) {
                auto at = drop.begin() + pick(static_cast<int>(drop.size()) + 1);
                drop.insert(at, make_message(senders[pick(6)], "user@kd5lite.test", std::to_string(++serial)));
            }
            by_id->set_messages("alice", drop);
            every->set_messages("alice", drop);
            const std::size_t before = by_id->commands().size();
            std::vector<int> expected_tops;
            const std::vector<std::string> ids = unique_ids(drop);
            for (std::size_t i = 0; i < ids.size(); ++i) {
                if (!seen.contains(ids[i])) {
                    expected_tops.push_back(static_cast<int>(i + 1));
                }
            }
            seen.insert(ids.begin(), ids.end());

            const int hits = pop3_check(0);
            EXPECT_EQ(hits, pop3_check(1)) << "pass " << pass << " of " << drop.size() << " messages";
            EXPECT_EQ(tops_since(by_id->commands(), before), expected_tops) << "pass " << pass;
        }
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A listing of thousands of messages comes in many segments (and TLS records): read to its end line, it spares
// the later pass every TOP.
TEST_F(Pop3Uidl, ListingOfThousandsOfMessagesIsReadToItsEnd) {
    std::vector<std::string> drop;
    for (int i = 0; i < 2500; ++i) {
        drop.push_back(make_message(i % 3 ? "taro@example.com" : "x@example.org", "u@kd5lite.test", std::to_string(i)));
    }
    auto server = start_server(drop);
    set_account(0, server->server_name(), "alice", "secret");
    set_filters(0, {{"taro@example.com", "1"}});
    EXPECT_EQ(pop3_check(0), 1666);
    const std::size_t before = server->commands().size();
    EXPECT_EQ(pop3_check(0), 1666);
    EXPECT_EQ(server->commands().size() - before, 5u); // USER PASS STAT UIDL QUIT
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// Without a usable listing every pass reads every message, as a server without UIDL needs; a listing that is there
// but wrong is also named in the error log.
TEST_F(Pop3Uidl, RefusedOrUnusableListingsGiveThePassOverEveryMessage) {
    const std::string unusable = "check mail ---> Contents abnormality of a POP confirmation [a unique id listing "
                                 "command] message[no.0 error: 74]";
    struct Case {
        const char* name;
        std::string listing;
        Lines errors; // per pass
    } cases[] = {
        {"refused", kRefused, {}},
        {"two messages, one id", "+OK\r\n1 same\r\n2 same\r\n.\r\n", {unusable}},
        {"one message missing", "+OK\r\n1 a\r\n.\r\n", {unusable}},
        {"a message too many", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n", {unusable}},
        {"an id with a control byte", "+OK\r\n1 a\r\n2 b\x7f\r\n.\r\n", {unusable}},
    };
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        script.replies["UIDL"] = c.listing;
        std::map<std::string, Pop3Mailbox> boxes = {{"alice",
                                                     {"secret",
                                                      {make_message("Taro <taro@example.com>", "u@kd5lite.test", "1"),
                                                       make_message("taro@example.com", "u@kd5lite.test", "2")},
                                                      ""}}};
        Pop3Server server(boxes, script);
        ASSERT_TRUE(server.start());
        set_account(0, server.server_name(), "alice", "secret");
        set_filters(0, {{"taro@example.com", "1"}});
        Lines errors;
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_EQ(pop3_check(0), 2) << c.name;
            errors.insert(errors.end(), c.errors.begin(), c.errors.end());
        }
        const Lines one_pass = {"USER alice", "PASS secret", "STAT", "UIDL", "CAPA", "TOP 1 10", "TOP 2 10", "QUIT"};
        Lines both = one_pass;
        both.insert(both.end(), one_pass.begin(), one_pass.end());
        EXPECT_EQ(server.commands(), both) << c.name;
        EXPECT_EQ(c.errors.empty() ? Lines{} : error_lines(), errors) << c.name;
    }
}

// What an account learned holds for its server, user and filters only.
TEST_F(Pop3Uidl, ANewServerUserOrFilterReadsEveryMessageAgain) {
    const std::vector<std::string> drop = {make_message("taro@example.com", "u@kd5lite.test", "1"),
                                           make_message("Hanako <hanako@example.com>", "u@kd5lite.test", "2")};
    auto first = start_server(drop);
    auto second = start_server(drop);
    struct Case {
        const char* change;
        std::function<void()> apply;
        std::vector<int> tops;
    } cases[] = {
        {"nothing", [] {}, {}},
        {"server name", [&] { settings_set(Key::ServerName, second->server_name().c_str(), 0); }, {1, 2}},
        {"server name back", [&] { settings_set(Key::ServerName, first->server_name().c_str(), 0); }, {1, 2}},
        {"user", [&] { set_account(0, first->server_name(), "bob", "pw"); }, {1, 2}},
        {"an address",
         [&] {
             set_filters(0, {{"taro@example.com", "1"}, {"hanako@example.com", "1"}});
         },
         {1, 2}},
        {"a condition",
         [&] {
             set_filters(0, {{"taro@example.com", "2"}, {"hanako@example.com", "1"}});
         },
         {1, 2}},
        {"nothing again", [] {}, {}},
    };
    set_account(0, first->server_name(), "alice", "secret");
    set_filters(0, {{"taro@example.com", "1"}});
    ASSERT_EQ(pop3_check(0), 1);
    for (const auto& c : cases) {
        c.apply();
        Pop3Server* server = settings_get(Key::ServerName, 0) == first->server_name() ? first.get() : second.get();
        const std::size_t before = server->commands().size();
        EXPECT_GE(pop3_check(0), 1) << c.change;
        EXPECT_EQ(tops_since(server->commands(), before), c.tops) << c.change;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A stop written while the pass reads message 10 of 60 (by the server, as it receives that TOP) is seen at the
// next look at the settings file: within 2 s of the scaled time, that is before two more messages have been
// read, as the server takes more than that for each reply. The pass ends with QUIT and the account's memory is gone. Ending the notifier stops it too; other requests
// do not. With a look only every 1000 s the whole pass runs: the file is read no more often than the timing record
// says.
TEST_F(Pop3Uidl, StopDuringALongPassEndsTheCheckWithinTwoSecondsOfScaledTime) {
    std::vector<std::string> drop;
    for (int i = 0; i < 60; ++i) {
        drop.push_back(make_message("taro@example.com", "u@kd5lite.test", std::to_string(i)));
    }
    struct Case {
        std::string request; // written as the server receives TOP 10
        int stop_poll_s;
        int result;
        std::size_t most_tops;
    } cases[] = {
        {"4", 1, -1, 12},    // stop monitoring
        {"99", 1, -1, 12},   // end the notifier
        {"2", 1, 60, 60},    // the connection test waits for the monitor's end
        {"4", 1000, 60, 60}, // no look at the file within the pass
    };
    for (const auto& c : cases) {
        Pop3Script script;
        script.byte_pause_ms = 1; // a TOP reply of some 300 bytes in pieces of 16: over 18 ms a message
        script.piece_bytes = 16;
        auto server = start_server(drop, script);
        set_account(0, server->server_name(), "alice", "secret");
        set_filters(0, {{"taro@example.com", "2"}});
        Timing t = scaled_timing(0.01); // 2 s are 20 ms
        t.stop_poll_ms = c.stop_poll_s * 10;
        t.select_timeout_ms = 1000; // the pieces of a reply come a moment apart
        set_timing(t);
        settings_put(Key::Request, "1");
        server->on_command([&c](const std::string& line) {
            if (line == "TOP 10 10") {
                settings_put(Key::Request, c.request.c_str());
            }
        });
        check_stop_clear();
        EXPECT_EQ(pop3_check(0), c.result) << c.request << " " << c.stop_poll_s;
        Lines commands = server->commands();
        EXPECT_LE(tops_since(commands, 0).size(), c.most_tops) << c.request << " " << c.stop_poll_s;
        EXPECT_GE(tops_since(commands, 0).size(), 10u) << c.request << " " << c.stop_poll_s;
        EXPECT_EQ(commands.back(), "QUIT") << c.request << " " << c.stop_poll_s;
        EXPECT_EQ(check_stop_seen(), c.result < 0) << c.request << " " << c.stop_poll_s;
        EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();

        // Monitoring again: nothing of the stopped pass was kept.
        server->on_command(nullptr);
        settings_put(Key::Request, "1");
        const std::size_t before = server->commands().size();
        EXPECT_EQ(pop3_check(0), 60);
        EXPECT_EQ(tops_since(server->commands(), before).size(), c.result < 0 ? 60u : 0u) << c.request;
    }
}

// The count runs in a type that cannot overflow, and a maildrop beyond ten million messages is no maildrop.
TEST_F(Pop3Uidl, StatCountsAboveTenMillionAreRefusedAsMalformed) {
    const Lines too_many = {"check mail ---> The number of emails of a POP confirmation [a reception email "
                            "confirmation command] message is abnormal[no.0 error: 75]"};
    struct Case {
        std::string stat;
        int result;
        Lines commands;
    } cases[] = {
        {"+OK 10000000 1\r\n", 10000000, {"USER alice", "PASS secret", "STAT", "QUIT"}},
        {"+OK 10000001 1\r\n", 0, {"USER alice", "PASS secret", "STAT"}},
        {"+OK 4294967297 1\r\n", 0, {"USER alice", "PASS secret", "STAT"}}, // 1 in 32 bits
        {"+OK 99999999999999999999999 1\r\n", 0, {"USER alice", "PASS secret", "STAT"}},
    };
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        script.replies["STAT"] = c.stat;
        Pop3Server server({{"alice", {"secret", {}, ""}}}, script);
        ASSERT_TRUE(server.start());
        set_account(0, server.server_name(), "alice", "secret");
        EXPECT_EQ(pop3_check(0), c.result) << c.stat;
        EXPECT_EQ(server.commands(), c.commands) << c.stat;
        EXPECT_EQ(error_lines(), c.result == 0 ? too_many : Lines{}) << c.stat;
    }
}

} // namespace
