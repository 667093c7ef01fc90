// SPDX-License-Identifier: GPL-3.0-or-later
// The IDLE watchers against the scripted IMAP server acting out what real servers do: one table of server
// behaviours, each row run through the same story (the watcher reaches IDLE, a change the server announces wakes
// the monitor, a stop closes the connection), and the stories of a watcher's life that no single server makes.

#include "mail/account_settings.h"
#include "mail/core/check_ids.h"
#include "mail/imap/folder_report.h"
#include "mail/imap/imap_session.h"
#include "mail/sasl/access_token.h"
#include "push/monitor_wake.h"
#include "push/push.h"
#include "push/route_check.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/lampsim_handle.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr int kPatience = 20000;

int occurrences(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) {
        ++n;
    }
    return n;
}

int count_commands(const Lines& commands, const std::string& word) {
    int n = 0;
    for (const std::string& c : commands) {
        n += c.find(word) != std::string::npos ? 1 : 0;
    }
    return n;
}

class PushWatcher : public MailTest {
protected:
    PushWatcher() {
        settings_set(Key::StateLog, "107");
        Timing t = timing();
        t.push_fold_ms = 20;
        t.push_burst_ms = 100;
        t.idle_backoff_first_ms = 20;
        t.idle_backoff_max_ms = 200;
        set_timing(t);
        std::filesystem::create_directory(pki_);
    }
    ~PushWatcher() override { push_stop(); }

    // Serves alice's folder with the script; account 0 points at it with the given security (0, 1, 2) and folder.
    void serve(ImapScript script, const char* security = "0", const std::string& folder = "") {
        if (script.tls != ImapTls::none) {
            const TestAuthority::Issued own = TestAuthority::self_signed(pki_, "home", "IP:127.0.0.1");
            script.certificate_file = own.certificate_file;
            script.key_file = own.key_file;
            settings_set(Key::TlsFingerprint, own.fingerprint.c_str(), 0);
        }
        ImapMailbox box{"secret", {{make_message("Taro <taro@example.com>", "alice@kd5lite.test", "hi"), false}}};
        server_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "secret");
        settings_set(Key::Switch, "1", 0);
        settings_set(Key::Protocol, "1", 0);
        settings_set(Key::Security, security, 0);
        settings_set(Key::Folder, folder.c_str(), 0);
    }

    // Starts the watcher and waits until the server has seen `idles` IDLE commands and the client waits in the
    // last; the notices of its starts are taken.
    bool watch_until_idle(int idles = 1) {
        push_start({read_account(0)});
        bool idle = wait_until(
            [&] { return count_commands(server_->commands(), " IDLE") >= idles && server_->idling(); }, kPatience);
        while (monitor_wake().wait(0)) {
        }
        return idle;
    }

    // Serves alice with INBOX and the folders Work, Lists, Family and Old (one message each, unread), in parallel;
    // account 0 watches them all as a list, at an interval that no push story outlasts.
    void serve_folders(ImapScript script) {
        script.parallel = true;
        auto one = [] { return std::vector<ImapMessage>{{make_message("a@b", "alice@kd5lite.test", "x"), false}}; };
        ImapMailbox box{"secret", one(), {}};
        for (const char* name : kFolders) {
            if (std::string(name) != "INBOX") {
                box.folders.push_back({name, "\\HasNoChildren", one()});
            }
        }
        server_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", "secret");
        settings_set(Key::Switch, "1", 0);
        settings_set(Key::Protocol, "1", 0);
        settings_set(Key::Folders, "\"Work\" \"INBOX\" \"Lists\" \"Family\" \"Old\"", 0);
        settings_set(Key::IntervalTimer, "600");
        Timing t = timing();
        t.monitor_step_ms = 10; // the interval: 600 minutes of 0.6 s each
        set_timing(t);
    }

    // The count the monitor's pass takes, and how each folder was watched.
    int pass(CheckIds& ids, long long announce_above = -1) {
        ids = CheckIds{};
        ids.announce_above = announce_above;
        return push_check(read_account(0), &ids);
    }

    static constexpr const char* kFolders[] = {"INBOX", "Work", "Lists", "Family", "Old"}; // in watch order

    std::string state_log() const { return dir_.read("log07.log"); }
    std::string diagnosis() const {
        std::string text = "commands:\n";
        for (const std::string& c : server_->commands()) {
            text += "  " + c + "\n";
        }
        return text + "errors:\n" + dir_.read("err07.log") + "state:\n" + state_log();
    }

    std::string pki_ = dir_.path("pki");
    std::unique_ptr<ImapServer> server_;
};

