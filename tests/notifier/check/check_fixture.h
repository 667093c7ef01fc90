// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/notifier/harness.h"
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

// The check's timing at a quarter of the real one: an account has 3.75 s for all of its steps, room enough for TLS
// under the sanitizers, and a wait that the bound did not cut short (a greeting's two minutes) far beyond it.
inline constexpr char kTimeScale[] = "0.25";

// The fixture of the check's stories: a settings directory whose account 0 is served by the POP3 server program, a
// lamp simulator for the lamp, and a notifier of this user that monitors mail, as the check sees one.
class Check : public ::testing::Test {
public: // the rows of a table test arrange the fixture through a reference to it
    void SetUp() override {
        std::filesystem::create_directory(dir_.path("sys"));
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("ErrorLog", "101"); // switched on: a line written would show, and move the day marker
        tool_write("BeepTime", "1");
        pop3_.set_message_count(3);
        notifier_monitors();
    }
    void TearDown() override { notifier_gone(); }

    // A notifier of this user that monitors mail, as the check sees one: its single-instance lock held, and the
    // command keys it writes while the monitor runs.
    void notifier_monitors(const char* state = "1", const char* job = "101", const char* request = "1") {
        if (lock_fd_ < 0) {
            lock_fd_ = open(dir_.path("corvo KD-5 lite.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_EQ(flock(lock_fd_, LOCK_EX | LOCK_NB), 0);
        }
        tool_write("State", state);
        tool_write("Job", job);
        tool_write("Request", request);
    }
    void notifier_gone() {
        if (lock_fd_ >= 0) {
            close(lock_fd_);
            lock_fd_ = -1;
        }
    }

    void serve(const std::vector<std::string>& extra = {}) {
        ASSERT_TRUE(pop3_.start(extra));
        tool_write_account(0, pop3_.server_name(), "taro", "secret");
    }

    // Runs kd5lite --check; returns its exit status, its report in output_.
    int check() {
        ChildProcess child({KD5LITE_BINARY, "--check"},
                           {{"CORVO_HOME", dir_.dir()},
                            {"XDG_RUNTIME_DIR", dir_.dir()},
                            {"KD5LITE_SYSFS_ROOT", dir_.path("sys")},
                            {"KD5LITE_TIME_SCALE", kTimeScale}},
                           dir_.path("check" + std::to_string(++runs_) + ".out"));
        int status = child.wait_exit();
        output_ = child.output();
        return status;
    }

    bool says(const std::string& line) const { return output_.find(line) != std::string::npos; }

    // Starts a scripted server program (its path and options) on a free port, which it returns; it runs until the
    // test ends.
    int program(std::vector<std::string> argv) {
        const std::string name = "program" + std::to_string(programs_.size()) + ".port";
        argv.insert(argv.begin() + 1, {"--port-file", dir_.path(name)});
        programs_.push_back(
            std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, dir_.path(name + ".out")));
        EXPECT_TRUE(wait_until([&] { return dir_.exists(name); }, kPatience)) << argv[0];
        return dir_.exists(name) ? std::stoi(dir_.read(name)) : 0;
    }

    std::filesystem::path lamp_dir() const {
        std::filesystem::create_directory(dir_.path("lamp"));
        return dir_.path("lamp");
    }

    TempCorvo dir_;
    LampSim lamp_{lamp_dir()};
    Pop3Program pop3_{dir_, "taro", "secret"};
    std::vector<std::unique_ptr<ChildProcess>> programs_;
    std::string output_;
    int runs_ = 0;
    int lock_fd_ = -1;
};
