// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite binary checking an IMAP account on a real Dovecot whose password is only in a real GNOME
// Keyring: the settings file names the keyring and holds no password. A keyring locked while monitoring runs must
// neither hang a pass nor put the LED out: the pass writes its error line, keeps the LED, and asks again next time.

#include "credentials/secret_store.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/keyring_session.h"
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr char kPassword[] = "only-in-the-keyring-7";
constexpr char kLocked[] = "check mail ---> The keyring is locked[no.0 error: 13]";

std::string joined(const std::vector<std::string>& commands, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

class KeyringMonitoring : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(keyring_.start()) << keyring_.error();
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "1"); // a minute, shortened by the timing record to about a second
        tool_write("BeepTime", "1");
        dovecot_.add_user("alice", kPassword);
        ASSERT_TRUE(dovecot_.start()) << dovecot_.error();
        // The account as the setup program stores it when a keyring is there.
        tool_write("Switch", "1", 0);
        tool_write("ServerName", dovecot_.server_name().c_str(), 0);
        tool_write("ID", "alice", 0);
        tool_write("Password", "", 0);
        tool_write("Scramble", "", 0);
        tool_write("Protocol", "1", 0);
        tool_write("SecretStore", "1", 0);
        const SecretKey key = {dovecot_.server_name(), "alice", "imap", SecretKind::password};
        ASSERT_EQ(secret_save(key, kPassword, SecretUnlock::never, kPatience), SecretResult::ok);
        ASSERT_TRUE(dovecot_.deliver("alice", "From: Taro <taro@example.com>\r\nSubject: one\r\n\r\nbody\r\n"));
    }

    void start_monitoring() {
        notifier_ = std::make_unique<NotifierProcess>(dir_);
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience));
        tool_write("Request", "1");
    }

    std::string diagnosis() const {
        return "lamp: " + joined(lamp_.commands(), 0) + "\nerr:\n" + log_text(dir_, "err") + "log:\n" +
               log_text(dir_, "log") + "notifier:\n" + notifier_->output();
    }

    // Waits until the lamp has received `expected` after command number `from`; returns the new command count.
    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen =
            wait_until([&] { return joined(lamp_.commands(), from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' since command " << from << "\n" << diagnosis();
        return lamp_.commands().size();
    }

    bool wait_for_error(const std::string& line, int times) {
        return wait_until([&] { return count_of(log_text(dir_, "err"), line) >= times; }, kPatience);
    }

    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    KeyringSession keyring_;
    TempCorvo dir_;
    LampSim lamp_{lamp_dir()};
    DovecotServer dovecot_;
    std::unique_ptr<NotifierProcess> notifier_;
};

TEST_F(KeyringMonitoring, PasswordOnlyInTheKeyringLogsInAndLightsTheLed) {
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(dovecot_.mark_all_read("alice"));
    expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    EXPECT_EQ(log_text(dir_, "err").find("check mail --->"), std::string::npos) << diagnosis();
    // The notifier's own load, check and save left the password where the setup program put it.
    const std::string settings = dir_.read("corvo_kd5lite.ini");
    EXPECT_EQ(settings.find(kPassword), std::string::npos);
    EXPECT_EQ(file_key(dir_, "Password", 0), "");
    EXPECT_EQ(file_key(dir_, "SecretStore", 0), "1");
}

TEST_F(KeyringMonitoring, LockedKeyringKeepsTheLedWritesTheErrorLineAndDoesNotHang) {
    start_monitoring();
    std::size_t seen = expect_lamp(0, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(keyring_.lock());
    // A pass that read the password before the lock may still be running; once the first error line is written,
    // every pass asks the locked keyring.
    ASSERT_TRUE(wait_for_error(kLocked, 1)) << diagnosis();
    // Read elsewhere: a pass that could check would put the LED out. These passes cannot, and keep it lit.
    ASSERT_TRUE(dovecot_.mark_all_read("alice"));
    seen = lamp_.commands().size();
    const int before = count_of(log_text(dir_, "err"), kLocked);
    ASSERT_TRUE(wait_for_error(kLocked, before + 1)) << diagnosis(); // every pass asks again
    expect_lamp(seen, "CLS ON0 OF1 OF2 ");
    EXPECT_EQ(joined(lamp_.commands(), seen).find("OF0"), std::string::npos) << diagnosis();

    tool_write("Request", "4"); // the monitor still answers at once
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience)) << diagnosis();
    EXPECT_TRUE(notifier_->running());
}

} // namespace
