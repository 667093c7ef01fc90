// SPDX-License-Identifier: GPL-3.0-or-later
// The real kd5lite on a private session bus, watching an IMAP account on a real Dovecot with IDLE and the lamp
// simulator: the service's introspection, its properties and signals as mail comes, is read elsewhere and is
// acknowledged, its methods under the tray menu's rules, the command-line verbs with a notifier and without, and
// nothing secret on the bus. Signals are watched with gdbus monitor, as a panel or a script would see them.

#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string joined(const std::vector<std::string>& commands, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < commands.size(); ++i) {
        text += commands[i] + " ";
    }
    return text;
}

struct VerbRun {
    int status = -1;
    std::string output; // standard output and error
};

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ok()) << dir_.read("session-bus.out");
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "60"); // every pass a test waits for comes from the push or a verb
        tool_write("BeepTime", "1");
        dovecot_.add_user("taro", kPassword);
        ASSERT_TRUE(dovecot_.start()) << dovecot_.error() << dovecot_.log();
        tool_write_account(0, dovecot_.server_name(), "taro", kPassword);
        tool_write("Protocol", "1", 0);
    }

    // kd5lite with a verb, as a script runs it: same settings directory and bus.
    VerbRun kd5(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {KD5LITE_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = dir_.path("verb" + std::to_string(++runs_) + ".out");
        ChildProcess child(argv, {{"CORVO_HOME", dir_.dir()}, {"XDG_RUNTIME_DIR", dir_.dir()}}, out);
        VerbRun run;
        run.status = child.wait_exit();
        run.output = child.output();
        return run;
    }

    std::string bus_call(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {
            "gdbus",   "call", "--session", "--dest", "org.corvo.kd5lite", "--object-path", "/org/corvo/kd5lite",
            "--method"};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = dir_.path("call" + std::to_string(++runs_) + ".out");
        const int status = run_process(argv, out);
        return std::to_string(status) + " " + dir_.read("call" + std::to_string(runs_) + ".out");
    }

    std::string status_json() { return kd5({"--status", "--json"}).output; }

    // The notifier, its name on the bus and a watcher of its signals; monitoring started with the verb.
    void start(bool monitoring = true, const std::map<std::string, std::string>& env = {}) {
        notifier_ = std::make_unique<NotifierProcess>(dir_, env);
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience)) << diagnosis();
        monitor_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/stdbuf", "-oL", "gdbus", "monitor",
                                                                           "--session", "--dest", "org.corvo.kd5lite"},
                                                  std::map<std::string, std::string>{}, dir_.path("monitor.out"));
        ASSERT_TRUE(wait_until([&] { return signals().find("is owned by") != std::string::npos; }, kPatience))
            << signals();
        if (monitoring) {
            const VerbRun started = kd5({"--start"});
            ASSERT_EQ(started.status, 0) << started.output;
            ASSERT_TRUE(wait_for_log("Email arrival of the mail push --> A start[No.0]")) << diagnosis();
        }
    }

    std::string signals() const { return dir_.read("monitor.out"); }
    bool signal_seen(const std::string& text, std::size_t from = 0) {
        return wait_until([&] { return signals().find(text, from) != std::string::npos; }, kPatience);
    }

    bool wait_for_log(const std::string& line, const char* stem = "log") {
        return wait_until([&] { return log_text(dir_, stem).find(line) != std::string::npos; }, kPatience);
    }

    std::size_t expect_lamp(std::size_t from, const std::string& expected) {
        bool seen =
            wait_until([&] { return joined(lamp_.commands(), from).find(expected) != std::string::npos; }, kPatience);
        EXPECT_TRUE(seen) << "wanted '" << expected << "' since command " << from << "\n" << diagnosis();
        return lamp_.commands().size();
    }

    std::string diagnosis() const {
        return "lamp: " + joined(lamp_.commands(), 0) + "\nerr:\n" + log_text(dir_, "err") + "log:\n" +
               log_text(dir_, "log") + "signals:\n" + signals();
    }

    std::string lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    static constexpr char kPassword[] = "pw-Zq81x";
    TempCorvo dir_;
    PrivateSessionBus bus_{dir_.dir()};
    LampSim lamp_{lamp_dir()};
    DovecotServer dovecot_;
    std::unique_ptr<NotifierProcess> notifier_;
    std::unique_ptr<ChildProcess> monitor_;
    int runs_ = 0;
};

