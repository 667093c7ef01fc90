#include "tests/notifier/harness.h"

#include "platform/profile.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
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

} // namespace

bool eventually(const std::function<bool()>& pred, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string file_key(const TempCorvo& dir, const char* key, int account) {
    char value[256];
    profile_get_string(section_for(account).c_str(), key, "<missing>", value, sizeof value,
                       dir.settings_path().c_str());
    return value;
}

void tool_write(const char* key, const char* value, int account) {
    ini_put(section_for(account).c_str(), key, value);
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

NotifierProcess::NotifierProcess(const TempCorvo& dir, std::vector<std::pair<std::string, std::string>> env)
    : stderr_path_(dir.path("notifier-stderr-" + std::to_string(::getpid()) + "-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    vars["CORVO_HOME"] = dir.dir();
    vars["XDG_RUNTIME_DIR"] = dir.dir();
    vars["QT_QPA_PLATFORM"] = "offscreen";
    vars.emplace("KD5LITE_TIME_SCALE", "0.02");
    for (auto& [name, value] : env) {
        vars[name] = value;
    }
    std::vector<std::string> entries;
    for (auto& [name, value] : vars) {
        entries.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = KD5LITE_BINARY;
    char* argv[] = {program.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
        pid_ = -1;
        reaped_ = true;
    }
    posix_spawn_file_actions_destroy(&actions);
}

NotifierProcess::~NotifierProcess() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

bool NotifierProcess::running() {
    if (reaped_) {
        return false;
    }
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

int NotifierProcess::wait_exit(int timeout_ms) {
    if (pid_ < 0 || (!eventually([this] { return !running(); }, timeout_ms))) {
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void NotifierProcess::signal(int sig) {
    if (!reaped_) {
        kill(pid_, sig);
    }
}

std::string NotifierProcess::error_output() const {
    std::ifstream in(stderr_path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