// What real servers do that Dovecot does not. Each row: the watcher reaches IDLE (after the dropped first one
// where the row says so, on a connection made afresh), a delivery (with the row's burst after it) is counted on the
// connection and wakes the monitor, and a stop ends the connection with DONE and LOGOUT.
TEST_F(PushWatcher, HoldsAgainstEveryServerOfTheTable) {
    const std::string folder = "Entw\xc3\xbcrfe";
    struct Row {
        const char* name;
        ImapScript script;
        const char* security;
        std::string folder;
        int idles;         // IDLE commands up to the one the change comes in
        std::string burst; // what the server announces besides the delivery's EXISTS
        std::string sent;  // a command the client must have sent on every connection
    };
    auto script = [](auto&& change) {
        ImapScript s;
        change(s);
        return s;
    };
    auto dropped_idle = [](ImapScript& s) {
        s.fault = ImapFault::bye;
        s.fault_at = "IDLE";
        s.fault_delay_ms = 50;
        s.fault_count = 1;
    };
    const std::string exists;
    const Row rows[] = {
        {"greeting without capabilities (Gimap), STARTTLS, first IDLE dropped", script([&](ImapScript& s) {
             s.greeting = "* OK Gimap ready for requests from 192.0.2.1 x1mb123456\r\n";
             s.tls = ImapTls::starttls;
             dropped_idle(s);
         }),
         "1", "", 2, exists, "STARTTLS"},
        {"Exchange greeting and continuation", script([](ImapScript& s) {
             s.greeting = "* OK The Microsoft Exchange IMAP4 service is ready.\r\n";
             s.idle_text = "+ IDLE accepted, awaiting DONE command.";
         }),
         "0", "", 1, exists, ""},
        {"bare continuation", script([](ImapScript& s) { s.idle_text = "+"; }), "0", "", 1, exists, ""},
        {"STARTTLS named again inside TLS", script([](ImapScript& s) {
             s.tls = ImapTls::starttls;
             s.starttls_in_tls = true;
         }),
         "1", "", 1, exists, "STARTTLS"},
        {"no AUTH=PLAIN before TLS", script([](ImapScript& s) {
             s.tls = ImapTls::starttls;
             s.clear_capabilities = "IMAP4rev1 IDLE";
         }),
         "1", "", 1, exists, "AUTHENTICATE PLAIN"},
        {"EXPUNGE and EXISTS for the same message in one burst", ImapScript{}, "0", "", 1,
         "* 1 EXPUNGE\r\n* 1 EXISTS\r\n", ""},
        {"Unsafe Login until ID (163, 126, yeah.net)", script([](ImapScript& s) {
             s.capabilities += " ID";
             s.unsafe_until_id = true;
         }),
         "0", "", 1, exists, "ID (\"name\" \"kd5lite\""},
        {"IDLE that only looks now and then", script([](ImapScript& s) { s.idle_poll_ms = 300; }), "0", "", 1, exists,
         ""},
        {"UTF-8 folder on a UTF8=ACCEPT server, first IDLE dropped", script([&](ImapScript& s) {
             s.capabilities += " UTF8=ACCEPT";
             s.folder = folder;
             dropped_idle(s);
         }),
         "0", folder, 2, exists, "ENABLE UTF8=ACCEPT"},
        {"implicit TLS", script([](ImapScript& s) { s.tls = ImapTls::implicit; }), "2", "", 1, exists, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clear_error_log();
        serve(row.script, row.security, row.folder);
        ASSERT_TRUE(watch_until_idle(row.idles)) << diagnosis();
        server_->deliver("alice", make_message("Hanako <hanako@example.com>", "alice@kd5lite.test", "news"),
                         row.folder);
        if (!row.burst.empty()) {
            server_->push(row.burst);
        }
        EXPECT_TRUE(monitor_wake().wait(kPatience)) << diagnosis();
        push_stop();
        EXPECT_TRUE(wait_until([&] { return server_->open_sessions() == 0; }, kPatience));
        const Lines commands = server_->commands();
        ASSERT_GE(commands.size(), 2u);
        EXPECT_EQ(commands[commands.size() - 2], "DONE") << diagnosis();
        EXPECT_NE(commands.back().find(" LOGOUT"), std::string::npos) << diagnosis();
        if (!row.sent.empty()) {
            // Sent on every connection, the ones after a dropped IDLE included.
            EXPECT_EQ(count_commands(commands, row.sent), server_->connections()) << diagnosis();
        }
        // The change was counted on the watcher's own connection: no connection was made for it.
        EXPECT_EQ(server_->connections(), row.idles) << diagnosis();
        EXPECT_EQ(occurrences(dir_.read("err07.log"), "not offered"), 0) << diagnosis();
        EXPECT_EQ(count_commands(commands, " SELECT") + count_commands(commands, "STORE"), 0);
        server_->stop();
    }
}

// Five folders on servers without NOTIFY, with it, and with it refused: one NOTIFY connection watches them all, else
// IDLE watches the first three (INBOX first) on a connection each and the other two are counted at the interval,
// on the first connection. Every count is taken on the watcher's connections, never on one of its own. Catches a
// delivery into a subfolder that lights nothing, a folder pushed by nobody, and a pass that logs in again.
TEST_F(PushWatcher, SeveralFoldersAreWatchedByNotifyOrByIdleOnTheFirstThree) {
    const struct Row {
        const char* name;
        std::string capabilities;
        bool refuse_notify;
        int connections;
        const char* plan; // the state line of the watch
        Lines pushed_by;  // each folder's, in watch order
    } rows[] = {
        {"without NOTIFY and LIST-STATUS",
         "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE",
         false,
         3,
         "push --> IDLE for 3 folders, 2 at the interval[No.0]",
         {"IDLE", "IDLE", "IDLE", "", ""}},
        {"NOTIFY", "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE NOTIFY LIST-EXTENDED LIST-STATUS", false, 1,
         "push --> NOTIFY for 5 folders[No.0]", Lines(5, "NOTIFY")},
        {"NOTIFY refused",
         "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE NOTIFY",
         true,
         3,
         "push --> IDLE for 3 folders, 2 at the interval[No.0]",
         {"IDLE", "IDLE", "IDLE", "", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir_.path("log07.log"));
        ImapScript script;
        script.capabilities = row.capabilities;
        if (row.refuse_notify) {
            script.replies["NOTIFY"] = "%TAG% NO [UNAVAILABLE] not now\r\n";
        }
        serve_folders(script);
        push_start({read_account(0)});
        // Every connection in IDLE on its own folder: INBOX, then Work and Lists without NOTIFY.
        ASSERT_TRUE(wait_until(
            [&] {
                int idling = 0;
                for (const char* f : kFolders) {
                    idling += server_->idling_on(f);
                }
                // The server sees the IDLE a moment before the watcher counts itself up, and a pass in between
                // would check on a connection of its own.
                return idling == row.connections && server_->idling_on("INBOX") == 1 && push_state(0) == PushState::up;
            },
            kPatience))
            << diagnosis();
        EXPECT_NE(state_log().find(row.plan), std::string::npos) << diagnosis();
        if (row.refuse_notify) {
            EXPECT_NE(state_log().find("push --> NOTIFY refused[No.0]"), std::string::npos);
        }
        CheckIds ids;
        ASSERT_TRUE(wait_until([&] { return pass(ids) == 5 && ids.folders.size() == 5u; }, kPatience)) << diagnosis();
        while (monitor_wake().wait(0)) {
        }

        // A delivery into a pushed subfolder is counted on its connection and wakes the monitor.
        server_->deliver("alice", make_message("Taro <taro@example.com>", "alice@kd5lite.test", "w"), "Lists");
        ASSERT_TRUE(monitor_wake().wait(kPatience)) << diagnosis();
        EXPECT_EQ(pass(ids, 5), 6);
        Lines pushed_by;
        for (const FolderTally& f : ids.folders) {
            pushed_by.push_back(f.pushed_by);
        }
        EXPECT_EQ(pushed_by, row.pushed_by);
        EXPECT_EQ(ids.folders[2].name, "Lists");
        EXPECT_EQ(ids.folders[2].count, 2);
        ASSERT_EQ(ids.newest_folders.size(), 1u);
        EXPECT_EQ(ids.newest_folders[0], "Lists");

        // One into a folder counted at the interval waits for it: then the first connection counts it.
        server_->deliver("alice", make_message("Taro <taro@example.com>", "alice@kd5lite.test", "o"), "Old");
        if (row.connections == 1) {
            ASSERT_TRUE(monitor_wake().wait(kPatience)) << diagnosis();
            EXPECT_EQ(pass(ids), 7);
        } else {
            EXPECT_EQ(pass(ids), 6);
            settings_set(Key::IntervalTimer, "1");
            EXPECT_TRUE(wait_until([&] { return pass(ids) == 7; }, kPatience)) << diagnosis();
        }
        EXPECT_EQ(server_->connections(), row.connections) << diagnosis();
        push_stop();
        EXPECT_TRUE(wait_until([&] { return server_->open_sessions() == 0; }, kPatience));
        EXPECT_EQ(count_commands(server_->commands(), " LOGOUT"), row.connections);
        EXPECT_EQ(count_commands(server_->commands(), " SELECT") + count_commands(server_->commands(), "STORE"), 0);
        server_->stop();
    }
}

// A server that takes three connections per user while the user's own mail program holds one (Gmail says so to
// the login): the watcher's third is refused once, and its folder is counted at the interval on the first.
TEST_F(PushWatcher, AConnectionLimitLeavesTheFolderOfTheRefusedOneToTheInterval) {
    ImapScript script;
    script.capabilities = "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE";
    script.connection_limit = 3;
    serve_folders(script);
    ImapSession own_mail_program(read_account(0));
    ASSERT_EQ(own_mail_program.open(), ImapSession::Result::ok);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return state_log().find("no more connections") != std::string::npos; }, kPatience))
        << diagnosis();
    ASSERT_TRUE(
        wait_until([&] { return server_->idling_on("INBOX") == 1 && server_->idling_on("Work") == 1; }, kPatience))
        << diagnosis();
    server_->deliver("alice", make_message("Taro <taro@example.com>", "alice@kd5lite.test", "l"), "Lists");
    settings_set(Key::IntervalTimer, "1");
    CheckIds ids;
    int counted = 0;
    EXPECT_TRUE(wait_until([&] { return (counted = pass(ids)) == 6; }, kPatience)) << counted << diagnosis();
    ASSERT_EQ(ids.folders.size(), 5u);
    EXPECT_EQ(ids.folders[2].pushed_by, "");
    EXPECT_EQ(server_->connections(), 4) << diagnosis(); // the mail program's, two watching, one refused
    EXPECT_EQ(occurrences(dir_.read("err07.log"), "[a login]"), 1) << diagnosis();
    EXPECT_EQ(occurrences(state_log(), "The server allows no more connections[No.0]"), 1);
    own_mail_program.logout();
}

