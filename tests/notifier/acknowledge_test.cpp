// SPDX-License-Identifier: GPL-3.0-or-later
// The acknowledge (已读): the memory's rules as a table, its state file, and the story on a real lamp simulator
// with a POP3 server program and a real Dovecot.

#include "notifier/acknowledge.h"
#include "notifier/acknowledge_memory.h"
#include "notifier/jobs.h"

#include "lamp/lamp.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace {

const AccountIdentity kAnn{"pop.example.org", "ann", "0/"};

CheckIds named(std::vector<std::string> ids, std::string validity = "") {
    CheckIds c;
    c.known = true;
    c.validity = std::move(validity);
    for (auto& id : ids) {
        c.messages.push_back({std::move(id), 1});
    }
    return c;
}

CheckIds unnamed() {
    return CheckIds{};
}

// Each row acknowledges what one check saw, then filters a later check. Catches acknowledged mail that lights the
// lamp again, new mail hidden by an acknowledge, and a memory that outlives its mailbox.
TEST(AckMemory, LaterChecksCountOnlyWhatCameAfter) {
    struct Case {
        const char* what;
        long long acked_count;
        CheckIds acked;
        AccountIdentity later_identity;
        long long later_count;
        CheckIds later;
        long long shown;
        AckMemory::Kind kept;
    } cases[] = {
        {"same mail", 2, named({"a", "b"}), kAnn, 2, named({"a", "b"}), 0, AckMemory::Kind::ids},
        {"one new", 2, named({"a", "b"}), kAnn, 3, named({"a", "b", "c"}), 1, AckMemory::Kind::ids},
        {"one taken away", 2, named({"a", "b"}), kAnn, 1, named({"b"}), 0, AckMemory::Kind::ids},
        {"all taken away", 2, named({"a", "b"}), kAnn, 1, named({"c"}), 1, AckMemory::Kind::none},
        {"other server", 2, named({"a", "b"}), {"imap.example.org", "ann", "0/"}, 2, named({"a", "b"}), 2,
         AckMemory::Kind::none},
        {"other user", 2, named({"a", "b"}), {"pop.example.org", "bob", "0/"}, 2, named({"a", "b"}), 2,
         AckMemory::Kind::none},
        {"other folder", 1, named({"7"}, "1"), {"pop.example.org", "ann", "1/Work"}, 1, named({"7"}, "1"), 1,
         AckMemory::Kind::none},
        {"same UIDVALIDITY", 1, named({"7"}, "1"), kAnn, 2, named({"7", "8"}, "1"), 1, AckMemory::Kind::ids},
        {"folder rebuilt", 1, named({"7"}, "1"), kAnn, 1, named({"7"}, "2"), 1, AckMemory::Kind::none},
        {"no UIDL, same count", 3, unnamed(), kAnn, 3, unnamed(), 0, AckMemory::Kind::count},
        {"no UIDL, more", 3, unnamed(), kAnn, 5, unnamed(), 2, AckMemory::Kind::count},
        {"no UIDL, fewer", 3, unnamed(), kAnn, 1, unnamed(), 0, AckMemory::Kind::count},
        {"no UIDL, none left", 3, unnamed(), kAnn, 0, unnamed(), 0, AckMemory::Kind::none},
        {"UIDL gone this time", 2, named({"a", "b"}), kAnn, 3, unnamed(), 1, AckMemory::Kind::ids},
    };
    for (const Case& c : cases) {
        AckMemory m;
        acknowledge(m, kAnn, c.acked_count, c.acked);
        bool changed = false;
        EXPECT_EQ(count_after_ack(m, c.later_identity, c.later_count, c.later, &changed), c.shown) << c.what;
        EXPECT_EQ(m.kind, c.kept) << c.what;
    }
}

// "Fewer than then lower it": after the count fell to 1, a second message is new.
TEST(AckMemory, ByCountAFallLowersWhatIsAcknowledged) {
    AckMemory m;
    acknowledge(m, kAnn, 3, unnamed());
    EXPECT_EQ(count_after_ack(m, kAnn, 1, unnamed(), nullptr), 0);
    EXPECT_EQ(count_after_ack(m, kAnn, 2, unnamed(), nullptr), 1);
}

