// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

// The command line of the three programs, read before anything else happens: no window, no settings directory. Each
// takes at most one option of its own (with its one value, for an option that takes one), and every one answers
// --help and --version; anything else is refused with a usage line and exit status 2 (the status of a usage error,
// as the shell's own commands give it).

enum class CommandLineAction {
    run,         // the program's work, with `option` ("" or one of its own options)
    help,        // --help or -h: the usage on standard output, status 0
    version,     // --version: the program's name and version on standard output, status 0
    usage_error, // `option` is the word refused
    no_value,    // `option` takes a value, and none came after it
};

struct CommandLine {
    CommandLineAction action = CommandLineAction::run;
    std::string option;
    std::string value; // the word after an option that takes one
};

// argv[0] is the program itself. own: the options of this program besides --help and --version; with_value: those
// of them that take the next word as their value; may_take_value: those that take the next word when there is one.
CommandLine parse_command_line(int argc, const char* const* argv, std::initializer_list<std::string_view> own,
                               std::initializer_list<std::string_view> with_value = {},
                               std::initializer_list<std::string_view> may_take_value = {});

// What a program says for help, version and a usage error, and its exit status. usage: the synopsis after
// "Usage: ", e.g. "kd5lite [--check]"; details: the lines --help adds below it.
int answer_command_line(const CommandLine& line, const char* program, const char* usage, const char* details,
                        std::FILE* out, std::FILE* err);
