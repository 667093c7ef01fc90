// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 server program as the end-to-end tests and the demo start it: a separate process, port on stdout.

#include "mail/mail_check.h"
#include "platform/secret.h"
#include "settings/password_pair.h"
#include "settings/settings.h"

#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned char kMask = 0x5A;

// Places in this process's writable memory that hold the secret, given masked (each byte XOR kMask) so that the
// needle is not itself a copy. Freed memory counts: a freed buffer keeps its bytes until it is used again (and
// the sanitizer build holds freed blocks back on purpose).
// Zeroes the stack below the caller's frame. Without the sanitizer the dynamic linker saves every vector register
// there when it binds a symbol at its first call, and a register may just have carried the password through a copy
// that was then wiped: a residue of registers, not a buffer. The sanitizer build keeps the dead stack in the scan.
[[gnu::noinline]] void clear_dead_stack() {
#if !defined(__SANITIZE_ADDRESS__)
    char dead[256 * 1024];
    wipe_secret(dead, sizeof dead);
#endif
}

int copies_in_memory(const std::string& masked) {
    clear_dead_stack();
    constexpr std::size_t kChunk = 1 << 20;
    constexpr std::size_t kLargest = std::size_t{1} << 30; // the sanitizer's shadow and reserves, not data
    const std::size_t chunk_size = kChunk + masked.size();
    auto* chunk = static_cast<unsigned char*>(
        mmap(nullptr, chunk_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    const auto chunk_at = reinterpret_cast<std::uintptr_t>(chunk);
    int mem = open("/proc/self/mem", O_RDONLY);
    const auto first = static_cast<unsigned char>(masked[0] ^ kMask);
    int found = 0;
    auto scan = [&](std::uintptr_t begin, std::uintptr_t end) {
        for (std::uintptr_t at = begin; at < end; at += kChunk) {
            ssize_t got = pread(mem, chunk, std::min<std::size_t>(chunk_size, end - at), static_cast<off_t>(at));
            for (ssize_t i = 0; got > 0 && i + static_cast<ssize_t>(masked.size()) <= got; ++i) {
                auto* hit =
                    static_cast<unsigned char*>(std::memchr(chunk + i, first, static_cast<std::size_t>(got - i)));
                if (hit == nullptr) {
                    break;
                }
                i = hit - chunk;
                bool same = i + static_cast<ssize_t>(masked.size()) <= got && i < static_cast<ssize_t>(kChunk);
                for (std::size_t k = 0; same && k < masked.size(); ++k) {
                    same = (chunk[i + static_cast<ssize_t>(k)] ^ kMask) == static_cast<unsigned char>(masked[k]);
                }
                found += same ? 1 : 0;
            }
        }
    };
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) != 3 || perms[0] != 'r' || perms[1] != 'w' ||
            end - begin > kLargest || line.find("[v") != std::string::npos) {
            continue;
        }
        // The scan's own buffer holds what it last read: it may share a mapping with other memory, never counted.
        if (chunk_at >= begin && chunk_at < end) {
            scan(begin, chunk_at);
            scan(chunk_at + chunk_size, end);
        } else {
            scan(begin, end);
        }
    }
    close(mem);
    munmap(chunk, chunk_size);
    return found;
}

class Pop3ServerProgram : public MailTest {
protected:
    ~Pop3ServerProgram() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Starts the program and returns the port from its first output line (0 when none came within 10 s).
    int start(std::vector<std::string> args, const char* program = KD5_POP3SERVER) {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c = 0;
        while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1) {
            line += c;
        }
        close(out[0]);
        return std::atoi(line.c_str());
    }

    // Sends SIGTERM and returns the exit status (-1 when the program did not end within 10 s).
    int stop() {
        kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            pause_ms(5);
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Makes account 0's plain password, 31 bytes (the last one extra when given), byte by byte right into the
    // field and through the scramble and unscramble of the load, so that a std::string copy would live on the heap.
    // Returns its last 12 bytes masked: the allocator may write its own records over the first bytes of a freed
    // block.
    static std::string plant_password(char extra = '\0') {
        std::string masked;
        char* field = g_settings.user[0].Password;
        volatile char* byte_by_byte = field; // no copy of the whole made on the way, even by an optimiser
        for (int i = 0; i < 31; ++i) {
            byte_by_byte[i] = i == 30 && extra != '\0' ? extra : static_cast<char>('A' + (i * 7 + 3) % 26);
            if (i >= 19) {
                masked += static_cast<char>(byte_by_byte[i] ^ kMask);
            }
        }
        byte_by_byte[31] = '\0';
        scramble_password(0, field);
        unscramble_password(0, field);
        return masked;
    }

    pid_t pid_ = 0;
};

