// SPDX-License-Identifier: GPL-3.0-or-later
// kd5lite --check, the real binary against the lamp simulator and the POP3 server program: each story gives its
// line and its exit status, and none of them changes the settings file or writes a log.

#include "credentials/secret_store.h"
#include "settings/refresh_token.h"
#include "tests/mail/test_pki.h"
#include "tests/notifier/check/check_fixture.h"
#include "tests/support/keyring_session.h"

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST_F(Check, AllWellAnswersEveryPartAndWritesNothing) {
    serve();
    const std::string before = dir_.read("corvo_kd5lite.ini");
    ASSERT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("ok   notifier: runs and monitors mail\n")) << output_;
    EXPECT_TRUE(says("info lamp: not opened: the running notifier holds it")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): 127.0.0.1 is 127.0.0.1; port ")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): TCP connection to 127.0.0.1")) << output_;
    EXPECT_TRUE(says("warn account 1 (red): no TLS")) << output_;
    EXPECT_TRUE(says("info account 1 (red): password in the settings file, scrambled")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): POP3 login accepted; count 3 (messages waiting)")) << output_;
    EXPECT_TRUE(says("info settings: state log off, error log on")) << output_;
    EXPECT_TRUE(output_.ends_with("Everything monitoring needs works.\n")) << output_;
    // The order of the report: settings, notifier, lamp, accounts, sound.
    EXPECT_LT(output_.find("settings:"), output_.find("notifier:"));
    EXPECT_LT(output_.find("notifier:"), output_.find("lamp:"));
    EXPECT_LT(output_.find("lamp:"), output_.find("account 1"));
    EXPECT_LT(output_.find("account 1"), output_.find("sound:"));
    EXPECT_TRUE(lamp_.commands().empty());
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini"), before);
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// Everything else working is not enough: the lamp lights only while a notifier monitors. Each state of the
// notifier gives its line, with what to do, and only monitoring lets the check pass.
TEST_F(Check, TheNotifiersStateDecidesWhetherTheLampWouldLight) {
    struct Row {
        const char* story;
        std::function<void(Check&)> arrange;
        int status;
        const char* line;
    };
    const Row rows[] = {
        {"none runs, monitoring was never started",
         [](Check& t) {
             t.notifier_gone();
             tool_write("State", "2");
             tool_write("Job", "0");
         },
         1, "FAIL notifier: none runs for you: start kd5lite (from the menu, or log in again), then press 开始使用 "
            "(kd5lite_ap or kd5lite_op, 服务 tab)\n"},
        {"none runs, it was monitoring when it ended",
         [](Check& t) {
             t.notifier_gone();
             tool_write("Job", "101");
         },
         1, "FAIL notifier: none runs for you: start kd5lite (from the menu, or log in again); it goes on monitoring\n"},
        {"runs, never asked to monitor", [](Check& t) { t.notifier_monitors("2", "0", "0"); }, 1,
         "FAIL notifier: runs, but does not monitor mail (停止中): press 开始使用 (kd5lite_ap or kd5lite_op, 服务 tab)\n"},
        {"runs, monitoring stopped", [](Check& t) { t.notifier_monitors("2", "104", "4"); }, 1,
         "FAIL notifier: runs, but does not monitor mail (停止中)"},
        {"runs the lamp test", [](Check& t) { t.notifier_monitors("1", "102", "2"); }, 1,
         "FAIL notifier: runs the lamp connection test, not the mail monitor: press 测试结束 (kd5lite_ap, 测试 tab)"},
        {"runs, starting up", [](Check& t) { t.notifier_monitors("0", "0", "0"); }, 1,
         "FAIL notifier: runs, but has not started up yet"},
        {"runs with a fault", [](Check& t) { t.notifier_monitors("5", "101", "1"); }, 1,
         "FAIL notifier: runs, but reports a fault (故障中, State 5)"},
        {"monitors, state log off", [](Check& t) { t.notifier_monitors(); }, 0,
         "ok   notifier: runs and monitors mail\ninfo notifier: the state log is off, so when it last checked is not "
         "known (kd5lite_ap, 日志 tab)\n"},
        {"monitors, state log on",
         [](Check& t) {
             t.notifier_monitors();
             tool_write("StateLog", "1");
             t.dir_.write("log07.log",
                          "12/07 09:00:02 Email arrival of the mail monitor --> A start\r\n"
                          "12/07 09:00:05 Email arrival of the mail confirmation --> Status:  Email arrival of the "
                          "mail nothing[No.0]\r\n");
         },
         0, "info notifier: last checked at 12/07 09:00:05 (its state log)\n"},
    };
    serve();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.story);
        row.arrange(*this);
        const std::string before = dir_.read("corvo_kd5lite.ini");
        EXPECT_EQ(check(), row.status) << output_;
        EXPECT_TRUE(says(row.line)) << output_;
        EXPECT_EQ(count_of("\n" + output_, "\nFAIL "), row.status) << output_;
        EXPECT_TRUE(output_.ends_with(row.status == 0 ? "Everything monitoring needs works.\n"
                                                      : "Monitoring cannot work until each FAIL line is mended.\n"))
            << output_;
        EXPECT_EQ(dir_.read("corvo_kd5lite.ini"), before);
    }
    // Without a notifier the check opens the lamp itself: one command and its answer, which switches off an LED
    // left lit, and the report says so.
    EXPECT_EQ(lamp_.commands(), (std::vector<std::string>{"CLS", "CLS"}));
    notifier_gone();
    check();
    EXPECT_TRUE(says("ok   lamp: all LEDs off, answer 'Y'\ninfo lamp: the check switched off any LED left lit"))
        << output_;
}

