// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/command_line.h"

#include "kd5_version.h"

namespace {

bool listed(std::initializer_list<std::string_view> options, std::string_view word) {
    for (std::string_view option : options) {
        if (word == option) {
            return true;
        }
    }
    return false;
}

} // namespace

CommandLine parse_command_line(int argc, const char* const* argv, std::initializer_list<std::string_view> own,
                               std::initializer_list<std::string_view> with_value,
                               std::initializer_list<std::string_view> may_take_value) {
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
        line.action = listed(own, word) ? CommandLineAction::run : CommandLineAction::usage_error;
    }
    int words = 2;
    if (line.action == CommandLineAction::run && listed(with_value, word)) {
        if (argc < 3 || argv[2] == nullptr) {
            line.action = CommandLineAction::no_value;
            return line;
        }
        line.value = argv[2];
        words = 3;
    } else if (line.action == CommandLineAction::run && listed(may_take_value, word) && argc > 2 &&
               argv[2] != nullptr) {
        line.value = argv[2];
        words = 3;
    }
    // One option at most: a further word is refused, even after --help, so that a mistyped line is never half obeyed.
    if (argc > words) {
        line.action = CommandLineAction::usage_error;
        line.option = argv[words] != nullptr ? argv[words] : "";
        line.value.clear();
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
    case CommandLineAction::no_value:
        std::fprintf(err, "%s: option '%s' needs a value\nUsage: %s\n", program, line.option.c_str(), usage);
        return 2;
    case CommandLineAction::run:
        break;
    }
    return 0;
}
