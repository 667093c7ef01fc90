// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include "platform/timing.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string get(const std::string& path, const char* section, const char* key, std::size_t size = 128) {
    std::vector<char> buf(size + 1, 'x');
    profile_get_string(section, key, "dflt", buf.data(), size, path.c_str());
    return buf.data();
}

TEST(ProfileFile, MissingFileOrDirectoryGivesTheDefault) {
    TempCorvo dir;
    EXPECT_EQ(get(dir.settings_path(), "corvo", "Company"), "dflt");
    EXPECT_EQ(get(dir.path("no/such/dir/x.ini"), "corvo", "Company"), "dflt");
    EXPECT_FALSE(profile_write_string("a", "k", "v", dir.path("no/such/dir/x.ini").c_str()));
}

TEST(ProfileFile, ReadReturnsAtMostSizeMinusOneBytes) {
    TempCorvo dir;
    dir.write("corvo_kd5lite.ini", "[a]\r\nk=" + std::string(300, 'v') + "\r\n");
    EXPECT_EQ(get(dir.settings_path(), "a", "k", 128), std::string(127, 'v'));
    EXPECT_EQ(get(dir.settings_path(), "a", "k", 1), "");
}

TEST(ProfileFile, WriteCreatesAPrivateFileAndCutsLineBreaks) {
    TempCorvo dir;
    ASSERT_TRUE(profile_write_string("corvo", "Company", "one\r\n[evil]\r\nk=2", dir.settings_path().c_str()));
    EXPECT_EQ(dir.read("corvo_kd5lite.ini"), "[corvo]\r\nCompany=one\r\n");
    struct stat st {};
    ASSERT_EQ(stat(dir.settings_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Several processes write their own keys many times while another reads: no update is lost and no read sees a
// half-written file.
TEST(ProfileFile, ConcurrentWritersLoseNothingAndReadersNeverSeeAPartialFile) {
    TempCorvo dir;
    const std::string path = dir.settings_path();
    constexpr int kWriters = 4;
    constexpr int kRounds = 60;
    profile_write_string("s", "Marker", "present", path.c_str());
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char key[16];
            std::snprintf(key, sizeof key, "Key%d", w);
            for (int r = 0; r <= kRounds; ++r) {
                profile_write_string(w % 2 ? "s" : "t", key, std::to_string(r).c_str(), path.c_str());
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        for (int i = 0; i < 400; ++i) {
            char buf[64];
            profile_get_string("s", "Marker", "", buf, sizeof buf, path.c_str());
            if (std::strcmp(buf, "present") != 0) {
                _exit(1);
            }
        }
        _exit(0);
    }
    children.push_back(reader);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(get(path, w % 2 ? "s" : "t", ("Key" + std::to_string(w)).c_str()), std::to_string(kRounds));
    }
}

// A writer killed at any moment leaves either the old or the new file.
TEST(ProfileFile, KilledWriterLeavesAReadableFile) {
    TempCorvo dir;
    const std::string path = dir.settings_path();
    std::string big(100, 'b');
    for (int i = 0; i < 200; ++i) {
        profile_write_string("big", ("K" + std::to_string(i)).c_str(), big.c_str(), path.c_str());
    }
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) {
                profile_write_string("big", "K0", std::to_string(i).c_str(), path.c_str());
            }
        }
        usleep(2000 + round * 500);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        EXPECT_EQ(get(path, "big", "K199"), big) << "round " << round;
        EXPECT_NE(get(path, "big", "K0"), "dflt");
    }
}