// The monitor's interval pass asks for a count while the watcher is counting a change over a slow server: the
// count in progress is not cut short, and the connection stays. Catches a request that cancels the command under
// way, which loses the connection and logs in again.
TEST_F(PushWatcher, ACountAskedForWhileOneRunsKeepsTheConnection) {
    ImapScript script;
    script.capabilities = "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE NOTIFY";
    serve_folders(script);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return server_->idling_on("INBOX") == 1; }, kPatience)) << diagnosis();
    CheckIds ids;
    ASSERT_TRUE(wait_until([&] { return pass(ids) == 5; }, kPatience));
    // From now on every answer comes in pieces of 4 bytes, 5 ms apart: a count takes a good while.
    server_->stop();
    script.piece_bytes = 4;
    script.piece_pause_ms = 5;
    push_stop();
    serve_folders(script);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return server_->idling_on("INBOX") == 1; }, kPatience)) << diagnosis();
    settings_set(Key::IntervalTimer, "1");
    Timing t = timing();
    t.monitor_step_ms = 1; // the interval: 60 ms, so every pass asks for a count
    set_timing(t);
    const int connections = server_->connections();
    const int searches = count_commands(server_->commands(), "UID SEARCH");
    server_->deliver("alice", make_message("Taro <taro@example.com>", "alice@kd5lite.test", "w"), "Lists");
    ASSERT_TRUE(wait_until([&] { return count_commands(server_->commands(), "UID SEARCH") > searches; }, kPatience));
    EXPECT_EQ(pass(ids), 6) << diagnosis(); // asked in the middle of the change's count
    EXPECT_EQ(server_->connections(), connections) << diagnosis();
    EXPECT_EQ(occurrences(dir_.read("err07.log"), "error: 125"), 0) << diagnosis();
}

