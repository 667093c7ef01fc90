// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite binary watching IMAP accounts on a real Dovecot with IDLE. The interval is an hour (shortened
// by the timing record, still far beyond a test's patience), so every pass these tests wait for is brought by the
// push.

#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const char* const kUsers[] = {"taro", "hanako", "jiro"};

std::string joined(const std::vector<std::string>& commands, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

std::string push_started(int account) {
    return "Email arrival of the mail push --> A start[No." + std::to_string(account) + "]";
}

class Push : public ::testing::Test {
protected:
    void SetUp() override {
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "60");
        tool_write("BeepTime", "1");
        for (const char* user : kUsers) {
            dovecot_.add_user(user, "secret");
        }
        ASSERT_TRUE(dovecot_.start()) << dovecot_.error() << dovecot_.log();
    }

    void deliver() {
        ASSERT_TRUE(dovecot_.deliver(kUsers[0], "From: Hanako <hanako@kd5lite.test>\r\nSubject: Hello\r\n\r\nHi.\r\n"));
    }

    void add_imap_account(int account) {
        tool_write_account(account, dovecot_.server_name(), kUsers[account], "secret");
        tool_write("Protocol", "1", account);
    }

    // Starts the notifier and monitoring, and waits until each of the first `accounts` accounts is in IDLE.
    void start_monitoring(int accounts = 1) {
        notifier_ = std::make_unique<NotifierProcess>(dir_);
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience));
        tool_write("Request", "1");
        for (int i = 0; i < accounts; ++i) {
            ASSERT_TRUE(wait_for_log(push_started(i), 1)) << diagnosis();
        }
    }

    bool wait_for_log(const std::string& line, int times, const char* stem = "log", int timeout_ms = kPatience) {
        return wait_until([&] { return count_of(log_text(dir_, stem), line) >= times; }, timeout_ms);
    }

    std::string diagnosis() const {
        return "lamp: " + joined(lamp_.commands(), 0) + "\nerr:\n" + log_text(dir_, "err") + "log:\n" +
               log_text(dir_, "log") + "dovecot:\n" + dovecot_.log();
    }

    // Waits until the lamp has received `expected` after command number `from`; returns the new command count.
    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen =
            wait_until([&] { return joined(lamp_.commands(), from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' since command " << from << "\n" << diagnosis();
        return lamp_.commands().size();
    }

    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
    LampSim lamp_{lamp_dir()};
    DovecotServer dovecot_;
    std::unique_ptr<NotifierProcess> notifier_;
};

TEST_F(Push, DeliveryLightsTheLedAtOnceAndAReadElsewherePutsItOut) {
    add_imap_account(0);
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");

    deliver();
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(dovecot_.mark_all_read(kUsers[0])) << dovecot_.log();
    expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_NE(log_text(dir_, "log").find("Email arrival of the mail nothing[No.0]"), std::string::npos);
}

TEST_F(Push, ServerRestartedUnderIdleIsReconnectedAndPushesAgain) {
    add_imap_account(0);
    start_monitoring();
    ASSERT_TRUE(dovecot_.restart()) << dovecot_.error() << dovecot_.log();
    // A second start can only follow the first connection's loss. The backoff has grown while the server was down.
    ASSERT_TRUE(wait_for_log(push_started(0), 2, "log", 2 * kPatience)) << diagnosis();

    std::size_t seen = lamp_.commands().size();
    deliver();
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
}

// A server that no longer answers says nothing: only the renewal of the IDLE finds it dead.
TEST_F(Push, ServerThatStopsAnsweringIsFoundDeadAndReconnected) {
    add_imap_account(0);
    start_monitoring();
    dovecot_.pause();
    ASSERT_TRUE(wait_for_log("check mail ---> The reception of an IMAP confirmation [an IDLE end] message is "
                             "abnormal[no.0 error: 110]",
                             1, "err", 2 * kPatience))
        << diagnosis();
    dovecot_.resume();
    ASSERT_TRUE(wait_for_log(push_started(0), 2, "log", 2 * kPatience)) << diagnosis();

    std::size_t seen = lamp_.commands().size();
    deliver();
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
}

// Every connection the notifier opened ends with LOGOUT, on a stop and on the notifier's end.
TEST_F(Push, StopAndEndCloseEveryIdleConnection) {
    for (int i = 0; i < 3; ++i) {
        add_imap_account(i);
    }
    auto all_logged_out = [&] {
        std::string log = dovecot_.log();
        return count_of(log, "Login: user=") == count_of(log, "Disconnected: Logged out");
    };
    start_monitoring(3);
    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(count_of(log_text(dir_, "log"), "push --> The end[No." + std::to_string(i) + "]"), 1);
    }
    EXPECT_TRUE(wait_until(all_logged_out, kPatience)) << dovecot_.log();

    tool_write("Request", "1");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(wait_for_log(push_started(i), 2)) << diagnosis();
    }
    tool_write("Request", "99");
    EXPECT_EQ(notifier_->wait_exit(), 1);
    EXPECT_TRUE(wait_until(all_logged_out, kPatience)) << dovecot_.log();
}

