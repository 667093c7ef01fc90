// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of the three programs, run for real: help and version answer and end, anything else is refused
// with a usage line and status 2, and none of it starts a program's work or makes its settings directory; nor does
// the login autostart of a user who has no settings file.

#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(CommandLine, EveryProgramAnswersHelpAndVersionAndRefusesTheRestBeforeMakingAnything) {
    struct Row {
        const char* program;
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const std::string notifier = KD5LITE_BINARY;
    const std::string setup = KD5LITE_AP_BINARY;
    const std::string option = KD5LITE_OP_BINARY;
    const Row rows[] = {
        {"kd5lite", {"--help"}, 0, "Usage: kd5lite [--check | --discover ADDRESS | --status [--json] | --ack [N] | "
                                   "--check-now | --start | --stop | --snooze MINUTES | --autostart | --help | "
                                   "--version]\n"},
        {"kd5lite", {"--help"}, 0, "\n--ack [N]    acknowledges"},
        // The verbs without a notifier: status 3, and nothing made.
        {"kd5lite", {"--status"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--status", "--json"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--ack"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--ack", "3"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--check-now"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--start"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--stop"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--snooze", "60"}, 3, "kd5lite: no notifier runs\n"},
        {"kd5lite", {"--snooze"}, 2, "kd5lite: option '--snooze' needs a value"},
        {"kd5lite", {"--snooze", "-5"}, 2, "kd5lite: unknown option '-5'"},
        {"kd5lite", {"--snooze", "1h"}, 2, "kd5lite: unknown option '1h'"},
        {"kd5lite", {"--status", "--xml"}, 2, "kd5lite: unknown option '--xml'\nUsage: kd5lite [--check"},
        {"kd5lite", {"--status", "--json", "x"}, 2, "kd5lite: unknown option 'x'"},
        {"kd5lite", {"--ack", "0"}, 2, "kd5lite: unknown option '0'"},
        {"kd5lite", {"--ack", "-1"}, 2, "kd5lite: unknown option '-1'"},
        {"kd5lite", {"--start", "1"}, 2, "kd5lite: unknown option '1'"},
        {"kd5lite", {"-h"}, 0, "--check "},
        {"kd5lite", {"--version"}, 0, "kd5lite 2.20.2\n"},
        {"kd5lite", {"--bogus"}, 2, "kd5lite: unknown option '--bogus'\nUsage: kd5lite [--check | --discover"},
        {"kd5lite", {"--discover"}, 2, "kd5lite: option '--discover' needs a value"},
        {"kd5lite", {"--discover", "a@example.invalid", "b"}, 2, "kd5lite: unknown option 'b'"},
        // Names under "invalid" never exist (RFC 6761): the search ends at once, and without the network.
        {"kd5lite", {"--discover", "carol@example.invalid"}, 1, "error: example.invalid: "},
        {"kd5lite", {"--discover", "carol"}, 1, "error: not a mail address\n"},
        {"kd5lite", {"--discover", "dave@qq.com"}, 0, "server: imap.qq.com\nport: 993\n"},
        {"kd5lite", {"--autostart"}, 0, ""}, // a user without settings: the login entry makes nothing
        {"kd5lite", {"--check", "--now"}, 2, "kd5lite: unknown option '--now'"},
        {"kd5lite", {"check"}, 2, "kd5lite: unknown option 'check'"},
        {"kd5lite_ap", {"--help"}, 0, "Usage: kd5lite_ap [--help | --version]\n"},
        {"kd5lite_ap", {"--version"}, 0, "kd5lite_ap 2.20.2\n"},
        {"kd5lite_ap", {"--check"}, 2, "kd5lite_ap: unknown option '--check'"},
        {"kd5lite_ap", {"-platform", "offscreen"}, 2, "kd5lite_ap: unknown option"},
        {"kd5lite_op", {"--help"}, 0, "Usage: kd5lite_op [--help | --version]\n"},
        {"kd5lite_op", {"--version"}, 0, "kd5lite_op 2.20.2\n"},
        {"kd5lite_op", {"--bogus"}, 2, "kd5lite_op: unknown option '--bogus'"},
    };
    TempCorvo dir;
    const std::string home = dir.path("never-made");
    int run = 0;
    for (const Row& row : rows) {
        const std::string& binary = std::string(row.program) == "kd5lite"      ? notifier
                                    : std::string(row.program) == "kd5lite_ap" ? setup
                                                                               : option;
        std::vector<std::string> argv = {binary};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(std::string(row.program) + " " + row.args.front());
        ChildProcess child(argv, {{"CORVO_HOME", home}, {"XDG_RUNTIME_DIR", dir.dir()}, {"QT_QPA_PLATFORM", "offscreen"}},
                           dir.path("out" + std::to_string(++run)));
        // A program that went on to its work would not end by itself: the window or the notifier waits.
        EXPECT_EQ(child.wait_exit(), row.status) << child.output();
        EXPECT_NE(child.output().find(row.says), std::string::npos) << child.output();
        EXPECT_FALSE(std::filesystem::exists(home));
    }
}

} // namespace
