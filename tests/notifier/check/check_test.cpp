// kd5lite --check, the real binary against the lamp simulator and the POP3 server program: each story gives its
// line and its exit status, and none of them changes the settings file or writes a log.

#include "tests/mail/test_pki.h"
#include "tests/notifier/harness.h"
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Check : public ::testing::Test {
public: // the rows of a table test arrange the fixture through a reference to it
    void SetUp() override {
        std::filesystem::create_directory(dir_.path("sys"));
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("ErrorLog", "101"); // switched on: a line written would show, and move the day marker
        tool_write("BeepTime", "1");
        pop3_.set_message_count(3);
    }

    void serve(const std::vector<std::string>& extra = {}) {
        ASSERT_TRUE(pop3_.start(extra));
        tool_write_account(0, pop3_.server_name(), "taro", "secret");
    }

    // Runs kd5lite --check; returns its exit status, its report in output_.
    int check() {
        ChildProcess child({KD5LITE_BINARY, "--check"},
                           {{"CORVO_HOME", dir_.dir()},
                            {"XDG_RUNTIME_DIR", dir_.dir()},
                            {"KD5LITE_SYSFS_ROOT", dir_.path("sys")},
                            {"KD5LITE_TIME_SCALE", "0.02"}},
                           dir_.path("check" + std::to_string(++runs_) + ".out"));
        int status = child.wait_exit();
        output_ = child.output();
        return status;
    }

    bool says(const std::string& line) const { return output_.find(line) != std::string::npos; }

    std::filesystem::path lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
    LampSim lamp_{lamp_dir()};
    Pop3Program pop3_{dir_, "taro", "secret"};
    std::string output_;
    int runs_ = 0;
};

TEST_F(Check, AllWellAnswersEveryPartAndWritesNothing) {
    serve();
    const std::string before = dir_.read("corvo_kd5lite.ini");
    ASSERT_EQ(check(), 0) << output_;
    EXPECT_TRUE(says("ok   lamp: all LEDs off, answer 'Y'")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): 127.0.0.1 is 127.0.0.1; port ")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): TCP connection to 127.0.0.1")) << output_;
    EXPECT_TRUE(says("warn account 1 (red): no TLS")) << output_;
    EXPECT_TRUE(says("ok   account 1 (red): POP3 login accepted; count 3 (messages waiting)")) << output_;
    EXPECT_TRUE(says("info settings: state log off, error log on")) << output_;
    EXPECT_TRUE(output_.ends_with("Everything monitoring needs works.\n")) << output_;
    // The order of the report: settings, lamp, accounts, sound.
    EXPECT_LT(output_.find("settings:"), output_.find("lamp:"));
    EXPECT_LT(output_.find("lamp:"), output_.find("account 1"));
    EXPECT_LT(output_.find("account 1"), output_.find("sound:"));
    EXPECT_EQ(lamp_.commands(), std::vector<std::string>{"CLS"});
    EXPECT_EQ(dir_.read("corvo_kd5lite.ini"), before);
    EXPECT_EQ(log_text(dir_, "err"), "");
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
         "FAIL account 1 (red): Contents abnormality of a POP confirmation [a password] message[no.0 error: 0]: the "
         "server refused the password"},
        {"server down", [](Check& t) { t.pop3_.stop(); },
         "FAIL account 1 (red): cannot connect: A client connection demand is abnormal[error: 111]"},
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
    int fd = open(dir_.path("corvo KD-5 lite.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(check(), 0) << output_;
    close(fd);
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

} // namespace
