#include "platform/profile.h"

#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/stat.h>
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

} // namespace
