// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_command.h"

#include "credentials/token_stop.h"
#include "platform/child_run.h"
#include "platform/secret.h"

#include <cerrno>
#include <sys/wait.h>

namespace {

using Status = TokenCommandResult::Status;

constexpr std::size_t kErrorKept = 200; // the error line's length in the log

// The token fetches' stop (token_stop.h) as the child runner takes one.
ChildStop token_child_stop() {
    ChildStop stop;
    stop.asked = token_stop_asked;
    stop.fd = token_stop_fd();
    stop.slice_ms = token_stop_slice_ms;
    stop.add_group = token_stop_add_group;
    stop.remove_group = token_stop_remove_group;
    return stop;
}

void take_token(ChildResult& child, TokenCommandResult& result, std::string& token) {
    const int status = child.status;
    if (WIFSIGNALED(status)) {
        result.status = Status::failed;
        result.exit_code = WTERMSIG(status);
        return;
    }
    if (WEXITSTATUS(status) != 0) {
        result.status = Status::failed;
        result.exit_code = WEXITSTATUS(status);
        return;
    }
    std::string& output = child.output;
    // One token on one line: the line end (and any trailing blanks) is not part of it.
    std::size_t last = output.find_last_not_of(" \t\r\n");
    output.resize(last == std::string::npos ? 0 : last + 1);
    result.status = output.empty() ? Status::empty : Status::ok;
    if (result.status == Status::ok) {
        token.reserve(output.size());
        token.assign(output);
    }
}

} // namespace

std::vector<std::string> split_token_command(std::string_view command) {
    return split_command_words(command);
}

TokenCommandResult run_token_command(std::string_view command, int timeout_ms, std::string& token) {
    wipe_secret(token);
    TokenCommandResult result;
    ChildRun run;
    run.argv = split_command_words(command);
    run.timeout_ms = timeout_ms;
    run.output_max = kTokenOutputMax;
    run.stop = token_child_stop();
    ChildResult child = run_child(run);
    result.error_line = first_log_line(child.errors, kErrorKept);
    switch (child.end) {
    case ChildResult::End::not_run:
        result.exit_code = child.error;
        break;
    case ChildResult::End::too_long:
        result.status = Status::too_long;
        break;
    case ChildResult::End::cancelled:
        result.status = Status::cancelled;
        result.exit_code = ECANCELED;
        break;
    case ChildResult::End::timed_out:
        result.status = Status::timed_out;
        break;
    case ChildResult::End::exited:
        take_token(child, result, token);
        break;
    }
    wipe_secret(child.output);
    return result;
}

const char* token_command_status_text(TokenCommandResult::Status status) {
    switch (status) {
    case Status::ok:
        return "printed a token";
    case Status::failed:
        return "failed";
    case Status::timed_out:
        return "did not end in time";
    case Status::too_long:
        return "printed more than 4 KB";
    case Status::empty:
        return "printed nothing";
    case Status::not_run:
        return "could not be started";
    case Status::cancelled:
        return "was stopped";
    }
    return "";
}
