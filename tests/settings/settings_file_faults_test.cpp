// SPDX-License-Identifier: GPL-3.0-or-later
// A settings file or directory that is not what it should be: nothing is lost, nothing waits for ever, and each
// failure leaves its line in the error log.

#include "platform/corvo_dir.h"
#include "platform/profile.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Error lines of the 7th without their time prefix.
std::vector<std::string> error_lines(const TempCorvo& dir) {
    std::vector<std::string> lines;
    std::string text = dir.read("err07.log");
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start + 15, end - start - 15));
        start = end + 2;
    }
    return lines;
}

class SettingsFileFaults : public ::testing::Test {
protected:
    TempCorvo dir;
    FixedClock clock{2026, 3, 7};

    void SetUp() override {
        std::strcpy(g_settings.ErrorLog, "107");
        Timing t;
        t.settings_lock_wait_ms = 100;
        set_timing(t);
    }
    void TearDown() override { set_timing(Timing{}); }
};

// The write is refused, the file is left as it was, and the line says why.
TEST_F(SettingsFileFaults, AWriteThatCannotBeMadeChangesNothingAndSaysWhy) {
    const std::string keys = "[corvo\\KD-5lite]\r\nSerialNumber=XA1B2C3D4\r\n";
    int lock_holder = -1;
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* line;
    } cases[] = {
        {"a directory in its place", [&] { mkdir(dir.settings_path().c_str(), 0700); },
         "INI operation ---> Writing abnormality [unreadable file][error: 22]"},
        {"a file over 1 MiB", [&] { dir.write("corvo_kd5lite.ini", std::string(keys).append(kProfileMaxBytes, ';')); },
         "INI operation ---> Writing abnormality [unreadable file][error: 27]"},
        {"a link in place of the lock file",
         [&] {
             dir.write("corvo_kd5lite.ini", keys);
             symlink(dir.path("elsewhere").c_str(), (dir.settings_path() + ".lock").c_str());
         },
         "INI operation ---> Writing abnormality[error: 40]"},
        {"a writer that holds the lock",
         [&] {
             dir.write("corvo_kd5lite.ini", keys);
             lock_holder = open((dir.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
             flock(lock_holder, LOCK_EX);
         },
         "INI operation ---> Lock abnormality[error: 110]"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir.settings_path());
        std::filesystem::remove(dir.settings_path() + ".lock");
        std::filesystem::remove(dir.path("err07.log"));
        c.make();
        std::string before = std::filesystem::is_regular_file(dir.settings_path()) ? dir.read("corvo_kd5lite.ini") : "";
        int failures = settings_write_failures();
        EXPECT_EQ(settings_put(Key::Request, "1"), -1) << c.what;
        EXPECT_EQ(settings_write_failures(), failures + 1) << c.what;
        EXPECT_EQ(error_lines(dir), std::vector<std::string>{c.line}) << c.what;
        if (!before.empty()) {
            EXPECT_EQ(dir.read("corvo_kd5lite.ini"), before) << c.what;
        }
        EXPECT_FALSE(dir.exists("elsewhere")) << c.what;
    }
    close(lock_holder);
    EXPECT_EQ(settings_put(Key::Request, "1"), 0);
}

// A job's end writes Answer "0" while a stopped program holds the lock: kept and written once the lock is free,
// or the file's Answer "1" would hold the notifier busy for good. A tool's setting is not: the user was told.
TEST_F(SettingsFileFaults, TheNotifiersMailboxKeysAreWrittenOnceTheLockIsFree) {
    ASSERT_EQ(settings_put(Key::Answer, "1"), 0);
    int holder = open((dir.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_EQ(settings_put(Key::Answer, "0"), -1);
    EXPECT_EQ(settings_put(Key::State, "2"), -1);
    EXPECT_EQ(settings_put(Key::SerialNumber, "XA1"), -1);
    EXPECT_EQ(settings_retry_writes(), -1);
    close(holder);
    EXPECT_EQ(settings_retry_writes(), 0);
    EXPECT_EQ(dir.read("corvo_kd5lite.ini"), "[corvo\\KD-5lite]\r\nAnswer=0\r\nState=2\r\n");
    EXPECT_EQ(settings_retry_writes(), 0); // nothing left: no write at all
    EXPECT_EQ(error_lines(dir).size(), 3u); // the retry that failed again adds none
}

// The command keys are read five times a second: an unreadable file is one line, not a line per poll, and a read
// that fails keeps the value last read instead of making it empty.
TEST_F(SettingsFileFaults, AnUnreadableFileIsReportedOnceAndKeepsTheLastValues) {
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite]\r\nAnswer=1\r\n");
    ASSERT_EQ(ini_read_key(Key::Answer), 0);
    std::filesystem::remove(dir.settings_path());
    mkfifo(dir.settings_path().c_str(), 0600);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ini_read_key(Key::Answer), -1);
    }
    EXPECT_STREQ(g_settings.Answer, "1");
    std::filesystem::remove(dir.settings_path());
    EXPECT_EQ(ini_read_key(Key::Answer), 0); // no file at all is no fault: the key is empty
    EXPECT_STREQ(g_settings.Answer, "");
    symlink("/dev/zero", dir.settings_path().c_str());
    EXPECT_EQ(ini_read_key(Key::Answer), -1);
    EXPECT_EQ(error_lines(dir), (std::vector<std::string>{"INI operation ---> Reading abnormality[error: 22]",
                                                          "INI operation ---> Reading abnormality[error: 40]"}));
}

