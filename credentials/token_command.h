// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The token command of an account (source 3): a program of the user's own that prints an OAuth2 access token on
// its standard output, as token helpers of other mail programs do. No shell: the setting is split on spaces into
// the program and its arguments. The output is the token and is never logged; the program's standard error is
// kept as one line for the error log.

// The setting split on runs of spaces; empty when there is nothing but spaces.
std::vector<std::string> split_token_command(std::string_view command);

struct TokenCommandResult {
    enum class Status {
        ok,        // exited with 0 and printed a token
        failed,    // exited with another status, or was ended by a signal
        timed_out, // still running after the time limit: ended with SIGKILL, with everything it started
        too_long,  // printed more than kTokenOutputMax bytes: ended the same way
        empty,     // exited with 0 but printed nothing
        not_run,   // an empty command, or a program that cannot be started
        cancelled, // a stop came (token_stop.h): ended the same way, or not started
    };
    Status status = Status::not_run;
    int exit_code = 0;      // the exit status, or the signal for a program ended by one, or errno for not_run
    std::string error_line; // the first line of its standard error, cut and made safe for a log line
};

inline constexpr std::size_t kTokenOutputMax = 4096;

// Runs the command with timeout_ms as its time limit, or until a stop (token_stop.h); the token (its output without
// the line end) into token, which is wiped first and left empty unless the status is ok. The command's end ends
// the run: what it printed until then counts, and whatever it left running in its process group is killed, as
// the whole group is at a time-out or a stop.
TokenCommandResult run_token_command(std::string_view command, int timeout_ms, std::string& token);

// A few words for the status, for the error line ("timed out", ...).
const char* token_command_status_text(TokenCommandResult::Status status);