// Each fault gives its one FAIL line and exit status 1.
TEST_F(Check, EachFaultNamesItsCauseAndFails) {
    struct Row {
        const char* fault;
        std::function<void(Check&)> arrange;
        const char* line;
    };
    const Row rows[] = {
        {"no serial entry", [](Check&) { tool_write("SerialNumber", "XNOSUCH1"); },
         "FAIL lamp: no adapter with serial NOSUCH1 in "},
        {"no serial number", [](Check&) { tool_write("SerialNumber", "X"); }, "FAIL lamp: no serial number set"},
        {"wrong password", [](Check& t) { tool_write_account(0, t.pop3_.server_name(), "taro", "wrong"); },
         "FAIL account 1 (red): the server refused the login: check the ID and type the password again (kd5lite_ap, "
         "账户 tab)\n"},
        {"server down", [](Check& t) { t.pop3_.stop(); }, "FAIL account 1 (red): nothing listens on 127.0.0.1:"},
        {"no account", [](Check&) { tool_write("Switch", "0", 0); }, "FAIL accounts: none switched on"},
        {"OAuth2 in clear",
         [](Check&) {
             tool_write("Auth", "1", 0);
             tool_write("OAuthSource", "3", 0);
             tool_write("TokenCommand", "/bin/true", 0);
         },
         "OAuth2 is refused without TLS: Security must be 1 or 2[no.0 error: 1]: choose Security 1 or 2 for the "
         "account (kd5lite_op, 连接 tab)"},
        {"settings directory others may write", [](Check& t) { chmod(t.dir_.dir().c_str(), 0770); },
         "may be written by its group or by others; make it yours alone with: chmod go-w "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        chmod(dir_.dir().c_str(), 0700);
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("Auth", "0", 0);
        serve();
        row.arrange(*this);
        EXPECT_EQ(check(), 1) << output_;
        EXPECT_TRUE(says(row.line)) << output_;
        EXPECT_EQ(count_of("\n" + output_, "\nFAIL "), 1) << output_;
        EXPECT_TRUE(output_.ends_with("Monitoring cannot work until each FAIL line is mended.\n")) << output_;
    }
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// A settings file the user cannot read stops the report there: everything after it would only repeat it.
TEST_F(Check, UnreadableSettingsFileFailsFirst) {
    serve();
    const std::string path = dir_.settings_path();
    if (geteuid() == 0) {
        // Permissions do not stop root; a directory in the file's place cannot be read by anyone.
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
    } else {
        chmod(path.c_str(), 0);
    }
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL settings: cannot read " + path + " (")) << output_;
    EXPECT_FALSE(says("lamp:")) << output_;
    EXPECT_TRUE(lamp_.commands().empty());

    // A FIFO in the file's place must not hang the check: it is no regular file.
    std::filesystem::remove_all(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL settings: cannot read " + path + " (not a regular file)")) << output_;
}

TEST_F(Check, UntrustedCertificateIsRefusedWithItsFingerprintAndPinnedOneTaken) {
    std::filesystem::create_directory(dir_.path("pki"));
    TestAuthority::Issued home = TestAuthority::self_signed(dir_.path("pki"), "home", "IP:127.0.0.1");
    serve({"--tls", "implicit", "--cert", home.certificate_file, "--key", home.key_file});
    tool_write("Security", "2", 0);
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL account 1 (red): TLSv1.3, CN=home, sha256 " + home.fingerprint +
                     ", not trusted (self-signed certificate): if the server is yours, pin this fingerprint"))
        << output_;
    EXPECT_FALSE(says("POP3 login")) << output_; // nothing of the account is sent to an untrusted server

    tool_write("TlsFingerprint", home.fingerprint.c_str(), 0);
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): TLSv1.3, CN=home, sha256 " + home.fingerprint + ", pinned")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): POP3 login accepted; count 3")) << output_;
}