// What kd5lite --check tells of each folder: its count, how the push watches it, and one the server lacks.
TEST_F(PushWatcher, TheDiagnosisTellsEachFolderAndHowItIsWatched) {
    ImapScript script;
    script.capabilities = "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE";
    serve_folders(script);
    settings_set(Key::Folders, "\"Work\" \"INBOX\" \"Lists\" \"Gone\" \"Family\"", 0);
    std::vector<FolderReport> folders;
    ASSERT_EQ(folder_report(read_account(0), folders), 0) << diagnosis();
    Lines lines;
    for (const FolderReport& f : folders) {
        lines.push_back(folder_report_line(f, false));
    }
    EXPECT_EQ(lines, (Lines{"INBOX: 1 unseen, pushed by IDLE", "Work: 1 unseen, pushed by IDLE",
                            "Lists: 1 unseen, pushed by IDLE", "Gone: not on the server, left out",
                            "Family: 1 unseen, counted at the interval"}));
    script.capabilities += " NOTIFY";
    serve_folders(script);
    ASSERT_EQ(folder_report(read_account(0), folders), 0) << diagnosis();
    ASSERT_EQ(folders.size(), 5u);
    EXPECT_EQ(folder_report_line(folders[4], true), "Old: 1 sender hits, pushed by NOTIFY");
}