// Anyone who may write in the directory could put a link or a FIFO where the settings file goes, or settings of
// their own; a directory of another user is refused whole, and nothing is made in it.
TEST(SettingsDirectory, OnlyADirectoryOfTheUserAloneIsTaken) {
    // Another user's directory: as root the test gives one away; otherwise /usr belongs to root.
    struct Case {
        const char* what;
        std::function<std::string(const TempCorvo&)> make;
        bool trusted;
    } cases[] = {
        {"missing, made at the first write", [](const TempCorvo& d) { return d.path("new/corvo"); }, true},
        {"the user's, mode 0700", [](const TempCorvo& d) { return d.dir(); }, true},
        {"the user's, mode 0755",
         [](const TempCorvo& d) {
             chmod(d.dir().c_str(), 0755);
             return d.dir();
         },
         true},
        {"group may write",
         [](const TempCorvo& d) {
             chmod(d.dir().c_str(), 0770);
             return d.dir();
         },
         false},
        {"others may write",
         [](const TempCorvo& d) {
             chmod(d.dir().c_str(), 01777);
             return d.dir();
         },
         false},
        {"another user's",
         [](const TempCorvo& d) {
             if (geteuid() != 0) {
                 return std::string("/usr");
             }
             chown(d.dir().c_str(), 65534, 65534);
             return d.dir();
         },
         false},
        {"a file, not a directory",
         [](const TempCorvo& d) {
             d.write("plain", "x");
             return d.path("plain");
         },
         false},
    };
    for (const Case& c : cases) {
        TempCorvo dir;
        std::string path = c.make(dir);
        setenv("CORVO_HOME", path.c_str(), 1);
        std::string why;
        EXPECT_EQ(corvo_dir_trusted(&why), c.trusted) << c.what;
        EXPECT_EQ(why.empty(), c.trusted) << c.what << ": " << why;
        EXPECT_EQ(settings_put(Key::Request, "1") == 0, c.trusted) << c.what;
        if (!c.trusted) {
            EXPECT_FALSE(std::filesystem::exists(path + "/corvo_kd5lite.ini")) << c.what;
            EXPECT_NE(why.find(path), std::string::npos) << why;
        }
        chmod(dir.dir().c_str(), 0700);
    }
}

// Without HOME the home directory comes from the password database, never a shared directory such as /tmp, where
// anybody could read the settings or put their own in place first. A user the database does not know has none.
TEST(SettingsDirectory, WithoutHomeThePasswordDatabaseCountsAndNothingElse) {
    TempCorvo dir;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        unsetenv("CORVO_HOME");
        unsetenv("HOME");
        unsetenv("XDG_CONFIG_HOME");
        const passwd* pw = getpwuid(getuid());
        if (pw == nullptr || corvo_dir() != std::string(pw->pw_dir) + "/.config/corvo") {
            _exit(1);
        }
        uid_t unknown = 54321;
        if (geteuid() == 0 && getpwuid(unknown) == nullptr) {
            if (setuid(unknown) != 0) {
                _exit(2);
            }
            if (!corvo_dir().empty() || corvo_dir_trusted() || settings_put(Key::Request, "1") != -1) {
                _exit(3);
            }
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