// Sender hits weigh: an acknowledged message with hits no longer counts, a new one counts its hits.
TEST(AckMemory, WeightsAreTheSenderHits) {
    CheckIds seen = named({"a"});
    seen.messages[0].weight = 2;
    AckMemory m;
    acknowledge(m, kAnn, 2, seen);
    seen.messages.push_back({"b", 3});
    EXPECT_EQ(count_after_ack(m, kAnn, 5, seen, nullptr), 3);
}

TEST(AckFile, RoundTripAndRefusals) {
    AckMemory accounts[3];
    acknowledge(accounts[0], kAnn, 2, named({"a", "b"}));
    acknowledge(accounts[2], {"imap.example.org", "ann", "1/"}, 4, unnamed());
    const std::string text = ack_file_text(accounts);
    AckMemory back[3];
    ack_file_parse(text, back);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i], accounts[i]) << i;
    }
    // Any fault leaves every account without memory: a lamp that lights again, never one that stays dark.
    const std::string refused[] = {
        "",
        "kd5lite acknowledged 2\n",
        text.substr(0, text.size() - 1),                         // cut short by a crash
        text + "account 0 ids\n",                                // one account twice
        "kd5lite acknowledged 1\naccount 3 ids\n",                // no such account
        "kd5lite acknowledged 1\naccount 0 ids\nserver s\nuser u\nfolder f\nvalidity \ncount 0\nend\n", // no ids
        "kd5lite acknowledged 1\naccount 0 count\nserver s\nuser u\nfolder f\nvalidity \ncount -1\nend\n",
        "kd5lite acknowledged 1\naccount 0 ids\nserver s\nuser u\nfolder f\nvalidity \ncount 0\nid a b\nend\n",
        "kd5lite acknowledged 1\naccount 0 ids\nserver s\nuser u\nfolder f\nvalidity \ncount 0\nid " +
            std::string(71, 'x') + "\nend\n",
        std::string("kd5lite acknowledged 1\naccount 0 ids\nserver s\0x\nuser u\n", 40),
    };
    for (const std::string& bad : refused) {
        AckMemory out[3];
        out[1].kind = AckMemory::Kind::count;
        ack_file_parse(bad, out);
        for (const AckMemory& m : out) {
            EXPECT_EQ(m.kind, AckMemory::Kind::none) << bad;
        }
    }
}