// A server without IDLE: the watcher says so and leaves; the interval alone brings the passes.
TEST_F(PushWatcher, ServerWithoutIdleLeavesTheIntervalInCharge) {
    ImapScript script;
    script.capabilities = "IMAP4rev1 AUTH=PLAIN";
    serve(script);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return state_log().find("push --> The end[No.0]") != std::string::npos; },
                           kPatience))
        << diagnosis();
    EXPECT_NE(state_log().find("push --> No IDLE[No.0]"), std::string::npos);
    EXPECT_EQ(count_commands(server_->commands(), " IDLE"), 0);
    EXPECT_EQ(count_commands(server_->commands(), " LOGOUT"), 1);
}

// A flood in IDLE is a broken connection: dropped, with its line, and a stop still ends everything at once.
TEST_F(PushWatcher, FloodInIdleIsDroppedAndTheStopStillHolds) {
    ImapScript script;
    script.fault = ImapFault::flood;
    script.fault_at = "IDLE";
    serve(script);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return occurrences(dir_.read("err07.log"), "[an IDLE command]") >= 1; },
                           kPatience))
        << diagnosis();
    EXPECT_NE(dir_.read("err07.log").find("The IMAP server broke the protocol [an IDLE command][no.0 error: 90]"),
              std::string::npos)
        << diagnosis();
    push_stop();
    EXPECT_TRUE(wait_until([&] { return server_->open_sessions() == 0; }, kPatience));
    EXPECT_NE(state_log().find("push --> The end[No.0]"), std::string::npos);
}

