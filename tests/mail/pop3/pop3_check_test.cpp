// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/check_outcome.h"
#include "mail/mail_check.h"

#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

const std::string kUserContents =
    "check mail ---> Contents abnormality of a POP confirmation [a user name] message[no.0 error: 0]";

std::vector<std::string> messages_from(const Lines& senders) {
    std::vector<std::string> messages;
    for (const auto& from : senders) {
        messages.push_back(make_message(from, "user@kd5lite.test", "hello"));
    }
    return messages;
}

template <typename Edit> Pop3Script scripted(Edit edit) {
    Pop3Script script;
    edit(script);
    return script;
}

class Pop3Check : public MailTest {
protected:
    // Starts a server with one account, alice / secret, and points account 0 at it.
    void serve(std::vector<std::string> messages, Pop3Script script = {}) {
        Pop3Mailbox box;
        box.password = "secret";
        box.messages = std::move(messages);
        server_ = std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "secret");
    }

    std::unique_ptr<Pop3Server> server_;
};

TEST_F(Pop3Check, CountsTheMaildropWithExactCommands) {
    for (std::size_t n : {3u, 0u}) {
        serve(messages_from(Lines(n, "Taro <taro@example.com>")));
        EXPECT_EQ(pop3_check(0), static_cast<int>(n));
        EXPECT_EQ(server_->commands(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT"}));
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

TEST_F(Pop3Check, NegativeAnswersGiveZeroWithTheStepsMessage) {
    struct Case {
        std::string verb;
        std::string reply;
        Lines commands;
        Lines errors;
    } cases[] = {
        {"GREETING",
         "-ERR busy\r\n",
         {},
         {"check mail ---> Contents abnormality of a POP connection confirmation "
          "message[no.0 error: 0]"}},
        {"USER", "-ERR who?\r\n", {"USER alice"}, {kUserContents}},
        {"PASS",
         "-ERR bad password\r\n",
         {"USER alice", "PASS secret"},
         {"check mail ---> Contents abnormality of a POP confirmation [a password] message[no.0 error: 0]"}},
        {"STAT",
         "-ERR locked\r\n",
         {"USER alice", "PASS secret", "STAT"},
         {"check mail ---> Contents abnormality of a POP confirmation [a reception email confirmation command] "
          "message[no.0 error: 0]"}},
        // A refused QUIT gives 0 although two messages were counted; the reply is logged without its line end,
        // and what could break the line, hide or reorder it shows escaped.
        {"QUIT",
         "-ERR not now\x01\r\n",
         {"USER alice", "PASS secret", "STAT", "QUIT"},
         {"check mail ---> Contents abnormality of a POP confirmation [an end command] message[no.0 error: 0]",
          "debug ---> 14 , -ERR not now\\x01 [no.0 error: 0]"}},
        {"QUIT",
         std::string("-ERR \0\rfake\xe2\x80\xae\xc2\x85\xff\r\n", 19),
         {"USER alice", "PASS secret", "STAT", "QUIT"},
         {"check mail ---> Contents abnormality of a POP confirmation [an end command] message[no.0 error: 0]",
          "debug ---> 18 , -ERR \\x00\\x0Dfake\\u202E\\u0085\\xFF [no.0 error: 0]"}},
    };
    for (const auto& c : cases) {
        clear_error_log();
        Pop3Script script;
        if (c.verb == "GREETING") {
            script.greeting = c.reply;
        } else {
            script.replies[c.verb] = c.reply;
        }
        serve(messages_from({"a@b.c", "d@e.f"}), script);
        EXPECT_EQ(pop3_check(0), 0) << c.verb;
        EXPECT_EQ(server_->commands(), c.commands) << c.verb;
        EXPECT_EQ(error_lines(), c.errors) << c.verb;
    }
}

TEST_F(Pop3Check, ServerThatClosesAfterTheGreetingReadsAsAnEmptyReply) {
    Pop3Script script;
    script.fault = Pop3Fault::close;
    serve(messages_from({"a@b.c"}), script);
    EXPECT_EQ(pop3_check(0), 0);
    EXPECT_EQ(error_lines(), Lines{kUserContents});
}

TEST_F(Pop3Check, TransportFailuresGiveMinusOneWithTwoLines) {
    const std::string lost = "LAN operation ---> 受信(select)異常[err: 0]";
    struct Case {
        Pop3Fault fault;
        std::string at;
        bool filters;
        Lines errors; // the client's line (error number cut off), then the check's
    } cases[] = {
        {Pop3Fault::mute,
         "GREETING",
         false,
         {lost, "check mail ---> The reception of a POP connection confirmation message is abnormal[no.0 error: 0]"}},
        {Pop3Fault::mute,
         "PASS",
         false,
         {lost, "check mail ---> The reception of a POP confirmation [a password] message is abnormal[no.0 error: 0]"}},
        {Pop3Fault::mute,
         "TOP",
         true,
         {lost, "check mail ---> The reception of a POP confirmation [a reception email title acquisition command] "
                "message is abnormal[no.0 error: 0]"}},
        {Pop3Fault::mute,
         "QUIT",
         false,
         {lost, "check mail ---> The reception of a POP confirmation [an end command] message is abnormal[no.0 error: "
                "0]"}},
        {Pop3Fault::reset,
         "PASS",
         false,
         {"LAN operation ---> The reception is abnormal[err: 104]",
          "check mail ---> The reception of a POP confirmation [a password] message is abnormal[no.0 error: 104]"}},
        {Pop3Fault::reset,
         "USER",
         false,
         {"LAN operation ---> The reception is abnormal[err: 104]",
          "check mail ---> The reception of a POP confirmation [a user name] message is abnormal[no.0 error: 104]"}},
        {Pop3Fault::reset,
         "STAT",
         false,
         {"LAN operation ---> The reception is abnormal[err: 104]",
          "check mail ---> The reception of a POP confirmation [a reception email confirmation command] message is "
          "abnormal[no.0 error: 104]"}},
        {Pop3Fault::reset,
         "TOP",
         true,
         {"LAN operation ---> The reception is abnormal[err: 104]",
          "check mail ---> The reception of a POP confirmation [a reception email title acquisition command] "
          "message is abnormal[no.0 error: 104]"}},
        {Pop3Fault::endless,
         "USER",
         false,
         {"LAN operation ---> The reception is abnormal[err: 90]",
          "check mail ---> The reception of a POP confirmation [a user name] message is abnormal[no.0 error: 90]"}},
    };
    Timing t = timing();
    for (const auto& c : cases) {
        // The stalls give up at once; the endless line must reach the byte limit, not a busy machine's wait.
        t.select_timeout_ms = c.fault == Pop3Fault::endless ? 5000 : 1;
        set_timing(t);
        clear_error_log();
        Pop3Script script;
        script.fault = c.fault;
        script.fault_at = c.at;
        serve(messages_from({"a@b.c", "d@e.f"}), script);
        set_filter(0, 0, c.filters ? "a@b.c" : "", c.filters ? "1" : "0");
        EXPECT_EQ(pop3_check(0), -1) << c.at;
        Lines lines = error_lines();
        ASSERT_EQ(lines.size(), 2u) << c.at;
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(lines[i].substr(0, c.errors[i].size()), c.errors[i]) << c.at;
        }
    }
}

TEST_F(Pop3Check, UnreachableServersFailBeforeAnyCommand) {
    struct Case {
        std::string server;
        Lines errors;
    } cases[] = {
        {"[bad]:110",
         {"LAN operation ---> The acquisition of server host name is abnormal[error: -2]",
          "check mail ---> Making (POP) is abnormal[no.0 error: -2]"}},
        {"127.0.0.1:1", // nothing listens on port 1
         {"LAN operation ---> A client connection demand is abnormal[error: 111]",
          "check mail ---> TCP/IP connection is abnormal[no.0 error: 111]"}},
    };
    for (const auto& c : cases) {
        clear_error_log();
        set_account(0, c.server, "alice", "secret");
        EXPECT_EQ(pop3_check(0), -1) << c.server;
        EXPECT_EQ(error_lines(), c.errors) << c.server;
    }
}

TEST_F(Pop3Check, OverlongBinaryAndSlowRepliesStillCount) {
    struct Case {
        const char* name;
        Pop3Script script;
    } cases[] = {
        {"greeting of 5000 bytes",
         scripted([](Pop3Script& s) { s.greeting = "+OK " + std::string(5000, 'g') + "\r\n"; })},
        {"binary bytes", scripted([](Pop3Script& s) {
             s.greeting = std::string("+OK \0\x01\xfe\xff\r\n", 10);
             s.replies["STAT"] = std::string("+OK 2\0\xff\x80\r\n", 10);
         })},
        {"one byte per pause", scripted([](Pop3Script& s) { s.byte_pause_ms = 1; })},
    };
    for (const auto& c : cases) {
        serve(messages_from({"a@b.c", "d@e.f"}), c.script);
        EXPECT_EQ(pop3_check(0), 2) << c.name;
        EXPECT_EQ(server_->commands(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT"})) << c.name;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

TEST_F(Pop3Check, SenderFiltersCountHitsOverTopBlocks) {
    const Lines senders = {"Taro Yamada <taro@example.com>", "taro@example.com", "jirotaro@example.com",
                           "Hanako <hanako@example.com>"};
    struct Filter {
        std::string address;
        std::string condition;
    };
    struct Case {
        const char* name;
        std::vector<Filter> filters;
        int hits;
    } cases[] = {
        {"exact: angle and space forms", {{"taro@example.com", "1"}}, 2},
        {"partial: inside a longer address too", {{"taro@example.com", "2"}}, 3},
        {"case matters", {{"Taro@example.com", "2"}}, 0},
        {"two addresses add up", {{"taro@example.com", "1"}, {"", "0"}, {"hanako", "2"}}, 3},
        {"conditions set, addresses empty", {{"", "1"}, {"", "2"}}, 0},
        {"unknown condition still reads the headers", {{"taro@example.com", "5"}}, 0},
    };
    for (const auto& c : cases) {
        serve(messages_from(senders));
        for (int i = 0; i < 3; ++i) {
            Filter f = i < static_cast<int>(c.filters.size()) ? c.filters[i] : Filter{};
            set_filter(0, i, f.address, f.condition);
        }
        EXPECT_EQ(pop3_check(0), c.hits) << c.name;
        EXPECT_EQ(server_->commands(),
                  (Lines{"USER alice", "PASS secret", "STAT", "UIDL", "CAPA", "TOP 1 10", "TOP 2 10", "TOP 3 10", "TOP 4 10",
                         "QUIT"}))
            << c.name;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

TEST_F(Pop3Check, TopStatusLinesWithoutAUsableCountReadA4096ByteBlock) {
    for (const char* status : {"+OK\r\n", "+OK 5000 octets\r\n", "+OK message follows\r\n"}) {
        serve(messages_from({"Taro <taro@example.com>", "taro@example.com"}),
              scripted([&](Pop3Script& s) { s.top_status = status; }));
        set_filter(0, 0, "taro@example.com", "1");
        EXPECT_EQ(pop3_check(0), 2) << status;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

TEST_F(Pop3Check, TopStatusWithoutItsBlockFailsTheTitleReception) {
    give_up_quickly();
    set_filter(0, 0, "taro@example.com", "1");
    serve(messages_from({"taro@example.com"}), scripted([](Pop3Script& s) { s.replies["TOP"] = "+OK 90 octets\r\n"; }));
    EXPECT_EQ(pop3_check(0), -1);
    EXPECT_EQ(error_lines(), (Lines{"LAN operation ---> Reception (select) is abnormal[err: 0]",
                                    "check mail ---> The reception of a POP confirmation [the title reception] "
                                    "message is abnormal[no.0 error: 0]"}));
}

// The status line's count sizes only the first read: what the server sends beyond it is still the reply, read to
// its end, and no longer met by the next reply read (which ended the check with a contents message and 0).
TEST_F(Pop3Check, TopBlockLargerThanAnnouncedIsReadToItsEnd) {
    set_filter(0, 0, "taro@example.com", "1");
    for (std::size_t extra : {100u, 20000u}) {
        serve(messages_from({"taro@example.com", "taro@example.com"}),
              scripted([&](Pop3Script& s) { s.top_extra = extra; }));
        EXPECT_EQ(pop3_check(0), 2) << extra;
        EXPECT_EQ(server_->commands().back(), "QUIT") << extra;
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// Real messages carry kilobytes of Received, DKIM-Signature and ARC headers before or after the sender line; a
// sender behind them must still be found, and the messages after them still read. The match covers the first
// 64 KB of each reply.
TEST_F(Pop3Check, SenderBehindKilobytesOfHeadersIsFound) {
    std::string trace;
    for (int i = 0; i < 60; ++i) {
        trace += "Received: from relay" + std::to_string(i) + ".example.net (relay.example.net [192.0.2.1]) by " +
                 "mx.kd5lite.test with ESMTPS id " + std::string(40, 'a' + i % 26) + "\r\n";
    }
    trace += "DKIM-Signature: v=1; a=rsa-sha256; b=" + std::string(3000, 'Q') + "\r\n";
    const std::string after = make_message("Taro <taro@example.com>", "user@kd5lite.test", "after");
    std::string before = make_message("Taro <taro@example.com>", "user@kd5lite.test", "before");
    before.insert(before.find("\r\n\r\n") + 2, trace); // the trace after the sender line, before the body
    std::string beyond_64k;
    while (beyond_64k.size() < 70 * 1024) {
        beyond_64k += trace;
    }
    beyond_64k += make_message("Taro <taro@example.com>", "user@kd5lite.test", "too far");
    set_filter(0, 0, "taro@example.com", "1");
    serve({trace + after, before, beyond_64k, after});
    EXPECT_EQ(pop3_check(0), 3);
    EXPECT_EQ(server_->commands(), (Lines{"USER alice", "PASS secret", "STAT", "UIDL", "CAPA", "TOP 1 10", "TOP 2 10",
                                          "TOP 3 10", "TOP 4 10", "QUIT"}));
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// A reply that never reaches its end is bounded by its bytes: it fails the check rather than holding it.
TEST_F(Pop3Check, TopReplyWithoutEndFailsTheTitleReception) {
    set_filter(0, 0, "taro@example.com", "1");
    serve(messages_from({"taro@example.com"}), scripted([](Pop3Script& s) { s.top_extra = 17u * 1024 * 1024; }));
    EXPECT_EQ(pop3_check(0), -1);
    EXPECT_EQ(error_lines(), (Lines{"LAN operation ---> The reception is abnormal[err: 90]",
                                    "check mail ---> The reception of a POP confirmation [the title reception] "
                                    "message is abnormal[no.0 error: 90]"}));
}

TEST_F(Pop3Check, PasswordNeverReachesALogAndLineBreaksInFieldsAreCut) {
    const std::string password = "s3cr3t-Pa55";
    serve(messages_from({"a@b.c"}), scripted([](Pop3Script& s) { s.replies["PASS"] = "-ERR no\r\n"; }));
    settings_set(Key::Password, (password + "\r\nDELE 1").c_str(), 0);
    EXPECT_EQ(pop3_check(0), 0);
    EXPECT_EQ(server_->commands(), (Lines{"USER alice", "PASS " + password}));
    EXPECT_EQ(all_files().find(password), std::string::npos);
}

TEST_F(Pop3Check, TwoChecksAtOnceDoNotShareTheConnection) {
    serve(messages_from({"a@b.c", "d@e.f", "g@h.i"}));
    set_account(1, server_->server_name(), "alice", "secret");
    int results[2] = {};
    std::thread other([&] { results[1] = pop3_check(1); });
    results[0] = pop3_check(0);
    other.join();
    EXPECT_EQ(results[0], 3);
    EXPECT_EQ(results[1], 3);
    EXPECT_EQ(server_->connections(), 2);
}

// With the real timing record a check waits for the server's bytes and nothing else (what it costs is a figure of
// bench/filtered_check_figures); here it gives the same result and commands as with the shortened one.
TEST_F(Pop3Check, PlainAndFilteredChecksWithRealTimingCount) {
    set_timing(Timing{});
    serve(messages_from({"a@b.c", "d@e.f", "a@b.c"}));
    EXPECT_EQ(pop3_check(0), 3);
    set_filter(0, 0, "a@b.c", "1");
    EXPECT_EQ(pop3_check(0), 2);
    EXPECT_EQ(server_->commands(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT", "USER alice", "PASS secret",
                                          "STAT", "UIDL", "CAPA", "TOP 1 10", "TOP 2 10", "TOP 3 10", "QUIT"}));
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// How each check ends, as a value beside its line: the step, the kind and the error number the line gives. Catches
// a refusal after the login told as a refused login (or as nothing, since its result is the 0 of an empty maildrop),
// a transport failure told as a refusal, and an outcome whose line is not the one written.
TEST_F(Pop3Check, EachEndIsAnOutcomeBesideItsLine) {
    struct Case {
        const char* name;
        std::function<void(Pop3Script&)> script;
        std::function<void()> account; // after serve()
        int result;
        CheckStep step;
        CheckFailure failure;
        int error;
    } cases[] = {
        {"worked", {}, {}, 2, CheckStep::none, CheckFailure::none, 0},
        {"greeting -ERR",
         [](Pop3Script& s) { s.greeting = "-ERR busy\r\n"; },
         {},
         0,
         CheckStep::greeting,
         CheckFailure::refused,
         0},
        {"USER -ERR",
         [](Pop3Script& s) { s.replies["USER"] = "-ERR who?\r\n"; },
         {},
         0,
         CheckStep::user,
         CheckFailure::refused_login,
         0},
        {"PASS -ERR",
         [](Pop3Script& s) { s.replies["PASS"] = "-ERR no\r\n"; },
         {},
         0,
         CheckStep::login,
         CheckFailure::refused_login,
         0},
        {"STAT -ERR",
         [](Pop3Script& s) { s.replies["STAT"] = "-ERR locked\r\n"; },
         {},
         0,
         CheckStep::count,
         CheckFailure::refused,
         0},
        {"TOP -ERR in a filtered pass", [](Pop3Script& s) { s.replies["TOP"] = "-ERR no such message\r\n"; },
         [] { set_filter(0, 0, "a@b.c", "1"); }, 0, CheckStep::headers, CheckFailure::refused, 0},
        {"QUIT -ERR",
         [](Pop3Script& s) { s.replies["QUIT"] = "-ERR later\r\n"; },
         {},
         0,
         CheckStep::logout,
         CheckFailure::refused,
         0},
        {"STAT beyond ten million",
         [](Pop3Script& s) { s.replies["STAT"] = "+OK 99999999999 1\r\n"; },
         {},
         0,
         CheckStep::count,
         CheckFailure::protocol_broken,
         EOVERFLOW},
        {"reset at STAT",
         [](Pop3Script& s) { s.fault = Pop3Fault::reset, s.fault_at = "STAT"; },
         {},
         -1,
         CheckStep::count,
         CheckFailure::unreachable,
         ECONNRESET},
        {"silent at PASS",
         [](Pop3Script& s) { s.fault = Pop3Fault::mute, s.fault_at = "PASS"; },
         {},
         -1,
         CheckStep::login,
         CheckFailure::unreachable,
         kAnyError},
        {"endless USER line",
         [](Pop3Script& s) { s.fault = Pop3Fault::endless, s.fault_at = "USER"; },
         {},
         -1,
         CheckStep::user,
         CheckFailure::flood,
         EMSGSIZE},
        {"STLS refused", {}, [] { settings_set(Key::Security, "1", 0); }, -1, CheckStep::tls, CheckFailure::tls, 0},
        {"TLS to a plain server",
         {},
         [] { settings_set(Key::Security, "2", 0); },
         -1,
         CheckStep::tls,
         CheckFailure::tls,
         kAnyError},
        {"unknown security",
         {},
         [] { settings_set(Key::Security, "7", 0); },
         -1,
         CheckStep::settings,
         CheckFailure::settings,
         EINVAL},
        {"port after the name is none",
         {},
         [] { settings_set(Key::ServerName, "127.0.0.1:x", 0); },
         -1,
         CheckStep::resolve,
         CheckFailure::settings,
         EINVAL},
        {"nothing listens",
         {},
         [] { settings_set(Key::ServerName, "127.0.0.1:1", 0); },
         -1,
         CheckStep::connect,
         CheckFailure::unreachable,
         ECONNREFUSED},
    };
    Timing t = timing();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.select_timeout_ms = c.failure == CheckFailure::flood ? 5000 : 1; // as in the transport failures above
        set_timing(t);
        clear_error_log();
        Pop3Script script;
        if (c.script) {
            c.script(script);
        }
        serve(messages_from({"a@b.c", "d@e.f"}), script);
        settings_set(Key::Security, "", 0);
        set_filter(0, 0, "", "0");
        if (c.account) {
            c.account();
        }
        CheckOutcome outcome;
        EXPECT_EQ(mail_check(0, &outcome), c.result);
        EXPECT_EQ(outcome_differs(outcome, c.step, c.failure, c.error), "") << outcome.line;
        server_->stop();
    }
}

} // namespace
