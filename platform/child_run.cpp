// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/child_run.h"

#include "platform/secret.h"

#include <algorithm>
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
using End = ChildResult::End;

constexpr std::size_t kErrorRead = 4096; // standard error read past this is drained and dropped

// Reads what is there on fd into out, up to limit bytes in all (the rest is read and dropped, or the writer would
// block); true once the writer has closed it. Reads until the pipe is empty, at most a pipe's worth per call so
// that one busy writer does not hold up the other pipe. Each chunk is wiped: the output may be a secret.
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

// A pipe whose write end goes to the child as it is: blocking, so that a child that writes more than the pipe
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

// The child's end, without reaping it: while it is a zombie its process ID still names its group, so the group
// can be killed after it without hitting a new process that took the number.
bool has_exited(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

bool stop_asked(const ChildStop& stop) {
    return stop.asked != nullptr && stop.asked();
}

// What the child says while it runs, until it exits, the time is up, it says too much or a stop comes. The end
// of the child ends the reading: a grandchild it left behind may hold the pipes open for as long as it likes.
struct Reading {
    int out = -1;
    int err = -1;
    std::size_t output_max = 0;
    std::string output;
    std::string errors;
    bool overflow = false;
    bool out_open = true;
    bool err_open = true;

    void take(bool out_ready, bool err_ready) {
        if (out_open && out_ready) {
            out_open = !drain(out, output, output_max, &overflow);
        }
        if (err_open && err_ready) {
            err_open = !drain(err, errors, kErrorRead, nullptr);
        }
    }
};

End read_until_end(pid_t pid, int exit_fd, Clock::time_point deadline, const ChildStop& stop, Reading& r) {
    for (;;) {
        if (stop_asked(stop)) {
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
        int wait = stop.slice_ms != nullptr ? stop.slice_ms(left) : left;
        wait = exit_fd >= 0 ? wait : std::min(10, wait);
        pollfd fds[4] = {{r.out_open ? r.out : -1, POLLIN, 0},
                         {r.err_open ? r.err : -1, POLLIN, 0},
                         {exit_fd, POLLIN, 0},
                         {stop.fd, POLLIN, 0}};
        if (poll(fds, 4, wait) < 0 && errno != EINTR) {
            return End::timed_out;
        }
        r.take(fds[0].revents != 0, fds[1].revents != 0);
        if (r.overflow) {
            return End::too_long;
        }
    }
}

// The program's environment with the run's entries in place of any of the same name.
std::vector<char*> child_environment(const std::vector<std::string>& entries) {
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::size_t name = eq != nullptr ? static_cast<std::size_t>(eq - *e) : std::strlen(*e);
        const bool replaced = std::any_of(entries.begin(), entries.end(), [&](const std::string& entry) {
            return entry.size() > name && entry[name] == '=' && entry.compare(0, name, *e, name) == 0;
        });
        if (!replaced) {
            env.push_back(*e);
        }
    }
    for (const std::string& entry : entries) {
        env.push_back(const_cast<char*>(entry.c_str()));
    }
    env.push_back(nullptr);
    return env;
}

} // namespace

std::vector<std::string> split_command_words(std::string_view command) {
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

ChildResult run_child(const ChildRun& run) {
    ChildResult result;
    if (run.argv.empty()) {
        result.error = EINVAL;
        return result;
    }
    if (stop_asked(run.stop)) {
        result.end = End::cancelled;
        result.error = ECANCELED;
        return result;
    }
    int out[2];
    int err[2];
    if (!open_pipe(out)) {
        result.error = errno;
        return result;
    }
    if (!open_pipe(err)) {
        result.error = errno;
        close_pipe(out);
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& w : run.argv) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp = child_environment(run.environment);
    // A process group of its own, so that its end ends whatever it started as well; standard input is /dev/null:
    // the notifier has no terminal to ask anything on.
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
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        result.error = spawned;
        return result;
    }

    if (run.stop.add_group != nullptr) {
        run.stop.add_group(pid);
    }
    const int exit_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    Reading r;
    r.out = out[0];
    r.err = err[0];
    r.output_max = run.output_max;
    r.output.reserve(run.output_max);
    result.end = read_until_end(pid, exit_fd, Clock::now() + std::chrono::milliseconds(run.timeout_ms), run.stop, r);
    // In every case, whatever is left of its group goes: a hung child, and the children an ended one left.
    if (run.stop.remove_group != nullptr) {
        run.stop.remove_group(pid);
    }
    kill(-pid, SIGKILL);
    if (result.end == End::exited) {
        // What it wrote before it ended; its children are gone or going, so this ends with the pipes' contents.
        r.take(true, true);
        result.end = r.overflow ? End::too_long : End::exited;
    }
    close(out[0]);
    close(err[0]);
    if (exit_fd >= 0) {
        close(exit_fd);
    }
    while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
    }
    if (result.end == End::cancelled) {
        result.error = ECANCELED;
    }
    result.output = std::move(r.output);
    result.errors = std::move(r.errors);
    return result;
}

std::string first_log_line(const std::string& text, std::size_t max) {
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || line.size() == max) {
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return line;
}

void ChildGroups::add(int pgid) {
    std::lock_guard lock(mutex_);
    groups_.insert(pgid);
    if (ended_) {
        kill(-pgid, SIGKILL);
    }
}

void ChildGroups::remove(int pgid) {
    std::lock_guard lock(mutex_);
    groups_.erase(pgid);
}

void ChildGroups::end_all() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    for (int pgid : groups_) {
        kill(-pgid, SIGKILL);
    }
}

void ChildGroups::reopen() {
    std::lock_guard lock(mutex_);
    ended_ = false;
}

bool ChildGroups::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}