// A stop reaches a watcher in every step it can be in, and nothing of the run is left afterwards: no connection,
// no "A start" after "The end", no notice for the next run.
TEST_F(PushWatcher, StopEndsEveryStepAndLeavesNothingBehind) {
    struct Row {
        const char* name;
        ImapFault fault;
        std::string at;
        std::string reached; // the command the server has seen when the watcher is in the step; "": connected
    } rows[] = {
        {"waiting for the greeting", ImapFault::mute, "GREETING", ""},
        {"waiting for the login's answer", ImapFault::mute, "AUTHENTICATE", "AUTHENTICATE"},
        {"waiting for the TLS handshake", ImapFault::mute, "TLS", ""},
        {"in IDLE under a flood of * OK", ImapFault::flood, "IDLE", " IDLE"},
        {"in the backoff after a dropped IDLE", ImapFault::bye, "IDLE", " IDLE"},
    };
    Timing t = timing();
    t.connect_timeout_ms = 600000; // far beyond any test: only the stop can end these waits
    t.select_timeout_ms = 600000;
    t.idle_backoff_first_ms = 600000;
    t.idle_backoff_max_ms = 600000;
    set_timing(t);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir_.path("log07.log"));
        ImapScript script;
        script.fault = row.fault;
        script.fault_at = row.at;
        script.fault_delay_ms = 0;
        script.tls = row.at == "TLS" ? ImapTls::implicit : ImapTls::none;
        serve(script, row.at == "TLS" ? "2" : "0");
        push_start({read_account(0)});
        ASSERT_TRUE(wait_until(
            [&] {
                return server_->connections() >= 1 &&
                       (row.reached.empty() || count_commands(server_->commands(), row.reached) >= 1);
            },
            kPatience));
        if (row.fault == ImapFault::bye) {
            ASSERT_TRUE(wait_until([&] { return state_log().find("A start[No.0]") != std::string::npos; },
                                   kPatience));
            ASSERT_TRUE(wait_until([&] { return server_->open_sessions() == 0; }, kPatience));
        }
        push_stop();
        EXPECT_TRUE(wait_until([&] { return server_->open_sessions() == 0; }, kPatience));
        const std::string log = state_log();
        const std::size_t end = log.find("push --> The end[No.0]");
        ASSERT_NE(end, std::string::npos) << diagnosis();
        EXPECT_EQ(log.find("A start[No.0]", end), std::string::npos) << diagnosis();
        server_->stop();
    }
    // A run without IMAP accounts starts clean as well: a notice left from before brings no pass.
    monitor_wake().notify_all();
    push_start({});
    EXPECT_FALSE(monitor_wake().wait(0));
}

// A server that says BYE right after every IDLE begins is not logged into ever faster: the backoff grows from one
// connection to the next and is not reset by an IDLE that did not last.
TEST_F(PushWatcher, ServerThatDropsEveryIdleAtOnceIsTriedEverMoreRarely) {
    ImapScript script;
    script.fault = ImapFault::bye;
    script.fault_at = "IDLE";
    script.fault_delay_ms = 0;
    serve(script);
    Timing t = timing();
    t.idle_backoff_first_ms = 40;
    t.idle_backoff_max_ms = 600000;
    set_timing(t);
    push_start({read_account(0)});
    ASSERT_TRUE(wait_until([&] { return server_->connections() >= 2; }, kPatience));
    const Clock::time_point second = Clock::now();
    ASSERT_TRUE(wait_until([&] { return server_->connections() >= 6; }, kPatience)) << diagnosis();
    // The waits between the 2nd and the 6th connection are at least 80 + 160 + 320 + 640 ms; a backoff that went
    // back to 40 ms after each IDLE would have made them in a fraction of that. (A lower bound: load only adds.)
    EXPECT_GE(Clock::now() - second, std::chrono::milliseconds(1200));
}

