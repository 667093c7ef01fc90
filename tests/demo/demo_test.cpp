// SPDX-License-Identifier: GPL-3.0-or-later
// The demo program as a person starts it on a machine without a display: the lamp it shows must light and beep,
// and a Ctrl-C or a SIGTERM must leave no program running and no directory behind.

#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kPatience = 90000; // ms; the notifier built with sanitizers starts slowly on a busy machine

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// kd5lite-demo in a process group of its own, as a shell starts a foreground job: every program it starts stays
// in that group, so the group is empty exactly when all of them have ended.
class DemoRun {
public:
    // env: variables set for the demo (an empty value removes one) besides TMPDIR, which is the test's own.
    explicit DemoRun(const TempCorvo& dir, const std::map<std::string, std::string>& env = {})
        : dir_(dir.dir()), lamp_log_(dir.path("lamp.log")) {
        std::string tmp = dir.path("tmp");
        std::filesystem::create_directory(tmp);
        std::vector<std::string> entries;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('='));
            // No display at all: the notifier must choose to run offscreen by itself.
            if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" && name != "TMPDIR" &&
                env.count(name) == 0) {
                entries.push_back(entry);
            }
        }
        entries.push_back("TMPDIR=" + tmp);
        for (const auto& [name, value] : env) {
            if (!value.empty()) {
                entries.push_back(name + "=" + value);
            }
        }
        std::vector<char*> envp;
        for (std::string& entry : entries) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> args = {KD5LITE_DEMO, "--lamp-log", lamp_log_};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path().c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        if (posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
    }

    ~DemoRun() {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }
    std::string output_path() const { return dir_ + "/demo.out"; }
    std::string output() const { return read_file(output_path()); }
    std::vector<std::string> lamp_commands() const {
        std::vector<std::string> lines;
        std::istringstream in(read_file(lamp_log_));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool lamp_got(const std::string& prefix) const {
        auto lines = lamp_commands();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    void signal_group(int sig) const { kill(-pid_, sig); } // what a terminal's Ctrl-C does

    // While the demo runs: true once its program called name (as the kernel shortens it) has ended and waits to be
    // reaped by the demo.
    bool ended_unreaped(const std::string& name) const {
        const std::vector<Member> members = programs_called(name);
        return std::any_of(members.begin(), members.end(), [](const Member& m) { return m.state == 'Z'; });
    }
    void signal_demo(int sig) const { kill(pid_, sig); }

    // While the demo runs: the environment of its program called name, as "NAME=value" entries; empty when none
    // runs.
    std::vector<std::string> environment_of(const std::string& name) const {
        const std::vector<Member> members = programs_called(name);
        std::vector<std::string> vars;
        if (!members.empty()) {
            std::istringstream environ_file(read_file(members.front().proc + "/environ"));
            for (std::string var; std::getline(environ_file, var, '\0');) {
                vars.push_back(var);
            }
        }
        return vars;
    }

    // The demo's exit status once it has ended, -1 when it did not end in time or died by a signal.
    int wait_exit() {
        int status = 0;
        bool ended = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, kPatience);
        if (!ended) {
            return -1;
        }
        group_ = pid_;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // After wait_exit: true when no process of the demo's group is left.
    bool group_empty() const { return kill(-group_, 0) == -1 && errno == ESRCH; }

    // After wait_exit: what is left of the demo's own temporary directory.
    std::vector<std::string> left_in_tmp() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/tmp")) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    struct Member {
        std::string proc; // its folder in /proc
        char state;       // as /proc/PID/stat says: 'Z' for ended and not reaped
    };

    // The programs of the demo's process group called name, as the kernel shortens it.
    std::vector<Member> programs_called(const std::string& name) const {
        std::vector<Member> members;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::string stat = read_file(entry.path().string() + "/stat");
            auto open = stat.find('(');
            auto close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos ||
                stat.substr(open + 1, close - open - 1) != name) {
                continue;
            }
            std::istringstream rest(stat.substr(close + 1));
            char state = 0;
            pid_t parent = 0;
            pid_t group = 0;
            rest >> state >> parent >> group;
            if (group == pid_) {
                members.push_back({entry.path().string(), state});
            }
        }
        return members;
    }

    std::string dir_;
    std::string lamp_log_;
    pid_t pid_ = -1;
    pid_t group_ = -1;
};

