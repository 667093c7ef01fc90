// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp simulator as a program: its command line, its link, its answers and its command log, seen through a
// raw client on the pseudo-terminal.

#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Lines = std::vector<std::string>;

// A client with the lamp's line settings that sends raw bytes and collects the answers.
class RawClient {
public:
    explicit RawClient(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~RawClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }
    void send(const std::string& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

    // Everything that arrives within timeout_ms, stopping early once n bytes are in.
    std::string receive(std::size_t n, int timeout_ms = 3000) {
        std::string got;
        wait_until(
            [&] {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 0) == 1) {
                    char buffer[64];
                    ssize_t r = read(fd_, buffer, sizeof buffer);
                    if (r > 0) {
                        got.append(buffer, static_cast<std::size_t>(r));
                    }
                }
                return got.size() >= n;
            },
            timeout_ms);
        return got;
    }

private:
    int fd_ = -1;
};

struct Finished {
    int status = -1;
    std::string out;
};

// Runs the simulator to its end with the given arguments (for the command-line checks).
Finished run_lampsim(const TempCorvo& dir, std::vector<std::string> args) {
    args.insert(args.begin(), lampsim_path());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::string out = dir.path("run.out");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    Finished run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &run.status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = dir.read("run.out");
    return run;
}

TEST(LampSimCommandLine, HelpDocumentsTheOptionsAndTheCommandLog) {
    TempCorvo dir;
    Finished run = run_lampsim(dir, {"--help"});
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    for (const char* text : {"--serial SERIAL", "--dir DIR", "--log FILE", "--reply C", "--silent", "--delay MS",
                             "usb-corvo_KD-5lite_SERIAL-if00-port0", "KD5LITE_SERIAL_DIR", "Command log", "SIGUSR1"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text;
    }
}

// Catches a simulator that starts with a serial usb_open could never match, or that writes into /dev.
TEST(LampSimCommandLine, RefusesBadSerialsAndDirectoriesUnderDev) {
    TempCorvo dir;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--serial", ""},
        {"--serial", "AB_CD"},
        {"--serial", "AB-if00"},
        {"--serial", "A/B"},
        {"--serial", "A1", "--dir", "/dev/serial/by-id"},
        {"--serial", "A1", "--reply", "YY"},
        {"--serial", "A1", "extra"},
    };
    for (const auto& args : bad) {
        Finished run = run_lampsim(dir, args);
        ASSERT_TRUE(WIFEXITED(run.status));
        EXPECT_EQ(WEXITSTATUS(run.status), 2) << (args.empty() ? "" : args.back());
    }
}

class LampSimTest : public ::testing::Test {
protected:
    TempCorvo dir_;
};

TEST_F(LampSimTest, AnswersEveryCommandWithThreeBytesAndLogsItFirst) {
    LampSim sim(dir_.dir());
    RawClient c(sim.link_path());
    ASSERT_TRUE(c.ok());
    for (const char* command : {"ON0\r", "ON1\r", "ON2\r", "OF1\r", "BEP\r", "CLS\r"}) {
        c.send(command);
        EXPECT_EQ(c.receive(3), "Y\r\n") << command;
    }
    EXPECT_EQ(sim.commands(), (Lines{"ON0", "ON1", "ON2", "OF1", "BEP", "CLS"}));
    EXPECT_TRUE(sim.wait_for_output("leds red=on green=on yellow=on\nleds red=on green=off yellow=on\nbeep\n"
                                    "leds red=off green=off yellow=off\n"));
}

// Bad input gets an answer that is not 'Y', one per carriage-return-ended piece, and never stops the lamp.
TEST_F(LampSimTest, MalformedOrUnknownInputIsRefusedAndTheLampCarriesOn) {
    LampSim sim(dir_.dir());
    RawClient c(sim.link_path());
    ASSERT_TRUE(c.ok());
    struct Case {
        std::string input;
        std::string answer;
    };
    const Case cases[] = {
        {"XYZ\r", "N\r\n"},
        {"ON3\r", "N\r\n"},
        {"on1\r", "N\r\n"},
        {"\r", "N\r\n"},
        {"AB\r", "N\r\n"},
        {"ON1XXXX\r", "N\r\n"},
        {std::string("\0\xff\x01\r", 4), "N\r\n"},
        {"BEP\r", "Y\r\n"},
    };
    for (const Case& k : cases) {
        c.send(k.input);
        EXPECT_EQ(c.receive(k.answer.size() + 1, 150), k.answer);
    }
    EXPECT_EQ(sim.commands(), (Lines{"XYZ", "ON3", "on1", "???", "???", "???", "...", "BEP"}));
}

