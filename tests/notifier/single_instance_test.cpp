// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/single_instance.h"

#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char kLockName[] = "corvo KD-5 lite.lock";

// What $XDG_RUNTIME_DIR holds at the lock file's name before the notifier starts.
enum class Runtime { usable, unset, missing_dir, symlink_elsewhere, directory, foreign_file };

// Each row: the lock goes where it can be kept, and a second notifier of the same user is refused all the same.
// A lock file that is a link, not a file, or another user's is left untouched and the settings directory is used.
TEST(SingleInstance, LockIsKeptInTheRuntimeDirOrElseInTheSettingsDir) {
    struct Row {
        Runtime runtime;
        bool in_runtime_dir;
    };
    for (auto [runtime, in_runtime_dir] :
         {Row{Runtime::usable, true}, Row{Runtime::unset, false}, Row{Runtime::missing_dir, false},
          Row{Runtime::symlink_elsewhere, false}, Row{Runtime::directory, false}, Row{Runtime::foreign_file, false}}) {
        if (runtime == Runtime::foreign_file && geteuid() != 0) {
            continue; // only root can give a file away
        }
        TempCorvo dir;
        std::string run = dir.path("run");
        std::string lock = run + "/" + kLockName;
        std::string elsewhere = dir.path("elsewhere");
        if (runtime != Runtime::missing_dir) {
            fs::create_directory(run);
        }
        if (runtime == Runtime::symlink_elsewhere) {
            fs::create_symlink(elsewhere, lock);
        } else if (runtime == Runtime::directory) {
            fs::create_directory(lock);
        } else if (runtime == Runtime::foreign_file) {
            dir.write("run/" + std::string(kLockName), "");
            ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
        }
        if (runtime == Runtime::unset) {
            unsetenv("XDG_RUNTIME_DIR");
        } else {
            setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        }
        int row = static_cast<int>(runtime);

        EXPECT_EQ(single_instance_lock(), InstanceLock::held) << row;
        EXPECT_EQ(single_instance_lock(), InstanceLock::refused) << row;
        EXPECT_EQ(dir.exists(kLockName), !in_runtime_dir) << row;
        EXPECT_FALSE(fs::exists(elsewhere)) << row;
        if (runtime == Runtime::foreign_file) {
            EXPECT_EQ(fs::file_size(lock), 0u);
        }
        unsetenv("XDG_RUNTIME_DIR");
    }
}

} // namespace