// The monitor on the lamp simulator, run in process so that the test can acknowledge as the tray menu does.
class Acknowledge : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t = scaled_timing(0.02);
        t.monitor_steps_per_min = 3;
        // The lamp's own waits stay real: a loaded machine answers slower than a scaled read time-out allows.
        const Timing real;
        t.usb_poll_ms = real.usb_poll_ms;
        t.usb_read_timeout_ms = real.usb_read_timeout_ms;
        t.usb_write_timeout_ms = real.usb_write_timeout_ms;
        set_timing(t);
        ack_reset_for_test();
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "1");
        tool_write("BeepTime", "1");
        g_lamp = LampState{};
        for (int& n : last_count) {
            n = 0;
        }
    }
    void TearDown() override {
        stop_monitor();
        set_timing(Timing{});
        ack_reset_for_test();
    }

    void start_monitor() {
        tool_write("Request", "1");
        settings_put(Key::Answer, "1");
        settings_put(Key::State, "1");
        ini_read_all();
        std::promise<void> ended;
        monitor_ = ended.get_future();
        std::thread([ended = std::move(ended)]() mutable {
            mail_monitor();
            ended.set_value();
        }).detach();
    }
    void stop_monitor() {
        if (monitor_.valid()) {
            tool_write("Request", "4");
            ASSERT_EQ(monitor_.wait_for(std::chrono::milliseconds(kPatience)), std::future_status::ready);
            monitor_ = {};
        }
    }
    // A new notifier process: what it knows of acknowledges comes from the state file alone.
    void restart() {
        stop_monitor();
        ack_reset_for_test();
        start_monitor();
    }
    std::string lamp_since(std::size_t from) const {
        std::string text;
        auto commands = lamp_.commands();
        for (std::size_t i = from; i < commands.size(); ++i) {
            text += commands[i] + " ";
        }
        return text;
    }
    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen = wait_until([&] { return lamp_since(from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' got '" << lamp_since(from) << "'\n"
                          << log_text(dir_, "err");
        return lamp_.commands().size();
    }
    // Acknowledges as the tray menu does, once a pass has seen mail.
    void acknowledge_account(int account) {
        ASSERT_TRUE(wait_until([&] { return ack_possible(account); }, kPatience));
        ASSERT_TRUE(ack_account(account));
    }

    TempCorvo dir_;
    std::string lamp_dir_ = [this] {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }();
    LampSim lamp_{lamp_dir_};
    std::future<void> monitor_;
};

TEST_F(Acknowledge, Pop3LedGoesOutNewMailRelightsAndTheMemorySurvivesARestart) {
    Pop3Program pop3(dir_, "taro", "secret");
    pop3.set_message_count(2);
    ASSERT_TRUE(pop3.start({"--transcript", dir_.path("transcript")}));
    tool_write_account(0, pop3.server_name(), "taro", "secret");
    start_monitor();
    std::size_t seen = expect_lamp(0, "ON0 OF1 OF2 BEP ");
    acknowledge_account(0);
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    struct stat st {};
    ASSERT_EQ(stat(ack_file_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    restart();
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 CLS OF0 OF1 OF2 "); // two passes after the restart: still out
    pop3.set_message_count(3);
    expect_lamp(seen, "ON0 OF1 OF2 BEP ");
    // Headers were read for new mail only: two at the start, one at the end; never for acknowledged mail.
    const std::string commands = dir_.read("transcript");
    EXPECT_EQ(count_of(commands, "TOP "), 3) << commands;
    EXPECT_EQ(count_of(commands, "TOP 3 0"), 1) << commands;
    EXPECT_EQ(log_text(dir_, "err"), "");
}

TEST_F(Acknowledge, Pop3WithoutUidlGoesByTheCount) {
    Pop3Program pop3(dir_, "taro", "secret");
    pop3.set_message_count(2);
    ASSERT_TRUE(pop3.start({"--reply", "UIDL=-ERR not here"}));
    tool_write_account(0, pop3.server_name(), "taro", "secret");
    start_monitor();
    std::size_t seen = expect_lamp(0, "ON0 OF1 OF2 BEP ");
    acknowledge_account(0);
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    pop3.set_message_count(1); // fewer: lowers what is acknowledged
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    pop3.set_message_count(2); // more than then: lit
    expect_lamp(seen, "ON0 OF1 OF2 BEP ");
}

TEST_F(Acknowledge, ImapLedGoesOutWithoutAnyFlagChangingAndNewMailRelights) {
    DovecotServer dovecot;
    dovecot.add_user("alice", "secret");
    ASSERT_TRUE(dovecot.start()) << dovecot.error();
    ASSERT_TRUE(dovecot.deliver("alice", "From: Taro <taro@example.com>\r\nSubject: one\r\n\r\nbody\r\n"));
    tool_write_account(0, dovecot.server_name(), "alice", "secret");
    tool_write("Protocol", "1", 0);
    start_monitor();
    std::size_t seen = expect_lamp(0, "ON0 OF1 OF2 BEP ");
    const std::string flags = dovecot.flags("alice");
    acknowledge_account(0);
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_EQ(dovecot.flags("alice"), flags);
    EXPECT_EQ(flags.find("\\Seen"), std::string::npos) << flags;

    restart();
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 CLS OF0 OF1 OF2 ");
    ASSERT_TRUE(dovecot.deliver("alice", "From: Hana <hana@example.com>\r\nSubject: two\r\n\r\nbody\r\n"));
    expect_lamp(seen, "ON0 OF1 OF2 BEP ");
    EXPECT_EQ(dovecot.flags("alice").find("\\Seen"), std::string::npos);
    EXPECT_EQ(log_text(dir_, "err"), "");
}

} // namespace
