// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/notifier/harness.h"

#include "credentials/scramble_text.h"
#include "platform/profile.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string section_for(int account) {
    if (account < 0) {
        return kSectionSystem;
    }
    char section[64];
    std::snprintf(section, sizeof section, kSectionAccountPattern, account);
    return section;
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

std::string file_key(const TempCorvo& dir, const char* key, int account) {
    char value[256];
    profile_get_string(section_for(account).c_str(), key, "<missing>", value, sizeof value,
                       dir.settings_path().c_str());
    return value;
}

void tool_write(const char* key, const char* value, int account) {
    ini_put(section_for(account).c_str(), key, value);
}

void tool_write_account(int account, const std::string& server, const std::string& id, const std::string& password) {
    std::vector<int> positions = shuffled_positions(password.size());
    tool_write("Switch", "1", account);
    tool_write("ServerName", server.c_str(), account);
    tool_write("ID", id.c_str(), account);
    tool_write("Password", scramble_text(password, positions).c_str(), account);
    tool_write("Scramble", position_list(positions).c_str(), account);
}

std::string log_text(const TempCorvo& dir, const char* stem) {
    std::string text;
    for (int day = 1; day <= 31; ++day) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d.log", stem, day);
        if (dir.exists(name)) {
            text += dir.read(name);
        }
    }
    return text;
}

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
                           std::string output_path)
    : output_path_(std::move(output_path)) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (auto eq = entry.find('='); eq != std::string::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : env) {
        vars[name] = value;
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : vars) {
        entries.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (auto& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        pid_ = -1;
        reaped_ = true;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

bool ChildProcess::running() {
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

int ChildProcess::wait_exit(int timeout_ms) {
    if (pid_ < 0 || !wait_until([this] { return !running(); }, timeout_ms)) {
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void ChildProcess::signal(int sig) {
    if (!reaped_) {
        kill(pid_, sig);
    }
}

std::string ChildProcess::output() const {
    return read_whole(output_path_);
}

namespace {

std::map<std::string, std::string> notifier_environment(const TempCorvo& dir,
                                                        const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> all = {{"CORVO_HOME", dir.dir()},
                                              {"XDG_RUNTIME_DIR", dir.dir()},
                                              {"QT_QPA_PLATFORM", "offscreen"},
                                              {"KD5LITE_TIME_SCALE", "0.02"}};
    for (const auto& [name, value] : env) {
        all[name] = value;
    }
    return all;
}

} // namespace

NotifierProcess::NotifierProcess(const TempCorvo& dir, const std::map<std::string, std::string>& env)
    : ChildProcess({KD5LITE_BINARY}, notifier_environment(dir, env), dir.path("notifier.out")) {}

VirtualDisplay::VirtualDisplay(const TempCorvo& dir) {
    // -displayfd: the server picks a free display number and writes it on standard output once it is ready.
    std::string output = dir.path("xvfb.out");
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"},
        std::map<std::string, std::string>{}, output);
    wait_until(
        [&] {
            std::istringstream lines(read_whole(output));
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                    name_ = ":" + line;
                    return true;
                }
            }
            return !server_->running();
        },
        kPatience);
}

Pop3Program::Pop3Program(const TempCorvo& dir, std::string user, std::string password)
    : dir_(dir.path("pop3")), maildir_(dir.path("pop3/maildrop")), user_(std::move(user)),
      password_(std::move(password)) {
    std::filesystem::create_directories(maildir_);
}

Pop3Program::~Pop3Program() {
    stop();
}

bool Pop3Program::start(const std::vector<std::string>& extra) {
    stop();
    std::string port_file = dir_ + "/port" + std::to_string(++runs_);
    std::vector<std::string> argv = {KD5LITE_POP3SERVER,      "--port",    std::to_string(port_),
                                     "--port-file",           port_file,   "--user",
                                     user_ + ":" + password_, "--maildir", maildir_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, dir_ + "/server.out");
    if (!wait_until([&] { return std::filesystem::exists(port_file); }, kPatience)) {
        return false;
    }
    port_ = std::stoi(read_whole(port_file));
    return true;
}

void Pop3Program::stop() {
    if (process_ != nullptr) {
        process_->signal(SIGTERM);
        process_->wait_exit();
        process_.reset();
    }
}

void Pop3Program::set_message_count(int n) {
    // File by file, so that a login in between sees the old or the new count of each, never an empty maildrop.
    for (int i = 1;; ++i) {
        std::string path = maildir_ + "/" + std::to_string(i) + ".eml";
        if (i <= n) {
            if (!std::filesystem::exists(path)) {
                std::ofstream(path, std::ios::binary)
                    << "From: Sender <sender@kd5lite.test>\r\nSubject: Message " << i << "\r\n\r\nHello.\r\n";
            }
        } else if (!std::filesystem::remove(path)) {
            return;
        }
    }
}