// What a panel reads before it subscribes: the interface with its methods, signals and properties. A second
// notifier of another runtime directory finds the name taken and is refused as a second instance is.
TEST_F(Service, IntrospectionNamesEverythingAndASecondNotifierOnTheBusIsRefused) {
    start(false);
    const std::string xml = bus_call({"org.freedesktop.DBus.Introspectable.Introspect"});
    for (const char* part :
         {"<interface name=\"org.corvo.kd5lite.Notifier\">", "<method name=\"CheckNow\"",
          "<method name=\"Acknowledge\">", "<arg name=\"account\" type=\"i\"", "<method name=\"StartMonitoring\"",
          "<method name=\"StopMonitoring\"", "<signal name=\"MailArrived\">", "type=\"a(ss)\"",
          "<signal name=\"LampChanged\">", "<signal name=\"HealthChanged\">",
          "<property name=\"Monitoring\" type=\"b\" access=\"read\"",
          "<property name=\"Accounts\" type=\"a(issibssxa(sx))\" access=\"read\"",
          "<property name=\"Lit\" type=\"ab\" access=\"read\"", "<property name=\"Quiet\" type=\"b\" access=\"read\"",
          "<property name=\"QuietUntil\" type=\"x\" access=\"read\"", "<method name=\"Snooze\">",
          "<arg name=\"minutes\" type=\"i\"", "org.freedesktop.DBus.Properties"}) {
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    }
    std::filesystem::create_directory(dir_.path("other"));
    ChildProcess second(
        {KD5LITE_BINARY},
        {{"XDG_RUNTIME_DIR", dir_.path("other")}, {"QT_QPA_PLATFORM", "offscreen"}, {"CORVO_HOME", dir_.dir()}},
        dir_.path("second.out"));
    EXPECT_EQ(second.wait_exit(), 1) << second.output();
    EXPECT_NE(second.output().find("corvo KD-5 lite does not come by multiplex start."), std::string::npos);
    EXPECT_TRUE(notifier_->running());
}

