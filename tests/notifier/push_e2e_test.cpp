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

    // Into a folder as an MTA's Sieve fileinto does, through Dovecot's LDA.
    void deliver_to(const std::string& folder, const std::string& from = "Hanako <hanako@kd5lite.test>") {
        ASSERT_TRUE(dovecot_.deliver_to(kUsers[0], folder, "From: " + from + "\r\nSubject: Hello\r\n\r\nHi.\r\n"))
            << dovecot_.log();
    }

    void add_folders(std::initializer_list<const char*> folders) {
        for (const char* folder : folders) {
            ASSERT_TRUE(dovecot_.add_folder(kUsers[0], folder)) << folder << dovecot_.log();
        }
    }

    int logins() const { return count_of(dovecot_.log(), "Login: user=<" + std::string(kUsers[0]) + ">"); }

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
    EXPECT_EQ(count_of(joined(lamp_.commands(), 0), "BEP"), 1) << diagnosis();
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
    // The first pass checks both; the watcher's start brings a pass of the IMAP account alone, which may come
    // before the first pass has shown its lamp or after.
    expect_lamp(0, "CLS ON1 OF0 OF2 BEP ");
    ASSERT_TRUE(wait_until([&] { return count_of(joined(lamp_.commands(), 0), "CLS ON1 OF0 OF2 ") >= 2; }, kPatience))
        << diagnosis();
    std::size_t seen = lamp_.commands().size();
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

// Every folder of a Dovecot with Junk flagged \\Junk, on the one NOTIFY connection: a delivery into Junk lights
// nothing, one into Work lights the LED at once, reading it elsewhere puts it out while Junk's message waits, and
// one into a deeper folder lights it again; every count is taken on the push connection, with no login of its own.
TEST_F(Push, EveryFolderLightsForWorkAndSubfoldersByNotifyButNotForJunk) {
    add_folders({"Work", "Junk", "Lists/Rust"});
    add_imap_account(0);
    tool_write("Folders", "*", 0);
    start_monitoring();
    ASSERT_TRUE(wait_for_log("Email arrival of the mail push --> NOTIFY for 3 folders[No.0]", 1)) << diagnosis();
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");
    const int before = logins();

    deliver_to("Junk");
    deliver_to("Work");
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(dovecot_.mark_read(kUsers[0], "Work"));
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    deliver_to("Lists/Rust");
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    EXPECT_EQ(logins(), before) << diagnosis();
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// Without NOTIFY (a Dovecot that does not offer it), each of the first three folders gets an IDLE connection.
TEST(PushWithoutNotify, ASubfolderLightsTheLedByItsOwnIdle) {
    // The fixture's server offers NOTIFY; this one is made without.
    TempCorvo dir;
    LampSim lamp{[&] {
        std::filesystem::create_directory(dir.path("lamp"));
        return dir.path("lamp");
    }()};
    DovecotServer::Options options;
    options.capability = DovecotServer::kWithoutNotify;
    DovecotServer dovecot(options);
    dovecot.add_user("taro", "secret");
    ASSERT_TRUE(dovecot.start()) << dovecot.error() << dovecot.log();
    for (const char* folder : {"Work", "Lists", "Family"}) {
        ASSERT_TRUE(dovecot.add_folder("taro", folder));
    }
    tool_write("StateLog", "1");
    tool_write("ErrorLog", "1");
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "60");
    tool_write_account(0, dovecot.server_name(), "taro", "secret");
    tool_write("Protocol", "1", 0);
    tool_write("Folders", "\"Work\" \"Lists\" \"INBOX\" \"Family\"", 0);
    NotifierProcess notifier(dir);
    ASSERT_TRUE(wait_until([&] { return file_key(dir, "State") == "2"; }, kPatience));
    tool_write("Request", "1");
    ASSERT_TRUE(wait_until(
        [&] { return count_of(log_text(dir, "log"), "push --> IDLE for 3 folders, 1 at the interval[No.0]") == 1; },
        kPatience))
        << log_text(dir, "log") << dovecot.log();
    // Each connection counts its folder as it comes up, so a delivery into Work lights the LED whether it came
    // before Work's IDLE began or after; the next, into Lists, comes by Lists's own IDLE.
    std::size_t seen = lamp.commands().size();
    ASSERT_TRUE(dovecot.deliver_to("taro", "Work", "From: a@b\r\nSubject: w\r\n\r\nx\r\n"));
    auto lit = [&](std::size_t from) {
        return wait_until(
            [&] { return joined(lamp.commands(), from).find("CLS ON0 OF1 OF2 BEP ") != std::string::npos; }, kPatience);
    };
    EXPECT_TRUE(lit(seen)) << joined(lamp.commands(), 0) << log_text(dir, "err") << log_text(dir, "log");
    seen = lamp.commands().size();
    ASSERT_TRUE(dovecot.deliver_to("taro", "Lists", "From: a@b\r\nSubject: l\r\n\r\nx\r\n"));
    EXPECT_TRUE(lit(seen)) << joined(lamp.commands(), 0) << log_text(dir, "log");
    // Three watching, and the first pass's: none for the passes the deliveries brought.
    EXPECT_LE(count_of(dovecot.log(), "Login: user=<taro>"), 4) << dovecot.log();
}