TEST_F(LampSimTest, ReplyOptionSetsTheFirstByteAndSilentAnswersNothing) {
    LampSim::Options o;
    o.reply = "0x79"; // 'y'
    {
        LampSim sim(dir_.dir(), o);
        RawClient c(sim.link_path());
        c.send("CLS\r");
        EXPECT_EQ(c.receive(3), "y\r\n");
    }
    o = {};
    o.silent = true;
    LampSim sim(dir_.dir(), o);
    RawClient c(sim.link_path());
    c.send("CLS\r");
    EXPECT_EQ(c.receive(1, 300), "");
    sim.send(SIGUSR2); // answers again
    ASSERT_TRUE(sim.wait_for_output("silent off"));
    c.send("BEP\r");
    EXPECT_EQ(c.receive(3), "Y\r\n");
}

TEST_F(LampSimTest, EndingBySignalRemovesTheLinkAndReplugMakesANewOne) {
    LampSim sim(dir_.dir());
    struct stat st {};
    ASSERT_EQ(lstat(sim.link_path().c_str(), &st), 0);
    sim.send(SIGUSR1);
    ASSERT_TRUE(wait_until([&] { return lstat(sim.link_path().c_str(), &st) != 0; }));
    sim.send(SIGUSR1);
    ASSERT_TRUE(wait_until([&] { return stat(sim.link_path().c_str(), &st) == 0; }));
    {
        RawClient c(sim.link_path());
        c.send("ON2\r");
        EXPECT_EQ(c.receive(3), "Y\r\n");
    }
    sim.stop();
    EXPECT_NE(lstat(sim.link_path().c_str(), &st), 0);
    EXPECT_NE(sim.output().find("unplugged\n"), std::string::npos);
    EXPECT_NE(sim.output().find("ended\n"), std::string::npos);
}

TEST_F(LampSimTest, StaleLinkIsReplacedAtStart) {
    std::string by_id = dir_.path("by-id");
    mkdir(by_id.c_str(), 0700);
    std::string link = by_id + "/usb-corvo_KD-5lite_A1B2C3D4-if00-port0";
    ASSERT_EQ(symlink("/nonexistent/pts", link.c_str()), 0);
    LampSim sim(dir_.dir());
    ASSERT_TRUE(wait_until([&] {
        struct stat st {};
        return stat(link.c_str(), &st) == 0;
    }));
    RawClient c(link);
    c.send("CLS\r");
    EXPECT_EQ(c.receive(3), "Y\r\n");
}

// Without --dir the link goes into a fresh private directory, which is printed and removed at the end.
TEST_F(LampSimTest, DefaultDirectoryIsPrivateAndRemovedAtTheEnd) {
    setenv("TMPDIR", dir_.dir().c_str(), 1);
    std::string out = dir_.path("default.out");
    std::string serial = "--serial";
    std::string value = "Q9";
    std::string path = lampsim_path();
    char* argv[] = {path.data(), serial.data(), value.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("TMPDIR");
    std::string first;
    ASSERT_TRUE(wait_until([&] {
        first = dir_.read("default.out");
        return first.find('\n') != std::string::npos;
    }));
    ASSERT_EQ(first.rfind("link ", 0), 0u) << first;
    std::string link = first.substr(5, first.find(" -> ") - 5);
    std::string private_dir = link.substr(0, link.rfind('/'));
    EXPECT_EQ(private_dir.rfind(dir_.dir() + "/kd5lite-lampsim.", 0), 0u) << private_dir;
    EXPECT_EQ(link.substr(link.rfind('/') + 1), "usb-corvo_KD-5lite_Q9-if00-port0");
    struct stat st {};
    ASSERT_EQ(stat(private_dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(lstat(private_dir.c_str(), &st), 0);
}

} // namespace