// The story of one account: a delivery lights the LED and the properties, MailArrived and LampChanged say so with
// the cleaned sender and subject; a read in another mail program puts it out; a second delivery is acknowledged
// with --ack; --check-now brings a pass; --stop ends monitoring. --status follows each step.
TEST_F(Service, PropertiesAndSignalsFollowDeliveryReadElsewhereAcknowledgeAndStop) {
    start();
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");
    ASSERT_TRUE(
        wait_until([&] { return status_json().find("\"health\": \"watching\"") != std::string::npos; }, kPatience))
        << status_json();

    // An encoded sender and a subject with an escape sequence, as a hostile sender may write it.
    ASSERT_TRUE(dovecot_.deliver("taro", "From: =?UTF-8?B?5byg5LiJ?= <zhang@kd5lite.test>\r\n"
                                         "Subject: Hi\x1b[2Jthere\r\n\r\nbody\r\n"));
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    EXPECT_TRUE(signal_seen("org.corvo.kd5lite.Notifier.MailArrived (1, 1, [('张三', 'Hi [2Jthere')])")) << diagnosis();
    EXPECT_TRUE(signal_seen("org.corvo.kd5lite.Notifier.LampChanged ([true, false, false],)")) << diagnosis();
    EXPECT_TRUE(signal_seen("'Lit': <[true, false, false]>")) << diagnosis();
    const std::string label = "taro@" + dovecot_.server_name();
    EXPECT_TRUE(signal_seen("'Accounts': <[(1, '" + label + "', 'imap', 1, true, 'watching', '', int64 "))
        << diagnosis();
    std::string json = status_json();
    EXPECT_NE(json.find("{\"account\": 1, \"label\": \"" + label +
                        "\", \"protocol\": \"imap\", \"count\": 1, "
                        "\"lit\": true, \"health\": \"watching\", \"cause\": \"\", \"last_check\": "),
              std::string::npos)
        << json;
    EXPECT_EQ(json.rfind("{\"monitoring\": true, \"quiet_until\": null, \"quiet\": false, \"accounts\": [", 0), 0u) << json;
    const std::string json_file = dir_.path("status.json");
    dir_.write("status.json", json);
    EXPECT_EQ(run_process({kSystemPython, "-c",
                           "import json,sys; o=json.load(open(sys.argv[1])); "
                           "assert isinstance(o, dict) and len(o['accounts']) == 1",
                           json_file},
                          dir_.path("json-check.out")),
              0)
        << dir_.read("json-check.out") << json;
    const VerbRun text = kd5({"--status"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.output, "account 1: " + label + ": 1 message, LED on, watching\nmonitoring: on\n");

    // Read in another mail program: the LED goes out, and the properties say so.
    std::size_t signals_before = signals().size();
    ASSERT_TRUE(dovecot_.mark_all_read("taro"));
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_TRUE(signal_seen("LampChanged ([false, false, false],)", signals_before)) << diagnosis();
    EXPECT_TRUE(signal_seen("'imap', 0, false, 'watching'", signals_before)) << diagnosis();
    EXPECT_EQ(kd5({"--ack", "1"}).output, "kd5lite: nothing waits that an acknowledge would put out\n");

    // Acknowledged from a keyboard shortcut: out at once, and a second one finds nothing.
    ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: two\r\n\r\nbody\r\n"));
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    ASSERT_TRUE(wait_until([&] { return status_json().find("\"lit\": true") != std::string::npos; }, kPatience));
    signals_before = signals().size();
    const VerbRun ack = kd5({"--ack", "1"});
    EXPECT_EQ(ack.status, 0) << ack.output;
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    EXPECT_TRUE(signal_seen("LampChanged ([false, false, false],)", signals_before)) << diagnosis();
    EXPECT_EQ(kd5({"--ack"}).status, 1);
    EXPECT_EQ(kd5({"--ack", "2"}).output, "kd5lite: no such account: give 1 to 3 for an account that is switched on, "
                                          "or -1 for all\n");

    // 立即检查 from a script: one more pass.
    const VerbRun check = kd5({"--check-now"});
    EXPECT_EQ(check.status, 0) << check.output;
    seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");

    signals_before = signals().size();
    const VerbRun stop = kd5({"--stop"});
    EXPECT_EQ(stop.status, 0) << stop.output;
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    EXPECT_TRUE(signal_seen("'Monitoring': <false>", signals_before)) << diagnosis();
    EXPECT_EQ(kd5({"--check-now"}).output, "kd5lite: mail monitoring is not running\n");
    EXPECT_EQ(kd5({"--stop"}).status, 1);
    EXPECT_NE(status_json().find("\"monitoring\": false"), std::string::npos);
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// A snooze from a script: Quiet and its end follow on the bus and in --status; mail that comes meanwhile lights
// its LED without the buzzer; 0 ends it, and more than a week is refused with the reason.
TEST_F(Service, SnoozeSilencesTheBuzzerOnlyAndTheBusAndStatusSayUntilWhen) {
    start();
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");
    const VerbRun snooze = kd5({"--snooze", "60"});
    ASSERT_EQ(snooze.status, 0) << snooze.output;
    EXPECT_TRUE(signal_seen("'Quiet': <true>")) << diagnosis();
    EXPECT_TRUE(signal_seen("'QuietUntil': <int64 ")) << diagnosis();
    const std::string json = status_json();
    EXPECT_NE(json.find("\"quiet\": true"), std::string::npos) << json;
    const std::size_t at = json.find("\"quiet_until\": ");
    ASSERT_NE(at, std::string::npos) << json;
    const long long until = std::atoll(json.c_str() + at + 15);
    EXPECT_GT(until, static_cast<long long>(std::time(nullptr)) + 3500) << json;
    EXPECT_NE(kd5({"--status"}).output.find("\nquiet: until "), std::string::npos);

    ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: hush\r\n\r\nbody\r\n"));
    const std::size_t before = seen;
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 ");
    ASSERT_EQ(kd5({"--check-now"}).status, 0);
    expect_lamp(seen, "CLS ON0 OF1 OF2 "); // the next pass: the one that lit has ended, its buzzer included
    EXPECT_EQ(joined(lamp_.commands(), before).find("BEP"), std::string::npos) << diagnosis();

    const std::size_t signals_before = signals().size();
    EXPECT_EQ(kd5({"--snooze", "0"}).status, 0);
    EXPECT_TRUE(signal_seen("'Quiet': <false>", signals_before)) << diagnosis();
    EXPECT_NE(status_json().find("\"quiet_until\": null, \"quiet\": false"), std::string::npos);
    const VerbRun week = kd5({"--snooze", "10081"});
    EXPECT_EQ(week.status, 1);
    EXPECT_EQ(week.output, "kd5lite: give the snooze in minutes, 1 to 10080 (a week), or 0 to end it\n");
    EXPECT_NE(bus_call({"org.corvo.kd5lite.Notifier.Snooze", "--", "-1"}).find("org.corvo.kd5lite.Error.BadSnooze"),
              std::string::npos);
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// While the lamp's connection test runs, a start would wait behind it for good (the test repeats while its
// request stands), and there is no monitor to check now or stop: each call gets its error, over the bus and from
// the verbs, and the test runs on.
TEST_F(Service, CallsWhileTheConnectionTestRunsGetTheirErrors) {
    start(false);
    tool_write("Request", "2");
    ASSERT_TRUE(wait_until([&] { return lamp_.commands().size() >= 3; }, kPatience)) << diagnosis();
    EXPECT_NE(bus_call({"org.corvo.kd5lite.Notifier.StartMonitoring"}).find("org.corvo.kd5lite.Error.Busy"),
              std::string::npos);
    EXPECT_NE(bus_call({"org.corvo.kd5lite.Notifier.CheckNow"}).find("org.corvo.kd5lite.Error.NotMonitoring"),
              std::string::npos);
    const VerbRun start_verb = kd5({"--start"});
    EXPECT_EQ(start_verb.status, 1);
    EXPECT_NE(start_verb.output.find("busy with another job"), std::string::npos) << start_verb.output;
    EXPECT_EQ(kd5({"--stop"}).status, 1);
    EXPECT_EQ(file_key(dir_, "Request"), "2");
    const std::string pattern = "CLS ON0 ON0 ON1 ON0 ON1 ON2 BEP CLS ";
    EXPECT_TRUE(wait_until([&] { return count_of(joined(lamp_.commands(), 0), pattern) >= 2; }, kPatience));
    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    EXPECT_EQ(kd5({"--start"}).status, 0);
    EXPECT_TRUE(wait_for_log("Email arrival of the mail push --> A start[No.0]")) << diagnosis();
}

// No secret, server name or user name beyond the account's label crosses the bus: a value of each key that must
// stay in the settings file is looked for in the introspection, every property, every signal of a pass with new
// mail and a failing account, and --status. The failing account's cause names its server in the tray; here it
// says 服务器, as its label does not name it.
TEST_F(Service, NothingSecretInAnyPropertySignalOrStatus) {
    const struct {
        const char* key;
        int account;
        std::string value;
        std::string secret; // what must not be seen
    } rows[] = {
        {"ServerName", 1, "127.0.0.2:9", "127.0.0.2"},
        {"ID", 1, "hana@kd5lite.test", ""}, // the label: allowed
        {"SpecialAddress1", 1, "boss-Kq3@kd5lite.test", "boss-Kq3"},
        {"Folder", 1, "Folder-Jt2", "Folder-Jt2"},
        {"TlsFingerprint", 1, std::string(64, 'c'), std::string(64, 'c')},
        {"TokenCommand", 1, "/bin/tok-Pp4 --user hana", "tok-Pp4"},
        {"ClientId", 1, "client-Nn7", "client-Nn7"},
        {"SoundFile", 0, "/home/taro/sound-Wv5.wav", "sound-Wv5"},
        {"SerialNumber", -1, "X" + lamp_.serial(), lamp_.serial()},
    };
    tool_write_account(1, "", "", "pw-Other9");
    for (const auto& row : rows) {
        tool_write(row.key, row.value.c_str(), row.account);
    }
    start();
    ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: one\r\n\r\nbody\r\n"));
    ASSERT_TRUE(signal_seen("MailArrived (1, 1, [('Hanako', 'one')])")) << diagnosis();
    ASSERT_TRUE(signal_seen("'hana@kd5lite.test', 'pop3', 0, false, 'watching', '无法连接 服务器', 0, [])")) << diagnosis();
    EXPECT_TRUE(signal_seen("HealthChanged (2, 'watching', '无法连接 服务器')")) << diagnosis();

    std::string seen = bus_call({"org.freedesktop.DBus.Introspectable.Introspect"}) +
                       bus_call({"org.freedesktop.DBus.Properties.GetAll", "org.corvo.kd5lite.Notifier"}) +
                       kd5({"--status", "--json"}).output + kd5({"--status"}).output + signals();
    EXPECT_NE(seen.find("hana@kd5lite.test"), std::string::npos) << seen;
    for (const auto& row : rows) {
        if (!row.secret.empty()) {
            EXPECT_EQ(seen.find(row.secret), std::string::npos) << row.key << "\n" << seen;
        }
    }
    for (const std::string& secret : {std::string(kPassword), std::string("pw-Other9"), file_key(dir_, "Password", 0),
                                      file_key(dir_, "Scramble", 0)}) {
        EXPECT_EQ(seen.find(secret), std::string::npos) << secret << "\n" << seen;
    }
}

// The hook on every change of what the lamp shows, in the real notifier: a stand-in records each environment. The
// first pass makes the account watched (health), a delivery brings mail and the lamp, a read elsewhere read and
// the lamp again.
TEST_F(Service, HookHearsHealthMailLampAndRead) {
    const std::string record = dir_.path("hook.record");
    dir_.write("hook", "#!/bin/sh\necho \"$KD5LITE_EVENT|$KD5LITE_ACCOUNT|$KD5LITE_COUNT|$KD5LITE_LIT|"
                       "$KD5LITE_HEALTH\" >> \"$1\"\n");
    chmod(dir_.path("hook").c_str(), 0700);
    tool_write("Hook", (dir_.path("hook") + " " + record).c_str());
    start();
    auto recorded = [&](const std::string& line) {
        return wait_until([&] { return dir_.read("hook.record").find(line + "\n") != std::string::npos; }, kPatience);
    };
    EXPECT_TRUE(recorded("health|1|0|0|watching")) << dir_.read("hook.record") << diagnosis();
    ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: one\r\n\r\nbody\r\n"));
    EXPECT_TRUE(recorded("mail|1|1|1|watching")) << dir_.read("hook.record");
    EXPECT_TRUE(recorded("lamp||1 0 0|1 0 0|watching none none")) << dir_.read("hook.record");
    ASSERT_TRUE(dovecot_.mark_all_read("taro"));
    EXPECT_TRUE(recorded("read|1|0|0|watching")) << dir_.read("hook.record");
    EXPECT_TRUE(recorded("lamp||0 0 0|0 0 0|watching none none")) << dir_.read("hook.record");
    EXPECT_EQ(log_text(dir_, "err"), "");
}

// A hook that never ends holds up neither a pass nor a stop: the LED lights, the hook is ended after its bound
// (10 s, scaled here) with the error line, a stop is taken at once, and the notifier's end leaves no hook behind.
TEST_F(Service, HangingHookIsEndedAndHoldsUpNoPassNorStopNorTheEnd) {
    dir_.write("hook", "#!/bin/sh\necho $$ >> \"$1\"\nexec sleep 600\n");
    chmod(dir_.path("hook").c_str(), 0700);
    tool_write("Hook", (dir_.path("hook") + " " + dir_.path("hook.pids")).c_str());
    start();
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");
    ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: one\r\n\r\nbody\r\n"));
    seen = expect_lamp(seen, "CLS ON0 OF1 OF2 BEP ");
    EXPECT_TRUE(wait_for_log("hook ---> The hook command did not end in time for the mail event[error: 62]", "err"))
        << diagnosis();
    EXPECT_EQ(kd5({"--stop"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "Job") == "104"; }, kPatience));
    // Stopped: the lamp goes dark, whose hook hangs again; the end takes it along.
    ASSERT_TRUE(wait_until([&] { return count_of(dir_.read("hook.pids"), "\n") >= 4; }, kPatience))
        << dir_.read("hook.pids");
    tool_write("Request", "99");
    EXPECT_EQ(notifier_->wait_exit(), 1);
    std::istringstream pids(dir_.read("hook.pids"));
    for (std::string pid; std::getline(pids, pid);) {
        EXPECT_TRUE(wait_until([&] { return kill(std::stoi(pid), 0) != 0; }, kPatience)) << pid;
    }
}

// Figures, never asserted: from the delivery into the Maildir to the LED and to MailArrived on the bus, in the same
// pass, at the real timing (push through IDLE, the window thread's 200 ms tick).
TEST_F(Service, FigureDeliveryToLedBesideDeliveryToMailArrived) {
    start(true, {{"KD5LITE_TIME_SCALE", "1"}});
    std::size_t seen = expect_lamp(0, "CLS OF0 OF1 OF2 ");
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
    for (int round = 1; round <= 5; ++round) {
        const std::size_t signals_before = signals().size();
        const Clock::time_point delivered = Clock::now();
        ASSERT_TRUE(dovecot_.deliver("taro", "From: Hanako <hanako@kd5lite.test>\r\nSubject: round " +
                                                 std::to_string(round) + "\r\n\r\nbody\r\n"));
        ASSERT_TRUE(
            wait_until([&] { return joined(lamp_.commands(), seen).find("ON0") != std::string::npos; }, kPatience));
        const Clock::time_point lit = Clock::now();
        ASSERT_TRUE(
            signal_seen("MailArrived (1, 1, [('Hanako', 'round " + std::to_string(round) + "')])", signals_before))
            << diagnosis();
        const Clock::time_point arrived = Clock::now();
        std::cout << "[ FIGURE ] delivery to LED " << ms(lit - delivered) << " ms, delivery to MailArrived "
                  << ms(arrived - delivered) << " ms\n";
        seen = lamp_.commands().size();
        ASSERT_TRUE(dovecot_.mark_all_read("taro"));
        seen = expect_lamp(seen, "CLS OF0 OF1 OF2 ");
    }
}

// A session bus that takes the connection and never answers: the notifier starts all the same within its
// patience, says so in the error log, and the verbs fall back to the command mailbox.
TEST(ServiceWithoutBus, ASilentBusHoldsNothingUpAndTheVerbsUseTheMailbox) {
    TempCorvo dir;
    tool_write("ErrorLog", "1");
    tool_write_account(0, "127.0.0.1:9", "taro@kd5lite.test", "secret");
    MuteSessionBus bus(dir.dir());
    ASSERT_TRUE(bus.ok());
    NotifierProcess notifier(dir, {{"KD5LITE_TIME_SCALE", "0.1"}});
    ASSERT_TRUE(wait_until([&] { return file_key(dir, "State") == "2"; }, kPatience)) << notifier.output();
    EXPECT_TRUE(wait_until(
        [&] {
            return log_text(dir, "err")
                       .find("session bus ---> The session bus does not answer: the notifier runs "
                             "without it[error: 110]") != std::string::npos;
        },
        kPatience));
    auto verb = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {KD5LITE_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess child(argv, {}, dir.path("verb.out"));
        VerbRun run{child.wait_exit(), child.output()};
        std::filesystem::remove(dir.path("verb.out"));
        return run;
    };
    VerbRun status = verb({"--status", "--json"});
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_EQ(status.output, "{\"monitoring\": false, \"quiet_until\": null, \"quiet\": null, \"accounts\": [{\"account\": 1, "
                             "\"label\": \"taro@kd5lite.test\", \"protocol\": \"pop3\", \"count\": null, \"lit\": "
                             "null, \"health\": null, \"cause\": \"\", \"last_check\": null}]}\n");
    EXPECT_EQ(verb({"--start"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return file_key(dir, "Job") == "101"; }, kPatience));
    EXPECT_EQ(verb({"--status"}).output, "account 1: taro@kd5lite.test: count not known without the session bus\n"
                                         "monitoring: on\n");
    EXPECT_EQ(verb({"--check-now"}).status, 1);
    EXPECT_EQ(verb({"--ack"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return file_key(dir, "Job") == "105"; }, kPatience));
    EXPECT_EQ(verb({"--stop"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return file_key(dir, "Job") == "104"; }, kPatience));
    notifier.signal(SIGTERM);
    EXPECT_EQ(notifier.wait_exit(), 1);
}

} // namespace
