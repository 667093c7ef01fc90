// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef KD5_LAMPSIM_PATH
#error "KD5_LAMPSIM_PATH must name the kd5lite-lampsim binary"
#endif

extern char** environ;

bool wait_until(const std::function<bool()>& cond, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return cond();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

const char* lampsim_path() {
    return KD5_LAMPSIM_PATH;
}

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

LampSim::LampSim(const std::string& dir) : LampSim(dir, Options{}) {}

LampSim::LampSim(const std::string& dir, Options options)
    : dir_(dir), link_dir_(dir + "/by-id"), options_(std::move(options)) {
    if (const char* old = std::getenv("KD5LITE_SERIAL_DIR")) {
        had_serial_dir_ = true;
        old_serial_dir_ = old;
    }
    setenv("KD5LITE_SERIAL_DIR", link_dir_.c_str(), 1);
    if (!start()) {
        ADD_FAILURE() << "kd5lite-lampsim did not publish " << link_path() << "; it said: " << output();
    }
}

LampSim::~LampSim() {
    stop();
    if (had_serial_dir_) {
        setenv("KD5LITE_SERIAL_DIR", old_serial_dir_.c_str(), 1);
    } else {
        unsetenv("KD5LITE_SERIAL_DIR");
    }
}

std::string LampSim::link_path() const {
    return link_dir_ + "/usb-corvo_KD-5lite_" + options_.serial + "-if00-port0";
}

bool LampSim::start() {
    if (pid_ > 0) {
        return true;
    }
    // A killed simulator leaves its link behind; the new one must be seen, not the old.
    unlink(link_path().c_str());
    std::vector<std::string> args = {KD5_LAMPSIM_PATH, "--serial", options_.serial,      "--dir",
                                     link_dir_,        "--log",    dir_ + "/lampsim.log"};
    if (!options_.reply.empty()) {
        args.insert(args.end(), {"--reply", options_.reply});
    }
    if (options_.silent) {
        args.push_back("--silent");
    }
    if (options_.delay_ms > 0) {
        args.insert(args.end(), {"--delay", std::to_string(options_.delay_ms)});
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::string out = dir_ + "/lampsim.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    pid_ = pid;
    struct stat st {};
    return wait_until([&] { return lstat(link_path().c_str(), &st) == 0; });
}

void LampSim::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        // udev removes the by-id link of an unplugged adapter. Left dangling, it could point at a pseudo-terminal
        // that another test has since been given under the same number.
        unlink(link_path().c_str());
    }
}

void LampSim::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void LampSim::send(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

std::vector<std::string> LampSim::commands() const {
    std::vector<std::string> lines;
    // Only whole lines: a command the simulator is writing at this moment would otherwise count as one, and a
    // test that takes the count as where to look from next would start in the middle of the update after it.
    std::string text = read_file(dir_ + "/lampsim.log");
    text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool LampSim::wait_for_commands(std::size_t n, int timeout_ms) const {
    return wait_until([&] { return commands().size() >= n; }, timeout_ms);
}

std::string LampSim::output() const {
    return read_file(dir_ + "/lampsim.out");
}

bool LampSim::wait_for_output(const std::string& text, int timeout_ms) const {
    return wait_until([&] { return output().find(text) != std::string::npos; }, timeout_ms);
}