// An OAuth2 account's watcher: a token the server refuses brings a renewed one for the next connection, which
// reaches IDLE; a source that gives no token (a revoked sign-in) brings no connection at all, however often the
// backoff lets the watcher ask again; Security 0 brings no watcher. Catches a watcher that tries the refused token
// again, one that logs in in a loop, one that connects without a token, and a token asked for to go out in clear.
TEST_F(PushWatcher, OAuth2TokensAreRenewedAfterARefusalAndNeverReplacedByNothing) {
    ImapScript script;
    script.tls = ImapTls::implicit;
    script.capabilities = "IMAP4rev1 AUTH=OAUTHBEARER IDLE";
    serve(script, "2");
    settings_set(Key::Auth, "1", 0);
    settings_set(Key::OAuthSource, "1", 0);
    std::atomic<int> asked{0};
    std::atomic<int> renewals{0};
    std::atomic<bool> revoked{false};
    set_token_source(1, [&](int, bool renew, std::string& token, CheckOutcome&) {
        ++asked;
        renewals += renew ? 1 : 0;
        token = renew ? "secret" : "at-stale"; // the mailbox's password is the token the server takes
        return revoked ? -1 : 0;
    });
    ASSERT_TRUE(watch_until_idle()) << diagnosis();
    EXPECT_EQ(count_commands(server_->commands(), " AUTHENTICATE OAUTHBEARER"), 2) << diagnosis();
    EXPECT_EQ(renewals, 1);
    EXPECT_EQ(occurrences(dir_.read("err07.log"), "refused the OAuth2 token (OAUTHBEARER invalid_token)"), 1);

    push_stop();
    revoked = true;
    const int connections = server_->connections();
    asked = 0;
    push_start({read_account(0)});
    EXPECT_TRUE(wait_until([&] { return asked >= 4; }, kPatience));
    push_stop();
    EXPECT_EQ(server_->connections(), connections) << diagnosis();

    // In clear no token is asked for and no watcher stays: the checks say why at every pass.
    settings_set(Key::Security, "0", 0);
    const int ended = occurrences(state_log(), "push --> The end[No.0]");
    asked = 0;
    push_start({read_account(0)});
    EXPECT_TRUE(wait_until([&] { return occurrences(state_log(), "push --> The end[No.0]") > ended; }, kPatience));
    push_stop();
    set_token_source(1, {});
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(server_->connections(), connections) << diagnosis();
}

// Only a change of a connection's own address or route drops it.
TEST(RouteCheck, HoldsUnlessTheConnectionsOwnAddressOrRouteChanged) {
    auto address = [](const char* text) {
        sockaddr_storage a{};
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
        v4->sin_family = AF_INET;
        inet_pton(AF_INET, text, &v4->sin_addr);
        return a;
    };
    auto address6 = [](const char* text) {
        sockaddr_storage a{};
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
        v6->sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &v6->sin6_addr);
        return a;
    };
    EXPECT_TRUE(route_holds(address("127.0.0.1"), address("127.0.0.1")));
    EXPECT_TRUE(route_holds(address("127.0.0.1"), address("127.0.0.2"))); // the same interface
    EXPECT_FALSE(route_holds(address("192.0.2.77"), address("127.0.0.1"))); // the address is gone
    // The route to a documentation address leaves through another interface than loopback, or there is none.
    EXPECT_FALSE(route_holds(address("127.0.0.1"), address("198.51.100.7")));
    EXPECT_FALSE(route_holds(address6("2001:db8::77"), address6("::1")));
}

} // namespace
