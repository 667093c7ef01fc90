// Figures of the filtered POP3 check with the real pauses, against the POP3 server program: the first pass over a
// maildrop of many kept messages, a later pass over the same maildrop, and a pass after a few new messages. Each
// pass reports its time and the TOP commands the server received, beside the floor of a pass that reads every
// message (1.55 s each: a TOP status line, a header block and the pause between messages).
//
//   filtered_check_figures [MESSAGES [NEW [SERVER_PROGRAM]]]     (defaults 1000, 5, the server of this build)
//
// The first pass of 1000 messages takes about 26 minutes.

#include "mail/mail_check.h"
#include "platform/timing.h"
#include "settings/settings_access.h"

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

constexpr double kFloorPerMessage = 1.55;

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
    std::printf("%-28s messages %5d  result %5d  TOP %5d  %8.1f s   (floor of a pass over every message: %7.1f s)\n",
                name, messages, result, top_commands(transcript) - tops_before, seconds, kFloorPerMessage * messages);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int added = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string server_program = argc > 3 ? argv[3] : KD5_POP3SERVER;

    char pattern[] = "/tmp/kd5-figures-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    setenv("CORVO_HOME", dir.c_str(), 1); // the error log of the checks goes there
    const fs::path maildir = dir / "maildrop";
    fs::create_directory(maildir);
    for (int n = 1; n <= messages; ++n) {
        write_message(maildir, n);
    }

    const fs::path port_file = dir / "port";
    const fs::path transcript = dir / "transcript";
    std::vector<std::string> args = {server_program, "--port-file", port_file,      "--user",  "alice:secret",
                                     "--maildir",    maildir,       "--transcript", transcript};
    std::vector<char*> argv_server;
    for (auto& a : args) {
        argv_server.push_back(a.data());
    }
    argv_server.push_back(nullptr);
    posix_spawn_file_actions_t quiet; // the program prints its port; the port file is what is read here
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t server = 0;
    const int spawned = posix_spawn(&server, server_program.c_str(), &quiet, nullptr, argv_server.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", server_program.c_str());
        return 1;
    }
    for (int i = 0; i < 500 && !fs::exists(port_file); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string port;
    std::ifstream(port_file) >> port;

    set_timing(Timing{});
    settings_set(Key::ErrorLog, "1");
    settings_set(Key::ServerName, ("127.0.0.1:" + port).c_str(), 0);
    settings_set(Key::ID, "alice", 0);
    settings_set(Key::Password, "secret", 0);
    settings_set(Key::SpecialAddress1, "taro@example.com", 0);
    settings_set(Key::SpecialSearch1, "1", 0);

    pass("first filtered pass", messages, transcript);
    pass("later pass, unchanged", messages, transcript);
    for (int n = messages + 1; n <= messages + added; ++n) {
        write_message(maildir, n);
    }
    pass(("later pass, " + std::to_string(added) + " new").c_str(), messages + added, transcript);

    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("err")) {
            std::printf("error log:\n%s", (std::stringstream() << std::ifstream(entry.path()).rdbuf()).str().c_str());
        }
    }
    fs::remove_all(dir);
    return 0;
}