// While the notifier holds its single-instance lock, the check does not open the lamp.
TEST_F(Check, RunningNotifierKeepsTheLamp) {
    serve();
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("info lamp: not opened: the running notifier holds it")) << output_;
    EXPECT_TRUE(lamp_.commands().empty());
}

// An FTDI adapter whose product id the serial driver does not know: no tty, so no by-id entry. The report gives
// the command that binds it and the rule that binds it for good.
TEST_F(Check, UnknownProductIdGetsTheBindCommandAndTheRule) {
    serve();
    tool_write("SerialNumber", "XFT9Z");
    const std::string device = dir_.path("sys/bus/usb/devices/1-2");
    std::filesystem::create_directories(device + "/1-2:1.0");
    dir_.write("sys/bus/usb/devices/1-2/idVendor", "0403\n");
    dir_.write("sys/bus/usb/devices/1-2/idProduct", "f0e9\n");
    dir_.write("sys/bus/usb/devices/1-2/serial", "FT9Z\n");
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL lamp: USB device 0403 f0e9 with serial FT9Z has no serial driver; bind it now, as root: "
                     "echo 0403 f0e9 > /sys/bus/usb-serial/drivers/ftdi_sio/new_id\n"))
        << output_;
    EXPECT_TRUE(says("ATTR{idVendor}==\"0403\", ATTR{idProduct}==\"f0e9\"")) << output_;
}

// With buzzer time 0 each account's wave file announces its mail; a missing or broken one is worth a warning, but
// monitoring works without it.
TEST_F(Check, WaveFileFaultsWarnWithoutFailing) {
    serve();
    tool_write("BeepTime", "0");
    const std::string missing = dir_.path("gone.wav");
    tool_write("SoundFile", missing.c_str(), 0);
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("warn sound: account 1: " + missing + " does not exist or is not readable")) << output_;

    dir_.write("notes.wav", "not a sound");
    tool_write("SoundFile", dir_.path("notes.wav").c_str(), 0);
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("warn sound: account 1: " + dir_.path("notes.wav") + " is not a wave file")) << output_;
}

