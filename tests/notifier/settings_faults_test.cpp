// SPDX-License-Identifier: GPL-3.0-or-later
// The real notifier when its settings cannot be used: a directory that is not its user's alone, a settings lock
// held by a stopped program.

#include "tests/notifier/harness.h"
#include "tests/support/lampsim_handle.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Anyone in the group could have put settings of their own there, or a link where the settings file goes: the
// notifier says which directory and why, ends, and neither reads nor writes anything in it.
TEST(SettingsDirectoryRefused, NotifierSaysWhyOnStderrAndEnds) {
    TempCorvo dir;
    ASSERT_EQ(chmod(dir.dir().c_str(), 0770), 0);
    NotifierProcess notifier(dir);
    EXPECT_EQ(notifier.wait_exit(), 1);
    std::string said = notifier.output();
    EXPECT_NE(said.find("kd5lite: the settings directory " + dir.dir() + " may be written by its group or by others"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("chmod go-w " + dir.dir()), std::string::npos) << said;
    for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) {
        EXPECT_EQ(entry.path().filename(), "notifier.out"); // the test's own capture of stderr, nothing else
    }
    chmod(dir.dir().c_str(), 0700);
}

// A program that ignores the lock: the new file is renamed over the old, so the notifier reads one or the other.
void rewrite_behind_the_lock(const TempCorvo& dir, const std::string& from, const std::string& to) {
    std::string text = dir.read("corvo_kd5lite.ini");
    text.replace(text.find(from), from.size(), to);
    dir.write("rewritten", text);
    std::filesystem::rename(dir.path("rewritten"), dir.settings_path());
}

// A setup program stopped with Ctrl-Z while it holds the settings lock: the notifier's writes fail after their
// bounded wait, each with its error line, and once the lock is free it catches up and answers requests as ever.
// A job that ends while the lock is held must not leave its Answer "1" in the file, or the notifier stays busy.
TEST(SettingsLockHeld, NotifierGoesOnAndCatchesUpWhenTheLockIsFree) {
    TempCorvo dir;
    tool_write("ErrorLog", "1");
    tool_write("StateLog", "1");
    auto lock_lines = [&] { return count_of(log_text(dir, "err"), "INI operation ---> Lock abnormality[error: 110]"); };
    auto hold_lock = [&] {
        // O_CLOEXEC: a notifier that inherited the lock would hold it for its whole life.
        int fd = open((dir.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        flock(fd, LOCK_EX);
        return fd;
    };

    int holder = hold_lock();
    NotifierProcess notifier(dir);
    EXPECT_TRUE(wait_until([&] { return lock_lines() > 0; }, kPatience));
    EXPECT_EQ(file_key(dir, "State"), "<missing>");
    close(holder);
    ASSERT_TRUE(wait_until([&] { return file_key(dir, "State") == "2"; }, kPatience));

    // Monitoring runs (Answer "1" in the file) when the lock is taken and the stop comes; the monitor's end (State
    // "2", Answer "0") meets the held lock.
    tool_write("Request", "1");
    ASSERT_TRUE(wait_until([&] { return count_of(log_text(dir, "log"), "monitor --> A start") == 1; }, kPatience));
    int before = lock_lines();
    holder = hold_lock();
    rewrite_behind_the_lock(dir, "Request=1", "Request=4");
    ASSERT_TRUE(wait_until([&] { return count_of(log_text(dir, "log"), "monitor --> The end") == 1; }, kPatience));
    EXPECT_TRUE(wait_until([&] { return lock_lines() >= before + 2; }, kPatience));
    close(holder);
    EXPECT_TRUE(wait_until([&] { return file_key(dir, "Job") == "104"; }, kPatience));
    EXPECT_EQ(file_key(dir, "Answer"), "0");
    tool_write("Request", "99");
    EXPECT_EQ(notifier.wait_exit(), 1);
}

} // namespace