// Runs body in a child process and returns its exit status; a body that blocks is killed after five seconds and
// counts as status 99, so a read that waits on a FIFO fails the test instead of hanging it.
int in_child(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(5);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// Each of these is no settings file that can be read whole. A write must leave it alone (the old code took a
// failed read for an empty file and renamed a one-key file over it), and no read may wait on it.
TEST(ProfileFile, WhatCannotBeReadWholeIsNeverReplacedNorWaitedOn) {
    struct Case {
        const char* what;
        std::function<void(const TempCorvo&)> make;
        int error;
    } cases[] = {
        {"a directory", [](const TempCorvo& d) { mkdir(d.settings_path().c_str(), 0700); }, EINVAL},
        {"a FIFO", [](const TempCorvo& d) { mkfifo(d.settings_path().c_str(), 0600); }, EINVAL},
        {"a link to a FIFO",
         [](const TempCorvo& d) {
             mkfifo(d.path("fifo").c_str(), 0600);
             symlink(d.path("fifo").c_str(), d.settings_path().c_str());
         },
         ELOOP},
        {"a device", [](const TempCorvo& d) { symlink("/dev/zero", d.settings_path().c_str()); }, ELOOP},
        {"a file over 1 MiB",
         [](const TempCorvo& d) {
             std::string big = "[a]\r\nk=v\r\n";
             d.write("corvo_kd5lite.ini", big.append(kProfileMaxBytes, ';'));
         },
         EFBIG},
    };
    for (const Case& c : cases) {
        TempCorvo dir;
        c.make(dir);
        struct stat before {};
        lstat(dir.settings_path().c_str(), &before);
        int status = in_child([&] {
            std::string text = "x";
            if (profile_read(dir.settings_path().c_str(), text) || errno != c.error || !text.empty()) {
                return 1;
            }
            if (get(dir.settings_path(), "a", "k") != "dflt") {
                return 2;
            }
            errno = 0;
            if (profile_write_entries({{"a", "k", "new"}}, dir.settings_path().c_str()) != ProfileWrite::unreadable ||
                errno != c.error) {
                return 3;
            }
            return 0;
        });
        EXPECT_EQ(status, 0) << c.what;
        struct stat after {};
        lstat(dir.settings_path().c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
    }
}

// A file left behind by `sudo` belongs to root and cannot be read by its user. The check runs as an ordinary
// user: as root, a child takes the identity of nobody for it.
TEST(ProfileFile, AFileItsUserMayNotReadIsNeverReplaced) {
    TempCorvo dir;
    const std::string keys = "[corvo\\KD-5lite]\r\nSerialNumber=XA1B2C3D4\r\n";
    dir.write("corvo_kd5lite.ini", keys);
    chmod(dir.settings_path().c_str(), 0);
    int status = in_child([&] {
        if (geteuid() == 0 && (chown(dir.dir().c_str(), 65534, 65534) != 0 || setgid(65534) != 0 ||
                               setuid(65534) != 0)) {
            return 10;
        }
        if (profile_write_string("corvo\\KD-5lite", "Request", "1", dir.settings_path().c_str())) {
            return 1;
        }
        return errno == EACCES ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    chmod(dir.settings_path().c_str(), 0600);
    EXPECT_EQ(dir.read("corvo_kd5lite.ini"), keys);
}

// A writer stopped while it holds the lock (Ctrl-Z, a debugger) must not hang the others.
TEST(ProfileFile, TheLockIsWaitedForOnlySoLong) {
    TempCorvo dir;
    Timing t;
    t.settings_lock_wait_ms = 150;
    set_timing(t);
    ASSERT_TRUE(profile_write_string("a", "k", "old", dir.settings_path().c_str()));
    int holder = open((dir.settings_path() + ".lock").c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    int status = in_child([&] {
        errno = 0;
        bool busy = profile_write_entries({{"a", "k", "new"}}, dir.settings_path().c_str()) == ProfileWrite::lock_busy;
        return busy && errno == ETIMEDOUT ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(get(dir.settings_path(), "a", "k"), "old");
    close(holder);
    EXPECT_TRUE(profile_write_string("a", "k", "new", dir.settings_path().c_str()));
    set_timing(Timing{});
}

// A writer killed before its rename leaves a temporary file holding the scrambled passwords; the next writer
// removes the old ones, but never a live writer's, nor anything else in the directory.
TEST(ProfileFile, TheNextWriterRemovesTemporaryFilesOlderThanAMinute) {
    TempCorvo dir;
    auto age = [&](const std::string& name, int seconds) {
        dir.write(name, "[corvo\\KD-5lite\\user00]\r\nPassword=4142\r\n");
        timeval then[2] = {{std::time(nullptr) - seconds, 0}, {std::time(nullptr) - seconds, 0}};
        utimes(dir.path(name).c_str(), then);
    };
    age("corvo_kd5lite.ini.a1B2c3", 90);
    age("corvo_kd5lite.ini.Zz9Yy8", 3600);
    age("corvo_kd5lite.ini.fresh1", 5);
    age("corvo_kd5lite.ini.toolong7", 3600);
    age("notes.txt", 3600);
    ASSERT_TRUE(profile_write_string("a", "k", "v", dir.settings_path().c_str()));
    EXPECT_FALSE(dir.exists("corvo_kd5lite.ini.a1B2c3"));
    EXPECT_FALSE(dir.exists("corvo_kd5lite.ini.Zz9Yy8"));
    EXPECT_TRUE(dir.exists("corvo_kd5lite.ini.fresh1"));
    EXPECT_TRUE(dir.exists("corvo_kd5lite.ini.toolong7"));
    EXPECT_TRUE(dir.exists("notes.txt"));
    EXPECT_TRUE(dir.exists("corvo_kd5lite.ini.lock"));
}

} // namespace
