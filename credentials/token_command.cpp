// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/token_command.h"

#include "credentials/token_stop.h"
#include "platform/secret.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
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

// Reads what is there on fd into out, up to limit bytes in all (the rest is read and dropped, or the writer would
// block); true once the writer has closed it. Reads until the pipe is empty, at most a pipe's worth per call so
// that one busy writer does not hold up the other pipe.
bool drain(int fd, std::string& out, std::size_t limit, bool* overflow) {
    char chunk[4096];
    for (std::size_t taken = 0; taken < 65536; taken += sizeof chunk) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;
        }
        if (n < 0) {
            return false;
        }
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

// A pipe whose write end goes to the command as it is: blocking, so that a command that writes more than the pipe
// holds waits for the reader rather than failing. Only the reading end, ours, does not block.
bool open_pipe(int (&fds)[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    return true;
}

void close_pipe(int (&fds)[2]) {
    close(fds[0]);
    close(fds[1]);
}

// The command's end, without reaping it: while it is a zombie its process ID still names its group, so the group
// can be killed after it without hitting a new process that took the number.
bool has_exited(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

enum class End { exited, timed_out, too_long, cancelled };

// What the command says while it runs, until it exits, the time is up, it says too much or a stop comes. The end
// of the command ends the reading: a child it left behind may hold the pipes open for as long as it likes.
struct Reading {
    int out = -1;
    int err = -1;
    std::string output;
    std::string errors;
    bool overflow = false;
    bool out_open = true;
    bool err_open = true;

    void take(bool out_ready, bool err_ready) {
        if (out_open && out_ready) {
            out_open = !drain(out, output, kTokenOutputMax, &overflow);
        }
        if (err_open && err_ready) {
            err_open = !drain(err, errors, kErrorRead, nullptr);
        }
    }
};

End read_until_end(pid_t pid, int exit_fd, Clock::time_point deadline, Reading& r) {
    for (;;) {
        if (token_stop_asked()) {
            return End::cancelled;
        }
        if (has_exited(pid)) {
            return End::exited;
        }
        const int left = remaining_ms(deadline);
        if (left == 0) {
            return End::timed_out;
        }
        // Without a process descriptor (a kernel before 5.3) the end is looked for every 10 ms.
        const int wait = exit_fd >= 0 ? token_stop_slice_ms(left) : std::min(10, left);
        pollfd fds[4] = {{r.out_open ? r.out : -1, POLLIN, 0},
                         {r.err_open ? r.err : -1, POLLIN, 0},
                         {exit_fd, POLLIN, 0},
                         {token_stop_fd(), POLLIN, 0}};
        if (poll(fds, 4, wait) < 0 && errno != EINTR) {
            return End::timed_out;
        }
        r.take(fds[0].revents != 0, fds[1].revents != 0);
        if (r.overflow) {
            return End::too_long;
        }
    }
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
    if (token_stop_asked()) {
        result.status = Status::cancelled;
        result.exit_code = ECANCELED;
        return result;
    }
    int out[2];
    int err[2];
    if (!open_pipe(out)) {
        result.exit_code = errno;
        return result;
    }
    if (!open_pipe(err)) {
        result.exit_code = errno;
        close_pipe(out);
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& w : words) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);
    // A process group of its own, so that its end ends whatever the command started as well; standard input is
    // /dev/null: the notifier has no terminal to ask anything on.
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

    token_stop_add_group(pid);
    const int exit_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    Reading r;
    r.out = out[0];
    r.err = err[0];
    r.output.reserve(kTokenOutputMax);
    const End end = read_until_end(pid, exit_fd, Clock::now() + std::chrono::milliseconds(timeout_ms), r);
    // In every case, whatever is left of its group goes: a hung command, and the children an ended one left.
    token_stop_remove_group(pid);
    kill(-pid, SIGKILL);
    if (end == End::exited) {
        // What it wrote before it ended; its children are gone or going, so this ends with the pipes' contents.
        r.take(true, true);
    }
    close(out[0]);
    close(err[0]);
    if (exit_fd >= 0) {
        close(exit_fd);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.error_line = first_line(r.errors);
    if (r.overflow) {
        result.status = Status::too_long;
    } else if (end == End::cancelled) {
        result.status = Status::cancelled;
        result.exit_code = ECANCELED;
    } else if (end != End::exited) {
        result.status = Status::timed_out;
    } else if (WIFSIGNALED(status)) {
        result.status = Status::failed;
        result.exit_code = WTERMSIG(status);
    } else if (WEXITSTATUS(status) != 0) {
        result.status = Status::failed;
        result.exit_code = WEXITSTATUS(status);
    } else {
        std::string& output = r.output;
        // One token on one line: the line end (and any trailing blanks) is not part of it.
        std::size_t last = output.find_last_not_of(" \t\r\n");
        output.resize(last == std::string::npos ? 0 : last + 1);
        result.status = output.empty() ? Status::empty : Status::ok;
        if (result.status == Status::ok) {
            token.reserve(output.size());
            token.assign(output);
        }
    }
    wipe_secret(r.output);
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
