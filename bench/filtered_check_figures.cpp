// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the POP3 check at real timing: a plain check against a loopback Dovecot (median of five), then the
// filtered check against the POP3 server program, once offering PIPELINING and once not: the first pass over a
// maildrop of many kept messages, a later pass over the same maildrop, and a pass after a few new messages. Each
// pass reports its time and the TOP commands the server received.
//
//   filtered_check_figures [MESSAGES [NEW [SERVER_PROGRAM]]]     (defaults 1000, 5, the server of this build)

#include "mail/mail_check.h"
#include "mail/pop3/known_hits.h"
#include "platform/timing.h"
#include "settings/log_markers.h"
#include "settings/settings_access.h"
#include "tests/support/dovecot_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;


void write_message(const fs::path& maildir, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.eml", n);
    std::ofstream(maildir / name, std::ios::binary)
        << "From: " << (n % 2 ? "Taro <taro@example.com>" : "hanako@example.com")
        << "\r\nTo: user@kd5lite.test\r\nSubject: message " << n << "\r\n\r\nHello.\r\n";
}

int top_commands(const fs::path& transcript) {
    std::ifstream in(transcript);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.starts_with("TOP ") ? 1 : 0;
    }
    return count;
}

void pass(const char* name, int messages, const fs::path& transcript) {
    const int tops_before = top_commands(transcript);
    const auto start = std::chrono::steady_clock::now();
    const int result = pop3_check(0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s messages %5d  result %5d  TOP %5d  %9.3f s\n", name, messages, result,
                top_commands(transcript) - tops_before, seconds);
    std::fflush(stdout);
}

// The median of five plain checks of a Dovecot POP3 maildrop of ten messages.
void plain_dovecot_check() {
    DovecotServer::Options options;
    options.pop3 = true;
    DovecotServer dovecot(options);
    dovecot.add_user("alice", "secret");
    if (!dovecot.start()) {
        std::printf("plain check, Dovecot POP3: Dovecot did not start: %s\n", dovecot.error().c_str());
        return;
    }
    for (int n = 1; n <= 10; ++n) {
        dovecot.deliver("alice", "From: taro@example.com\r\nSubject: " + std::to_string(n) + "\r\n\r\nHello.\r\n");
    }
    settings_set(Key::ServerName, ("127.0.0.1:" + std::to_string(dovecot.pop3_port())).c_str(), 0);
    settings_set(Key::SpecialAddress1, "", 0);
    settings_set(Key::SpecialSearch1, "0", 0);
    std::vector<double> times;
    int result = 0;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        result = pop3_check(0);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s messages %5d  result %5d  median %9.3f s  worst %9.3f s\n", "plain check, Dovecot POP3", 10,
                result, times[2], times[4]);
}

// The POP3 server program on a maildrop directory, with or without PIPELINING in its CAPA listing.
struct ServerProgram {
    ServerProgram(const std::string& program, const fs::path& dir, const fs::path& maildir, bool pipelining)
        : transcript(dir / (pipelining ? "transcript-pipelining" : "transcript")) {
        const fs::path port_file = dir / (pipelining ? "port-pipelining" : "port");
        std::vector<std::string> args = {program,   "--port-file", port_file,  "--user",       "alice:secret",
                                         "--maildir", maildir,     "--capa",   pipelining ? "TOP\\r\\nUIDL\\r\\nPIPELINING" : "TOP\\r\\nUIDL",
                                         "--transcript", transcript};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet; // the program prints its port; the port file is what is read here
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv.data(), environ) != 0) {
            pid = 0;
        }
        posix_spawn_file_actions_destroy(&quiet);
        for (int i = 0; pid != 0 && i < 500 && !fs::exists(port_file); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream(port_file) >> port;
    }
    ~ServerProgram() {
        if (pid != 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    fs::path transcript;
    pid_t pid = 0;
    std::string port;
};

void filtered_passes(const std::string& program, const fs::path& dir, int messages, int added, bool pipelining) {
    const fs::path maildir = dir / (pipelining ? "maildrop-pipelining" : "maildrop");
    fs::create_directory(maildir);
    for (int n = 1; n <= messages; ++n) {
        write_message(maildir, n);
    }
    ServerProgram server(program, dir, maildir, pipelining);
    if (server.pid == 0 || server.port.empty()) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return;
    }
    forget_known_hits();
    settings_set(Key::ServerName, ("127.0.0.1:" + server.port).c_str(), 0);
    settings_set(Key::SpecialAddress1, "taro@example.com", 0);
    settings_set(Key::SpecialSearch1, "1", 0);
    const std::string with = pipelining ? ", PIPELINING" : ", no PIPELINING";
    pass(("first filtered pass" + with).c_str(), messages, server.transcript);
    pass(("later pass, unchanged" + with).c_str(), messages, server.transcript);
    for (int n = messages + 1; n <= messages + added; ++n) {
        write_message(maildir, n);
    }
    pass(("later pass, " + std::to_string(added) + " new" + with).c_str(), messages + added, server.transcript);
}

} // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int added = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string server_program = argc > 3 ? argv[3] : KD5_POP3SERVER;

    char pattern[] = "/tmp/kd5-figures-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    setenv("CORVO_HOME", dir.c_str(), 1); // the error log of the checks goes there
    connect_log_markers();
    set_timing(Timing{});
    settings_set(Key::ErrorLog, "1");
    settings_set(Key::ID, "alice", 0);
    settings_set(Key::Password, "secret", 0);

    plain_dovecot_check();
    filtered_passes(server_program, dir, messages, added, true);
    filtered_passes(server_program, dir, messages, added, false);

    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("err")) {
            std::printf("error log:\n%s", (std::stringstream() << std::ifstream(entry.path()).rdbuf()).str().c_str());
        }
    }
    fs::remove_all(dir);
    return 0;
}
