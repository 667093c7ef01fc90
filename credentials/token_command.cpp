// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_command.h"

#include "platform/secret.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Status = TokenCommandResult::Status;

constexpr std::size_t kErrorKept = 200;  // the error line's length in the log
constexpr std::size_t kErrorRead = 4096; // standard error read past this is drained and dropped

// The first line of what the program said on standard error, every byte that could break a log line replaced.
std::string first_line(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || line.size() == kErrorKept) {
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return line;
}

// Reads what is there on fd into out, up to limit bytes in all; true once the writer has closed it.
bool drain(int fd, std::string& out, std::size_t limit, bool* overflow) {
    char chunk[1024];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        return true;
    }
    if (n > 0) {
        const std::size_t room = limit > out.size() ? limit - out.size() : 0;
        out.append(chunk, std::min(room, static_cast<std::size_t>(n)));
        if (static_cast<std::size_t>(n) > room && overflow != nullptr) {
            *overflow = true;
        }
        wipe_secret(chunk, sizeof chunk);
    }
    return false;
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

std::vector<std::string> split_token_command(std::string_view command) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < command.size()) {
        const std::size_t start = command.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = command.find(' ', start);
        words.emplace_back(command.substr(start, end == std::string_view::npos ? end : end - start));
        at = end == std::string_view::npos ? command.size() : end;
    }
    return words;
}

TokenCommandResult run_token_command(std::string_view command, int timeout_ms, std::string& token) {
    wipe_secret(token);
    TokenCommandResult result;
    const std::vector<std::string> words = split_token_command(command);
    if (words.empty()) {
        result.exit_code = EINVAL;
        return result;
    }
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0) {
        result.exit_code = errno;
        return result;
    }
    if (pipe2(err, O_CLOEXEC | O_NONBLOCK) != 0) {
        result.exit_code = errno;
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& w : words) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);
    // A process group of its own, so that a time-out ends whatever the command started as well; standard input
    // is /dev/null: the notifier has no terminal to ask anything on.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        result.exit_code = spawned;
        return result;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string output;
    output.reserve(kTokenOutputMax);
    std::string errors;
    bool out_done = false;
    bool err_done = false;
    bool overflow = false;
    while (!(out_done && err_done) && !overflow) {
        const int left = remaining_ms(deadline);
        if (left == 0) {
            break;
        }
        pollfd fds[2] = {{out_done ? -1 : out[0], POLLIN, 0}, {err_done ? -1 : err[0], POLLIN, 0}};
        if (poll(fds, 2, left) < 0 && errno != EINTR) {
            break;
        }
        if (!out_done && fds[0].revents != 0) {
            out_done = drain(out[0], output, kTokenOutputMax, &overflow);
        }
        if (!err_done && fds[1].revents != 0) {
            err_done = drain(err[0], errors, kErrorRead, nullptr);
        }
    }
    close(out[0]);
    close(err[0]);

    // Waits for the end within what is left of the time limit: closing its output does not end a program.
    int status = 0;
    bool ended = false;
    while (!overflow) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            ended = true;
            break;
        }
        if (remaining_ms(deadline) == 0) {
            break;
        }
        pollfd nothing{-1, 0, 0};
        poll(&nothing, 0, std::min(10, remaining_ms(deadline)));
    }
    if (!ended) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    result.error_line = first_line(errors);
    if (overflow) {
        result.status = Status::too_long;
    } else if (!ended) {
        result.status = Status::timed_out;
    } else if (WIFSIGNALED(status)) {
        result.status = Status::failed;
        result.exit_code = WTERMSIG(status);
    } else if (WEXITSTATUS(status) != 0) {
        result.status = Status::failed;
        result.exit_code = WEXITSTATUS(status);
    } else {
        // One token on one line: the line end (and any trailing blanks) is not part of it.
        std::size_t end = output.find_last_not_of(" \t\r\n");
        output.resize(end == std::string::npos ? 0 : end + 1);
        result.status = output.empty() ? Status::empty : Status::ok;
        if (result.status == Status::ok) {
            token.reserve(output.size());
            token.assign(output);
        }
    }
    wipe_secret(output);
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
    }
    return "";
}