// Acknowledged mail in two folders stays acknowledged across a restart of the notifier; then one message read
// elsewhere and one new one (the count is the same as before) light the LED again, since the acknowledge knows the
// messages by UID and not by their number.
TEST_F(Push, AcknowledgeInTwoFoldersSurvivesARestartAndOneReadPlusOneNewRelights) {
    add_folders({"Work"});
    add_imap_account(0);
    tool_write("Folders", "\"INBOX\" \"Work\"", 0);
    deliver();
    deliver_to("Work");
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    tool_write("Request", "5");
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");

    tool_write("Request", "99");
    ASSERT_EQ(notifier_->wait_exit(), 1);
    notifier_ = std::make_unique<NotifierProcess>(dir_);
    ASSERT_TRUE(wait_for_log("neutral", 2)) << diagnosis(); // the new one's start, not the old one's State
    tool_write("Request", "1");
    ASSERT_TRUE(wait_for_log(push_started(0), 2)) << diagnosis();
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_EQ(joined(lamp_.commands(), seen).find("ON0"), std::string::npos) << diagnosis();

    ASSERT_TRUE(dovecot_.mark_read(kUsers[0], "INBOX"));
    deliver_to("Work");
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
}

// A folder of the list deleted on the server: at the next interval it is left out with one error line, and the
// account goes on: a delivery into another folder still lights the LED.
TEST_F(Push, AFolderDeletedOnTheServerIsLeftOutWithOneLine) {
    add_folders({"Work", "Lists/Rust"});
    add_imap_account(0);
    tool_write("Folders", "\"INBOX\" \"Work\" \"Lists/Rust\"", 0);
    tool_write("IntervalTimer", "1");
    start_monitoring();
    ASSERT_TRUE(dovecot_.delete_folder(kUsers[0], "Lists/Rust"));
    const std::string gone = "check mail ---> The IMAP folder is gone and is left out [Lists/Rust][no.0 error: 2]";
    ASSERT_TRUE(wait_for_log(gone, 1, "err")) << diagnosis();
    std::size_t seen = lamp_.commands().size();
    deliver_to("Work");
    expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    // Two more interval passes: the line is not written again.
    const int passes = count_of(log_text(dir_, "log"), "There is email arrival of the mail");
    ASSERT_TRUE(
        wait_until([&] { return count_of(log_text(dir_, "log"), "There is email arrival") >= passes + 2; }, kPatience))
        << diagnosis();
    EXPECT_EQ(count_of(log_text(dir_, "err"), gone), 1) << diagnosis();
}

} // namespace
