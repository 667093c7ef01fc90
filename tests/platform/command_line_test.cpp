// SPDX-License-Identifier: GPL-3.0-or-later
// The pure reading of a program's command line: which words run it, which answer, which are refused.

#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine parsed(std::vector<const char*> words) {
    words.insert(words.begin(), "kd5lite");
    return parse_command_line(static_cast<int>(words.size()), words.data(), {"--check"});
}

TEST(CommandLineText, EachWordIsReadOneWay) {
    using A = CommandLineAction;
    struct Row {
        std::vector<const char*> words;
        A action;
        const char* option;
    };
    const Row rows[] = {
        {{}, A::run, ""},
        {{"--check"}, A::run, "--check"},
        {{"--help"}, A::help, "--help"},
        {{"-h"}, A::help, "-h"},
        {{"--version"}, A::version, "--version"},
        {{"--bogus"}, A::usage_error, "--bogus"},
        {{"--check="}, A::usage_error, "--check="},
        {{"-check"}, A::usage_error, "-check"},
        {{""}, A::usage_error, ""},
        {{"--CHECK"}, A::usage_error, "--CHECK"},
        {{"--check", "extra"}, A::usage_error, "extra"},
        {{"--help", "--bogus"}, A::usage_error, "--bogus"}, // a second word is never half obeyed
    };
    for (const Row& row : rows) {
        CommandLine line = parsed(row.words);
        EXPECT_EQ(line.action, row.action) << (row.words.empty() ? "(none)" : row.words[0]);
        EXPECT_EQ(line.option, row.option);
    }
    const char* none[] = {"kd5lite_ap", "--check"};
    EXPECT_EQ(parse_command_line(2, none, {}).action, A::usage_error); // an option of another program
}

// An option that takes a value takes exactly the next word: catches the value missing taken as a run, a value
// that looks like an option refused, and a third word half obeyed.
TEST(CommandLineText, AnOptionWithAValueTakesTheNextWord) {
    using A = CommandLineAction;
    struct Row {
        std::vector<const char*> words;
        A action;
        const char* option;
        const char* value;
    };
    const Row rows[] = {
        {{"--discover", "a@example.org"}, A::run, "--discover", "a@example.org"},
        {{"--discover", "--check"}, A::run, "--discover", "--check"},
        {{"--discover", ""}, A::run, "--discover", ""},
        {{"--discover"}, A::no_value, "--discover", ""},
        {{"--discover", "a@example.org", "b"}, A::usage_error, "b", ""},
        {{"--check", "a@example.org"}, A::usage_error, "a@example.org", ""},
        {{"--help", "a@example.org"}, A::usage_error, "a@example.org", ""},
    };
    for (const Row& row : rows) {
        std::vector<const char*> words = row.words;
        words.insert(words.begin(), "kd5lite");
        const CommandLine line =
            parse_command_line(static_cast<int>(words.size()), words.data(), {"--check", "--discover"}, {"--discover"});
        EXPECT_EQ(line.action, row.action) << row.words[0];
        EXPECT_EQ(line.option, row.option) << row.words[0];
        EXPECT_EQ(line.value, row.value) << row.words[0];
    }
}

// An option that may take a value takes the next word when there is one, and runs without it: catches the word
// refused, the option refused alone, and a third word half obeyed.
TEST(CommandLineText, AnOptionThatMayTakeAValueTakesTheNextWordWhenThere) {
    using A = CommandLineAction;
    struct Row {
        std::vector<const char*> words;
        A action;
        const char* option;
        const char* value;
    };
    const Row rows[] = {
        {{"--ack"}, A::run, "--ack", ""},
        {{"--ack", "2"}, A::run, "--ack", "2"},
        {{"--status", "--json"}, A::run, "--status", "--json"},
        {{"--status", "--json", "x"}, A::usage_error, "x", ""},
        {{"--start", "2"}, A::usage_error, "2", ""},
    };
    for (const Row& row : rows) {
        std::vector<const char*> words = row.words;
        words.insert(words.begin(), "kd5lite");
        const CommandLine line = parse_command_line(static_cast<int>(words.size()), words.data(),
                                                    {"--ack", "--status", "--start"}, {}, {"--ack", "--status"});
        EXPECT_EQ(line.action, row.action) << row.words[0];
        EXPECT_EQ(line.option, row.option) << row.words[0];
        EXPECT_EQ(line.value, row.value) << row.words[0];
    }
}

TEST(CommandLineText, AnswersGoToTheirStreamWithTheirStatus) {
    struct Row {
        CommandLineAction action;
        int status;
        bool on_out;
    };
    const Row rows[] = {{CommandLineAction::help, 0, true},
                        {CommandLineAction::version, 0, true},
                        {CommandLineAction::usage_error, 2, false},
                        {CommandLineAction::no_value, 2, false}};
    for (const Row& row : rows) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out != nullptr && err != nullptr);
        EXPECT_EQ(answer_command_line({row.action, "--x", ""}, "prog", "prog [--help]", "details\n", out, err), row.status);
        EXPECT_EQ(std::ftell(out) > 0, row.on_out);
        EXPECT_EQ(std::ftell(err) > 0, !row.on_out);
        std::fclose(out);
        std::fclose(err);
    }
}

} // namespace
