// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_command.h"

#include "credentials/token_stop.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace {

using Status = TokenCommandResult::Status;

// Gone, or a zombie waiting for whoever inherited it to reap it.
bool process_ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field, name, state;
    return !(stat >> field >> name >> state) || state == "Z";
}

// Token helpers as small scripts in a directory of the test's own. The command line itself goes through no shell.
class TokenCommand : public ::testing::Test {
protected:
    std::string script(const std::string& name, const std::string& body) {
        dir_.write(name, "#!/bin/sh\n" + body);
        chmod(dir_.path(name).c_str(), 0700);
        return dir_.path(name);
    }

    TempCorvo dir_;
};

// The four behaviours of a helper (good, failing, hanging, oversized) and those around them: catches a token that
// keeps its line end, a failure taken as a token, a hang that holds the check, a flood read without end, a
// child left running, and standard error that reaches the log as more than one line.
TEST_F(TokenCommand, EachWayAHelperEndsHasItsResult) {
    const std::string token_file = dir_.path("token");
    dir_.write("token", "ya29.a0Af-token\n");
    struct Row {
        std::string name;
        std::string body;
        std::string arguments;
        Status status;
        std::string token;
        std::string error_line;
        int exit_code;
    };
    const Row rows[] = {
        {"good", "cat \"$2\"\n", "--account   " + token_file, Status::ok, "ya29.a0Af-token", "", 0},
        {"crlf", "printf 'tok\\r\\n \\n'\n", "", Status::ok, "tok", "", 0},
        {"failing", "echo 'invalid_grant: Token has been expired\nsecond line' >&2\nexit 3\n", "", Status::failed, "",
         "invalid_grant: Token has been expired", 3},
        {"say_and_fail", "echo tok\necho \"$(printf 'bad\\033[31m')\" >&2\nexit 1\n", "", Status::failed, "",
         "bad?[31m", 1},
        {"hanging", "echo waiting >&2\nsleep 60\n", "", Status::timed_out, "", "waiting", 0},
        {"oversized", "head -c 5000 /dev/zero | tr '\\0' a\nsleep 60\n", "", Status::too_long, "", "", 0},
        {"exactly_4k", "head -c 4096 /dev/zero | tr '\\0' b\n", "", Status::ok, std::string(4096, 'b'), "", 0},
        {"silent", "exit 0\n", "", Status::empty, "", "", 0},
        {"killed", "kill -TERM $$\n", "", Status::failed, "", "", SIGTERM},
        // A helper that says much on standard error before its token: its writes block until read, never fail.
        {"loud", "head -c 204800 /dev/zero | tr '\\0' e >&2 && echo tok\n", "", Status::ok, "tok",
         std::string(200, 'e'), 0},
    };
    for (const Row& row : rows) {
        const std::string command = script(row.name, row.body) + (row.arguments.empty() ? "" : " " + row.arguments);
        std::string token = "previous token";
        const TokenCommandResult r = run_token_command(command, 1500, token);
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(token, row.token) << row.name;
        EXPECT_EQ(r.error_line, row.error_line) << row.name;
        EXPECT_EQ(r.exit_code, row.exit_code) << row.name;
    }
}

TEST_F(TokenCommand, ProgramsThatCannotRunAreNotRun) {
    std::string token = "previous";
    EXPECT_EQ(run_token_command("   ", 1000, token).status, Status::not_run);
    EXPECT_EQ(token, "");
    EXPECT_EQ(run_token_command(dir_.path("missing"), 1000, token).status, Status::not_run);
    dir_.write("plain", "not a program");
    EXPECT_EQ(run_token_command(dir_.path("plain"), 1000, token).status, Status::not_run);
}

// A time-out ends what the helper started too, not only the helper.
TEST_F(TokenCommand, ATimeOutEndsTheWholeGroup) {
    const std::string marker = dir_.path("child.pid");
    const std::string command = script("spawner", "sleep 60 &\necho $! > \"$1\"\nwait\n") + " " + marker;
    std::string token;
    EXPECT_EQ(run_token_command(command, 500, token).status, Status::timed_out);
    const pid_t child = std::stoi(dir_.read("child.pid"));
    EXPECT_TRUE(wait_until([child] { return process_ended(child); }, 5000)) << child;
}

