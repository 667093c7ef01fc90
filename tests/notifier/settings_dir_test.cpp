// The notifier refuses a settings directory that is not its user's alone.

#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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

} // namespace
