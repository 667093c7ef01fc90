// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_command.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>

namespace {

using Status = TokenCommandResult::Status;

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
    // Gone, or a zombie waiting for whoever inherited it to reap it.
    auto ended = [child] {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string pid, name, state;
        return !(stat >> pid >> name >> state) || state == "Z";
    };
    EXPECT_TRUE(wait_until(ended, 5000)) << child;
}

TEST(TokenCommandSplit, SpacesSeparateAndNothingElseDoes) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(split_token_command("  /usr/bin/helper  --user a@b 'quoted word' "),
              (Words{"/usr/bin/helper", "--user", "a@b", "'quoted", "word'"}));
    EXPECT_EQ(split_token_command("a\tb"), (Words{"a\tb"}));
    EXPECT_EQ(split_token_command(""), Words{});
}

} // namespace