// The end of the helper is the end of the run, whatever it left behind: a child that holds its standard output
// (or error) open does not keep the check waiting for the time limit, and it is killed with the group. Catches a
// run that reads until the pipes close and a group left running after a helper that ended well.
TEST_F(TokenCommand, TheHelpersEndEndsTheRunAndItsGroup) {
    struct Row {
        const char* name;
        const char* body;
        Status status;
    } rows[] = {
        {"keeps_stdout", "sleep 60 &\necho $! > \"$1\"\necho tok\n", Status::ok},
        {"keeps_stderr", "sleep 60 >/dev/null &\necho $! > \"$1\"\necho tok\n", Status::ok},
        {"fails_and_keeps", "sleep 60 &\necho $! > \"$1\"\nexit 4\n", Status::failed},
    };
    for (const Row& row : rows) {
        const std::string marker = dir_.path(std::string(row.name) + ".pid");
        std::string token;
        const auto start = std::chrono::steady_clock::now();
        const TokenCommandResult r = run_token_command(script(row.name, row.body) + " " + marker, 10000, token);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(token, row.status == Status::ok ? "tok" : "") << row.name;
        const pid_t child = std::stoi(dir_.read(std::string(row.name) + ".pid"));
        EXPECT_TRUE(wait_until([child] { return process_ended(child); }, 5000)) << row.name << " " << child;
    }
}

// A stop ends a helper that hangs, at once and with its group: raised before the run (nothing is started), while
// it runs, or seen by the look at a stop asked for elsewhere. Catches a stop that waits out the time limit.
TEST_F(TokenCommand, AStopEndsAHangingHelper) {
    static std::atomic<bool> asked_elsewhere{false};
    struct Row {
        const char* name;
        bool raise_before;
        bool raise_while;
        bool look;
    } rows[] = {
        {"before", true, false, false},
        {"while", false, true, false},
        {"looked", false, false, true},
    };
    const std::string started = dir_.path("started");
    // The pid file appears whole (written aside, then renamed): a stop raised the moment it appears must not find
    // it empty.
    const std::string command =
        script("hang", "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"\nexec sleep 60\n") + " " + started;
    for (const Row& row : rows) {
        std::remove(started.c_str());
        asked_elsewhere = false;
        token_stop_clear();
        set_token_stop_look(row.look ? +[] { return asked_elsewhere.load(); } : nullptr);
        if (row.raise_before) {
            token_stop_raise();
        }
        std::thread stopper([&] {
            if (row.raise_while || row.look) {
                wait_until([&] { return dir_.exists("started"); }, 5000);
                row.look ? asked_elsewhere.store(true) : token_stop_raise();
            }
        });
        std::string token;
        const auto start = std::chrono::steady_clock::now();
        const TokenCommandResult r = run_token_command(command, 30000, token);
        const auto took = std::chrono::steady_clock::now() - start;
        stopper.join();
        EXPECT_EQ(r.status, Status::cancelled) << row.name;
        EXPECT_LT(took, std::chrono::seconds(10)) << row.name;
        EXPECT_EQ(dir_.exists("started"), !row.raise_before) << row.name;
        if (dir_.exists("started")) {
            const pid_t helper = std::stoi(dir_.read("started"));
            EXPECT_TRUE(wait_until([helper] { return process_ended(helper); }, 5000)) << row.name;
        }
        EXPECT_TRUE(token_stop_asked()) << row.name; // a look that said stop raised the signal for every fetch
    }
    set_token_stop_look(nullptr);
    token_stop_clear();
    EXPECT_FALSE(token_stop_asked());
}

TEST(TokenCommandSplit, SpacesSeparateAndNothingElseDoes) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(split_token_command("  /usr/bin/helper  --user a@b 'quoted word' "),
              (Words{"/usr/bin/helper", "--user", "a@b", "'quoted", "word'"}));
    EXPECT_EQ(split_token_command("a\tb"), (Words{"a\tb"}));
    EXPECT_EQ(split_token_command(""), Words{});
}

} // namespace
