// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 reader against servers that send their replies in pieces of every size, in clear and over TLS (a record
// per piece), with and without PIPELINING: the same result and commands each time, the TOP commands in flight
// together only where the server offers it, and a stop in the middle of a pipelined pass still honoured.

#include "mail/core/check_stop.h"
#include "mail/mail_check.h"
#include "mail/pop3/known_hits.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tools/pop3server/pop3_server.h"

#include <filesystem>

namespace {

using Lines = std::vector<std::string>;

const std::string kPipelining = "TOP\r\nUSER\r\nUIDL\r\nPIPELINING\r\n";

// A short message, so that a reply sent byte by byte still comes within a fraction of a second.
std::string message(const std::string& from, int n) {
    return "From: " + from + "\r\nSubject: " + std::to_string(n) + "\r\n\r\nHi.\r\n.dot-stuffed\r\n";
}

class Pop3Pieces : public MailTest {
protected:
    Pop3Pieces() {
        std::filesystem::create_directory(pki_);
        authority_ = std::make_unique<TestAuthority>(pki_, "trusted");
        trusted_ = std::make_unique<TrustedAuthority>(*authority_);
        certificate_ = authority_->issue("pop", "IP:127.0.0.1");
    }

    void serve(Pop3Script script, bool tls, std::vector<std::string> messages) {
        if (tls) {
            script.tls = Pop3Tls::implicit;
            script.certificate_file = certificate_.certificate_file;
            script.key_file = certificate_.key_file;
        }
        server_ = std::make_unique<Pop3Server>(
            std::map<std::string, Pop3Mailbox>{{"alice", {"secret", std::move(messages), ""}}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "secret");
        settings_set(Key::Security, tls ? "2" : "0", 0);
    }

    std::string pki_ = dir_.path("pki");
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<TrustedAuthority> trusted_;
    TestAuthority::Issued certificate_;
    std::unique_ptr<Pop3Server> server_;
};

// Catches a line taken before its end has come, bytes of one reply lost or read into the next (with pipelining
// the replies follow each other without a gap), a dot-stuffed line taken for the end, and commands pipelined to a
// server that did not offer it.
TEST_F(Pop3Pieces, RepliesSplitAnywhereGiveTheSameResultWithAndWithoutPipelining) {
    const std::vector<std::string> drop = {message("taro@example.com", 1), message("hanako@example.com", 2),
                                           message("Taro <taro@example.com>", 3), message("x@example.org", 4)};
    const Lines commands = {"USER alice", "PASS secret", "STAT", "UIDL", "CAPA",     "TOP 1 10",
                            "TOP 2 10",   "TOP 3 10",    "TOP 4 10", "QUIT"};
    set_filter(0, 0, "taro@example.com", "1");
    for (bool tls : {false, true}) {
        for (bool pipelining : {false, true}) {
            for (std::size_t piece : {1u, 2u, 3u, 7u, 64u}) {
                const std::string name = std::string(tls ? "TLS" : "clear") + (pipelining ? " pipelining" : "") +
                                         ", pieces of " + std::to_string(piece);
                Pop3Script script;
                script.byte_pause_ms = 1;
                script.piece_bytes = piece;
                script.capabilities = pipelining ? kPipelining : script.capabilities;
                serve(script, tls, drop);
                EXPECT_EQ(pop3_check(0), 2) << name;
                EXPECT_EQ(server_->commands(), commands) << name;
                EXPECT_EQ(server_->deepest_pipeline(), pipelining ? 4 : 1) << name;
                forget_known_hits();
            }
        }
    }
    // A server without CAPA is asked one command at a time, as one that lists no PIPELINING.
    Pop3Script script;
    script.capabilities.clear();
    serve(script, false, drop);
    EXPECT_EQ(pop3_check(0), 2);
    EXPECT_EQ(server_->deepest_pipeline(), 1);
    EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();
}

// Many messages go out in batches within the window, and a later pass sends only the new ones.
TEST_F(Pop3Pieces, PipelinedPassesReadEveryReplyInOrderAndLaterPassesOnlyTheNewMessages) {
    std::vector<std::string> drop;
    int hits = 0;
    for (int n = 1; n <= 300; ++n) {
        const bool hit = n % 3 == 0 || n % 7 == 0;
        hits += hit ? 1 : 0;
        drop.push_back(message(hit ? "taro@example.com" : "jiro@example.com", n));
    }
    Pop3Script script;
    script.capabilities = kPipelining;
    serve(script, false, drop);
    set_filter(0, 0, "taro@example.com", "1");
    EXPECT_EQ(pop3_check(0), hits);
    EXPECT_EQ(server_->deepest_pipeline(), 32);
    const std::size_t before = server_->commands().size();
    drop.push_back(message("taro@example.com", 301));
    drop.push_back(message("jiro@example.com", 302));
    server_->set_messages("alice", drop);
    EXPECT_EQ(pop3_check(0), hits + 1);
    const Lines all = server_->commands();
    const Lines later(all.begin() + static_cast<long>(before), all.end());
    EXPECT_EQ(later, (Lines{"USER alice", "PASS secret", "STAT", "UIDL", "CAPA", "TOP 301 10", "TOP 302 10", "QUIT"}));
    EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();
}

// A stop written while the server takes the tenth TOP ends a pipelined pass at the next look at the settings file:
// the check does not wait for the replies still in flight (nor for the answer to its QUIT behind them).
TEST_F(Pop3Pieces, StopDuringAPipelinedPassQuitsWithoutReadingTheRest) {
    std::vector<std::string> drop;
    for (int n = 1; n <= 200; ++n) {
        drop.push_back(message("taro@example.com", n));
    }
    Pop3Script script;
    script.capabilities = kPipelining;
    script.byte_pause_ms = 1; // a reply of some 60 bytes in pieces of 16: several milliseconds a message
    script.piece_bytes = 16;
    serve(script, false, drop);
    set_filter(0, 0, "taro@example.com", "1");
    Timing t = timing();
    t.stop_poll_ms = 10;
    set_timing(t);
    settings_put(Key::Request, "1");
    server_->on_command([](const std::string& line) {
        if (line == "TOP 10 10") {
            settings_put(Key::Request, "4");
        }
    });
    check_stop_clear();
    EXPECT_EQ(pop3_check(0), -1);
    server_->on_command(nullptr);
    EXPECT_TRUE(check_stop_seen());
    const Lines commands = server_->commands();
    EXPECT_LT(commands.size(), 100u); // far from the 200 TOP commands of the whole pass
    EXPECT_FALSE(dir_.exists("err07.log")) << error_lines().front();
    settings_put(Key::Request, "1");
    check_stop_clear();
}

} // namespace
