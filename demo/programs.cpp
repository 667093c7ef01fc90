// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/programs.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> changed_environment(const std::vector<EnvChange>& changes) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (auto eq = entry.find('='); eq != std::string::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value.empty()) {
            vars.erase(name);
        } else {
            vars[name] = value;
        }
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : vars) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) {
        out.push_back(t.data());
    }
    out.push_back(nullptr);
    return out;
}

// Between fork and exec only async-signal-safe calls: everything the child needs is prepared before the fork.
[[noreturn]] void become(pid_t parent, int in_fd, int out_fd, char** argv, char** envp) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, nullptr);
    struct sigaction normal {};
    normal.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &normal, nullptr); // the demo ignores it; an ignored signal would stay ignored across exec
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127); // the demo died before the death signal was armed
    }
    dup2(in_fd, STDIN_FILENO);
    if (out_fd >= 0) {
        dup2(out_fd, STDOUT_FILENO);
        dup2(out_fd, STDERR_FILENO);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

bool program_start(Program& p, const std::string& path, const std::vector<std::string>& args,
                   const std::vector<EnvChange>& env, const std::string& output) {
    std::vector<std::string> arg_texts = {path};
    arg_texts.insert(arg_texts.end(), args.begin(), args.end());
    std::vector<std::string> env_texts = changed_environment(env);
    std::vector<char*> argv = pointers(arg_texts);
    std::vector<char*> envp = pointers(env_texts);

    if (access(path.c_str(), X_OK) != 0) {
        return false;
    }
    int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out_fd = output.empty() ? -1 : open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (in_fd < 0 || (!output.empty() && out_fd < 0)) {
        close(in_fd);
        return false;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        become(parent, in_fd, out_fd, argv.data(), envp.data());
    }
    close(in_fd);
    if (out_fd >= 0) {
        close(out_fd);
    }
    p.pid = pid > 0 ? pid : -1;
    p.status = 0;
    return pid > 0;
}

bool program_running(Program& p) {
    if (p.pid > 0 && waitpid(p.pid, &p.status, WNOHANG) == p.pid) {
        p.pid = -1;
    }
    return p.pid > 0;
}

void program_end(Program& p, int timeout_ms) {
    if (!program_running(p)) {
        return;
    }
    kill(p.pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (program_running(p)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(p.pid, SIGKILL);
            while (waitpid(p.pid, &p.status, 0) < 0 && errno == EINTR) {
            }
            p.pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string program_outcome(const Program& p) {
    if (WIFSIGNALED(p.status)) {
        return "killed by signal " + std::to_string(WTERMSIG(p.status));
    }
    return "exit status " + std::to_string(WEXITSTATUS(p.status));
}