// The scripted server says BYE a moment after every IDLE begins: each time the watcher closes, comes back after
// its backoff and has the monitor make a pass, since mail may have come while it was away.
TEST_F(Push, ByeInTheMiddleOfIdleIsFollowedByAReconnectionAndAPass) {
    const std::string port_file = dir_.path("imap.port");
    ChildProcess server({KD5LITE_IMAPSERVER, "--port-file", port_file, "--user", "taro:secret", "--from",
                         "Hanako <hanako@kd5lite.test>", "--transcript", dir_.path("imap.transcript"), "--fault",
                         "bye@IDLE", "--fault-delay", "300"},
                        {}, dir_.path("imap.out"));
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(port_file); }, kPatience));
    tool_write_account(0, "127.0.0.1:" + std::to_string(std::stoi(dir_.read("imap.port"))), "taro", "secret");
    tool_write("Protocol", "1", 0);
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");

    ASSERT_TRUE(
        wait_for_log("check mail ---> The IMAP server ended the connection [an IDLE command][no.0 error: ", 1, "err"))
        << diagnosis();
    ASSERT_TRUE(wait_for_log(push_started(0), 2)) << diagnosis();
    expect_lamp(seen, "CLS ON0 OF1 OF2 "); // the pass after the return; the message is no news, so no beep
    EXPECT_TRUE(notifier_->running());
}

// A push pass checks only the account whose watcher announced the change. The POP3 account beside it keeps the
// result of its last check: its maildrop has emptied meanwhile, yet its LED stays lit, its mail is not announced
// again, and its server sees no further login until the interval's pass.
TEST_F(Push, PushPassChecksOnlyTheChangedAccountAndLeavesThePop3LedAsItWas) {
    Pop3Program pop3(dir_, "alice", "secret");
    pop3.set_message_count(1);
    const std::string transcript = dir_.path("pop3.transcript");
    ASSERT_TRUE(pop3.start({"--transcript", transcript}));
    auto pop3_logins = [&] { return count_of(dir_.read("pop3.transcript"), "USER alice"); };
    add_imap_account(0);
    tool_write_account(1, pop3.server_name(), "alice", "secret");
    start_monitoring();
    // The first pass checks both; the watcher's start brings a pass of the IMAP account alone.
    std::size_t seen = expect_lamp(0, "CLS ON1 OF0 OF2 BEP ");
    seen = expect_lamp(seen, "CLS ON1 OF0 OF2 ");
    EXPECT_EQ(pop3_logins(), 1);

    pop3.set_message_count(0);
    deliver();
    seen = expect_lamp(seen, "CLS ON0 ON1 OF2 BEP ");
    ASSERT_TRUE(dovecot_.mark_all_read(kUsers[0])) << dovecot_.log();
    expect_lamp(seen, "CLS ON1 OF0 OF2 ");
    EXPECT_EQ(pop3_logins(), 1) << diagnosis();
    EXPECT_EQ(count_of(joined(lamp_.commands(), 0), "BEP"), 2) << diagnosis(); // the POP3 mail, the delivery
    EXPECT_EQ(count_of(joined(lamp_.commands(), 0), "OF1"), 0) << diagnosis();
}

} // namespace