// An IMAP account goes the same way: its own port, its own login, its count of unseen messages.
TEST_F(Check, ImapAccountIsCheckedByItsOwnProtocol) {
    const std::string port_file = dir_.path("imap.port");
    ChildProcess server({KD5LITE_IMAPSERVER, "--port-file", port_file, "--user", "hanako:secret", "--from",
                         "a@example.org", "--from", "b@example.org"},
                        {}, dir_.path("imap.out"));
    ASSERT_TRUE(wait_until([&] { return dir_.exists("imap.port"); }, kPatience));
    tool_write_account(1, "127.0.0.1:" + std::to_string(std::stoi(dir_.read("imap.port"))), "hanako", "secret");
    tool_write("Protocol", "1", 1);
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("ok   account 2 (green): IMAP login accepted; count 2 (unseen messages)")) << output_;
    EXPECT_TRUE(says("ok   account 2 (green): push: the server offers IDLE; while monitoring runs, a change reaches "
                     "the LED at once"))
        << output_;

    // A server without IDLE: the check says that only the interval will bring the checks.
    ChildProcess no_idle({KD5LITE_IMAPSERVER, "--port-file", dir_.path("plain.port"), "--user", "hanako:secret",
                          "--capability", "IMAP4rev1 AUTH=PLAIN"},
                         {}, dir_.path("plain.out"));
    ASSERT_TRUE(wait_until([&] { return dir_.exists("plain.port"); }, kPatience));
    tool_write_account(1, "127.0.0.1:" + std::to_string(std::stoi(dir_.read("plain.port"))), "hanako", "secret");
    EXPECT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("info account 2 (green): no push: the server does not offer IDLE; the interval alone brings "
                     "the checks (IntervalTimer, kd5lite_ap)"))
        << output_;

    tool_write("Protocol", "7", 1);
    EXPECT_EQ(check(), 1) << output_;
    EXPECT_TRUE(says("FAIL account 2 (green): the account's Protocol key is neither 0 (POP3) nor 1 (IMAP)")) << output_;
}

// Security 1 asks the server on the plain port for TLS in each protocol's own words (STLS, STARTTLS) before the
// login; the pinned certificate then shows in the report.
TEST_F(Check, TlsAskedForOnThePlainPortInEachProtocol) {
    std::filesystem::create_directory(dir_.path("pki"));
    TestAuthority::Issued home = TestAuthority::self_signed(dir_.path("pki"), "home", "IP:127.0.0.1");
    const std::vector<std::string> tls = {"--cert", home.certificate_file, "--key", home.key_file};
    serve({"--tls", "stls", tls[0], tls[1], tls[2], tls[3]});
    tool_write("Security", "1", 0);
    tool_write("TlsFingerprint", home.fingerprint.c_str(), 0);

    ChildProcess imap({KD5LITE_IMAPSERVER, "--port-file", dir_.path("imap.port"), "--user", "hanako:secret", "--from",
                       "a@example.org", "--tls", "starttls", tls[0], tls[1], tls[2], tls[3]},
                      {}, dir_.path("imap.out"));
    ASSERT_TRUE(wait_until([&] { return dir_.exists("imap.port"); }, kPatience));
    tool_write_account(1, "127.0.0.1:" + std::to_string(std::stoi(dir_.read("imap.port"))), "hanako", "secret");
    tool_write("Protocol", "1", 1);
    tool_write("Security", "1", 1);
    tool_write("TlsFingerprint", home.fingerprint.c_str(), 1);

    EXPECT_EQ(check(), 0) << output_;
    for (const char* account : {"account 1 (red)", "account 2 (green)"}) {
        EXPECT_TRUE(
            says(std::string("ok   ") + account + ": TLSv1.3, CN=home, sha256 " + home.fingerprint + ", pinned"))
            << output_;
    }
    EXPECT_TRUE(says("ok   account 1 (red): POP3 login accepted; count 3 (messages waiting)")) << output_;
    EXPECT_TRUE(says("ok   account 2 (green): IMAP login accepted; count 1 (unseen messages)")) << output_;
}

