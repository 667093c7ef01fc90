// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/command_line.h"

#include "kd5_version.h"

CommandLine parse_command_line(int argc, const char* const* argv, std::initializer_list<std::string_view> own) {
    if (argc <= 1 || argv == nullptr) {
        return {};
    }
    const std::string_view word = argv[1] != nullptr ? argv[1] : "";
    CommandLine line;
    line.option = std::string(word);
    if (word == "--help" || word == "-h") {
        line.action = CommandLineAction::help;
    } else if (word == "--version") {
        line.action = CommandLineAction::version;
    } else {
        bool known = false;
        for (std::string_view option : own) {
            known = known || word == option;
        }
        line.action = known ? CommandLineAction::run : CommandLineAction::usage_error;
    }
    // One option at most: a second word is refused, even after --help, so that a mistyped line is never half obeyed.
    if (argc > 2) {
        line.action = CommandLineAction::usage_error;
        line.option = argv[2] != nullptr ? argv[2] : "";
    }
    return line;
}

int answer_command_line(const CommandLine& line, const char* program, const char* usage, const char* details,
                        std::FILE* out, std::FILE* err) {
    switch (line.action) {
    case CommandLineAction::help:
        std::fprintf(out, "Usage: %s\n\n%s", usage, details);
        return 0;
    case CommandLineAction::version:
        std::fprintf(out, "%s %s\n", program, KD5_VERSION);
        return 0;
    case CommandLineAction::usage_error:
        std::fprintf(err, "%s: unknown option '%s'\nUsage: %s\n", program, line.option.c_str(), usage);
        return 2;
    case CommandLineAction::run:
        break;
    }
    return 0;
}