TEST_F(Pop3ServerProgram, MaildirMailArrivesBetweenChecksAndSigtermEndsIt) {
    std::string maildir = dir_.path("bob");
    std::filesystem::create_directory(maildir);
    dir_.write("bob/1", "From: Taro <taro@example.com>\nSubject: one\n\nhello\n");
    int port = start({"--user", "alice:x", "--from", "a@b.c", "--user", "bob:pw", "--maildir", maildir, "--transcript",
                      dir_.path("transcript")});
    ASSERT_GT(port, 0);
    set_account(1, "127.0.0.1:" + std::to_string(port), "bob", "pw");
    set_filter(1, 0, "taro@example.com", "1");
    EXPECT_EQ(pop3_check(1), 1);
    dir_.write("bob/2", "From: taro@example.com\nSubject: two\n\nhello again\n");
    EXPECT_EQ(pop3_check(1), 2);
    EXPECT_EQ(stop(), 0);
    // The second check reads the headers of the new message only.
    EXPECT_EQ(dir_.read("transcript"), "USER bob\nPASS pw\nSTAT\nUIDL\nTOP 1 10\nQUIT\n"
                                       "USER bob\nPASS pw\nSTAT\nUIDL\nTOP 2 10\nQUIT\n");
}

TEST_F(Pop3ServerProgram, ScriptedRefusalFromTheCommandLine) {
    int port = start({"--user", "alice:secret", "--from", "a@b.c", "--reply", "PASS=-ERR bad password"});
    ASSERT_GT(port, 0);
    set_account(0, "127.0.0.1:" + std::to_string(port), "alice", "secret");
    EXPECT_EQ(pop3_check(0), 0);
    EXPECT_EQ(error_lines(), std::vector<std::string>{"check mail ---> Contents abnormality of a POP confirmation "
                                                      "[a password] message[no.0 error: 0]"});
    EXPECT_EQ(stop(), 0);
}

// The demo's and tests/README.md's way of running a TLS server: catches options that never reach the server.
TEST_F(Pop3ServerProgram, ServesTlsWithTheCertificateFromTheCommandLine) {
    TestAuthority authority(dir_.dir(), "program");
    TrustedAuthority trusted(authority);
    const auto certificate = authority.issue("server", "IP:127.0.0.1");
    int port =
        start({"--user", "alice:secret", "--from", "a@b.c", "--tls", "stls", "--cert", certificate.certificate_file,
               "--key", certificate.key_file, "--transcript", dir_.path("transcript")});
    ASSERT_GT(port, 0);
    set_account(0, "127.0.0.1:" + std::to_string(port), "alice", "secret");
    settings_set(Key::Security, "1", 0);
    EXPECT_EQ(pop3_check(0), 1);
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(dir_.read("transcript"), "STLS\nUSER alice\nPASS secret\nSTAT\nQUIT\n");
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// The plain password passes through the load (unscrambling) and the check (the PASS command); afterwards no
// copy of it may be left anywhere in memory but the settings field that holds it, not even in freed blocks.
TEST_F(Pop3ServerProgram, NoCopyOfThePlainPasswordOutlivesTheLoadAndTheCheck) {
    int port = start({"--user", "alice:another", "--from", "a@b.c"}); // the server never knows the password
    ASSERT_GT(port, 0);
    set_account(0, "127.0.0.1:" + std::to_string(port), "alice", "");
    std::string masked = plant_password();
    ASSERT_EQ(copies_in_memory(masked), 1) << "the field itself";
    EXPECT_EQ(pop3_check(0), 0); // the server refuses it
    wipe_secret(g_settings.user[0].Password, sizeof g_settings.user[0].Password);
    EXPECT_EQ(copies_in_memory(masked), 0);
    EXPECT_EQ(stop(), 0);
}

// The same through the IMAP check, for each way it sends the password: quoted or as a literal in LOGIN, and in
// AUTHENTICATE PLAIN, which holds it plain before it is encoded. The IMAP server program is its own process too.
TEST_F(Pop3ServerProgram, NoCopyOfThePlainPasswordOutlivesAnImapCheck) {
    const char* capabilities[] = {"IMAP4rev1", "IMAP4rev1 AUTH=PLAIN", "IMAP4rev1 AUTH=PLAIN SASL-IR"};
    for (char extra : {'\0', '\xe4'}) {
        for (const char* capability : capabilities) {
            int port = start({"--user", "alice:another", "--capability", capability}, KD5_IMAPSERVER);
            ASSERT_GT(port, 0);
            set_account(0, "127.0.0.1:" + std::to_string(port), "alice", "");
            settings_set(Key::Protocol, "1", 0);
            std::string masked = plant_password(extra); // 8-bit text goes as a literal in LOGIN
            ASSERT_EQ(copies_in_memory(masked), 1) << capability;
            EXPECT_EQ(imap_check(0), 0) << capability; // refused
            wipe_secret(g_settings.user[0].Password, sizeof g_settings.user[0].Password);
            EXPECT_EQ(copies_in_memory(masked), 0) << capability << (extra != 0 ? " (literal)" : "");
            EXPECT_EQ(stop(), 0);
        }
    }
}

} // namespace