// Catches a demo whose notifier never gets monitoring going (no request, wrong serial number, a password stored
// in a form the notifier cannot read, no mail in the maildrops), and one whose Ctrl-C leaves programs running
// or its directory behind.
TEST(Demo, HeadlessRunLightsAndBeepsThenCtrlCEndsEverything) {
    TempCorvo dir;
    DemoRun demo(dir);
    ASSERT_TRUE(demo.started());

    EXPECT_TRUE(wait_until([&] { return demo.lamp_got("ON") && demo.lamp_got("BEP"); }, kPatience)) << demo.output();
    EXPECT_NE(demo.output().find("leds red=on"), std::string::npos) << "the lamp is not shown in the terminal";

    // The Ctrl-C reaches every program of the group, and the demo may well be the last to act on it: held
    // stopped, it sees its own copy only once the lamp simulator has ended from the same Ctrl-C.
    demo.signal_demo(SIGSTOP);
    demo.signal_group(SIGINT);
    EXPECT_TRUE(wait_until([&] { return demo.ended_unreaped("kd5lite-lampsim"); }, kPatience)) << demo.output();
    demo.signal_demo(SIGCONT);
    EXPECT_EQ(demo.wait_exit(), 0) << demo.output();
    EXPECT_TRUE(demo.group_empty()) << "a program the demo started still runs";
    EXPECT_TRUE(demo.left_in_tmp().empty()) << demo.left_in_tmp().front();
    EXPECT_NE(demo.output().find("\nended\n"), std::string::npos) << "the lamp simulator did not end normally";
}

// Catches a demo that cleans up only once it is running, not while it still waits for its programs to start.
TEST(Demo, SigtermDuringStartUpEndsEverything) {
    TempCorvo dir;
    DemoRun demo(dir);
    ASSERT_TRUE(demo.started());

    ASSERT_TRUE(wait_until([&] { return demo.output().find("link ") != std::string::npos; }, kPatience))
        << demo.output();
    demo.signal_demo(SIGTERM);
    EXPECT_EQ(demo.wait_exit(), 0) << demo.output();
    EXPECT_TRUE(demo.group_empty()) << "a program the demo started still runs";
    EXPECT_TRUE(demo.left_in_tmp().empty()) << demo.left_in_tmp().front();
}

// Catches a demo whose programs write into the user's home: the setup program's start-at-login switch wrote
// ~/.config/autostart/kd5lite.desktop pointing at the build tree, and Qt keeps settings and caches there too.
// Home and runtime folders point into the test's tree; once the demo has ended, they must be as empty as before.
TEST(Demo, WritesNothingOutsideItsOwnDirectory) {
    TempCorvo dir;
    const std::string home = dir.path("home");
    const std::string run = dir.path("run");
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    DemoRun demo(dir, {{"HOME", home},
                       {"XDG_RUNTIME_DIR", run},
                       {"XDG_CONFIG_HOME", ""},
                       {"XDG_DATA_HOME", ""},
                       {"XDG_CACHE_HOME", ""},
                       {"XDG_STATE_HOME", ""}});
    ASSERT_TRUE(demo.started());
    ASSERT_TRUE(wait_until([&] { return demo.lamp_got("ON"); }, kPatience)) << demo.output();

    // What the notifier got, the setup and option programs get as well: they are started the same way.
    const std::vector<std::string> env = demo.environment_of("kd5lite");
    ASSERT_FALSE(env.empty()) << "no notifier of the demo's";
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "CORVO_HOME"}) {
        const std::string prefix = std::string(name) + "=" + dir.path("tmp") + "/kd5lite-demo.";
        EXPECT_TRUE(std::any_of(env.begin(), env.end(), [&](const std::string& v) { return v.starts_with(prefix); }))
            << name << " is not inside the demo's directory";
    }

    demo.signal_demo(SIGTERM);
    EXPECT_EQ(demo.wait_exit(), 0) << demo.output();
    std::vector<std::string> written;
    for (const std::string& top : {home, run, dir.path("tmp")}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
            written.push_back(entry.path().string());
        }
    }
    EXPECT_TRUE(written.empty()) << written.front();
}

} // namespace