// A password kept in the keyring: the report says where it lives and whether it can be read, and logs in with it.
// A keyring without it, a locked one or none at all is the account's one FAIL, before any server is asked.
TEST_F(Check, PasswordInTheKeyringIsReadOrWhatStopsItNamed) {
    KeyringSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.error();
    serve();
    tool_write("Password", "", 0);
    tool_write("Scramble", "", 0);
    tool_write("SecretStore", "1", 0);
    const SecretKey key = {pop3_.server_name(), "taro", "pop3", SecretKind::password};
    const std::string where = "account 1 (red): password in the desktop keyring (" + secret_label(key) + ")";

    struct Row {
        const char* story;
        std::function<void()> arrange;
        int status;
        std::string line;
    };
    std::unique_ptr<KeyringSession> headless;
    const Row rows[] = {
        {"not stored yet", [] {}, 1,
         "FAIL " + where + ", not readable: the keyring holds no such secret: it holds no password for this account"},
        {"stored",
         [&] { ASSERT_EQ(secret_save(key, "secret", SecretUnlock::never, kPatience), SecretResult::ok); }, 0,
         "ok   " + where + ", readable"},
        {"locked", [&] { ASSERT_TRUE(keyring.lock()); }, 1,
         "FAIL " + where + ", not readable: the keyring is locked: unlock it"},
        {"no session bus",
         [&] {
             headless = std::make_unique<KeyringSession>(KeyringSession::Desktop::no_bus);
             ASSERT_TRUE(headless->start());
         },
         1, "FAIL " + where + ", not readable: no keyring is running"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.story);
        row.arrange();
        EXPECT_EQ(check(), row.status) << output_;
        EXPECT_TRUE(says(row.line)) << output_;
        if (row.status == 0) {
            EXPECT_TRUE(says("ok   account 1 (red): POP3 login accepted; count 3 (messages waiting)")) << output_;
        } else {
            EXPECT_EQ(count_of("\n" + output_, "\nFAIL "), 1) << output_;
            EXPECT_FALSE(says("account 1 (red): TCP connection")) << output_;
        }
    }
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini").find("secret"), std::string::npos);
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// An account signed in with the browser: the report says where its refresh token lives and whether it can be
// read, as it does for a password. Not signed in, a locked keyring or no item is the account's FAIL before any
// server is asked; a token in the file is said to be readable by anyone who reads the file.
TEST_F(Check, RefreshTokenPlaceIsNamedAndItsReadTried) {
    KeyringSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.error();
    serve();
    tool_write("Password", "", 0);
    tool_write("Scramble", "", 0);
    tool_write("Auth", "1", 0);
    tool_write("OAuthSource", "1", 0);
    tool_write("Security", "2", 0);
    const SecretKey key = {pop3_.server_name(), "taro", "pop3", SecretKind::refresh_token};
    const std::string where = "account 1 (red): refresh token in the desktop keyring (" + secret_label(key) + ")";

    struct Row {
        const char* story;
        std::function<void()> arrange;
        std::string line;
        bool reaches_server;
    };
    const Row rows[] = {
        {"not signed in", [] {}, "FAIL account 1 (red): not signed in: no refresh token kept: sign in (kd5lite_op", false},
        {"in the file", [] { ASSERT_EQ(refresh_token_file_save(0, "rt-in-the-file"), 0); },
         "info account 1 (red): refresh token in the settings file, scrambled", true},
        {"keyring without it",
         [] {
             ASSERT_EQ(refresh_token_forget_file(0), 0);
             tool_write("SecretStore", "1", 0);
         },
         "FAIL " + where + ", not readable: the keyring holds no such secret: sign in again", false},
        {"in the keyring",
         [&] { ASSERT_EQ(secret_save(key, "rt-in-the-keyring", SecretUnlock::never, kPatience), SecretResult::ok); },
         "ok   " + where + ", readable", true},
        {"locked", [&] { ASSERT_TRUE(keyring.lock()); }, "FAIL " + where + ", not readable: the keyring is locked",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.story);
        row.arrange();
        EXPECT_EQ(check(), 1) << output_; // the test's account has no provider to refresh its token at
        EXPECT_TRUE(says(row.line)) << output_;
        EXPECT_EQ(says("account 1 (red): TCP connection"), row.reaches_server) << output_;
    }
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini").find("rt-in-the"), std::string::npos);
}

} // namespace
