// SPDX-License-Identifier: GPL-3.0-or-later
// Starting the notifier at login, per user: the XDG autostart entry read and written, and the setup program's
// switch on its service page over the real files.

#include "gui/message_box.h"
#include "platform/autostart_entry.h"
#include "setup/service_page.h"
#include "tests/setup/setup_test.h"

#include <QCheckBox>
#include <cstdlib>
#include <filesystem>

namespace {

TEST(AutostartEntry, HiddenOnlyByTheKeysOfItsDesktopEntryGroup) {
    struct Row {
        const char* text;
        bool hidden;
    };
    const Row rows[] = {
        {"", false},
        {"[Desktop Entry]\nExec=kd5lite\n", false},
        {"[Desktop Entry]\nHidden=true\n", true},
        {"[Desktop Entry]\r\nHidden = true \r\n", true},
        {"[Desktop Entry]\nHidden=false\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n", false},
        {"[Desktop Action stop]\nHidden=true\n", false}, // another group's key
        {"Hidden=true\n[Desktop Entry]\n", false},        // before any group
        {"[Desktop Entry]\n#Hidden=true\n", false},
        {"[Desktop Entry]\nHidden=true", true}, // no final line break
    };
    for (const Row& row : rows) {
        EXPECT_EQ(autostart_entry_hidden(row.text), row.hidden) << row.text;
    }
    EXPECT_FALSE(autostart_entry_hidden(autostart_entry_text(true, "/usr/bin/kd5lite")));
    EXPECT_TRUE(autostart_entry_hidden(autostart_entry_text(false, "/usr/bin/kd5lite")));
}

// The notifier's path as one Exec argument: a build tree under "My Projects" must start the program, not
// "/home/li/My" with an argument. Each row is what the desktop entry rules make of a path, quoting included.
TEST(AutostartEntry, ExecQuotesAPathThatNeedsIt) {
    const std::pair<const char*, const char*> rows[] = {
        {"/usr/bin/kd5lite", "/usr/bin/kd5lite"},
        {"/home/li/My Projects/kd5lite", "\"/home/li/My Projects/kd5lite\""},
        {"/opt/it's/kd5lite", "\"/opt/it's/kd5lite\""},
        {"/opt/a\"b/kd5lite", "\"/opt/a\\\\\"b/kd5lite\""},   // \" inside the quotes, its \ escaped again
        {"/opt/$HOME/kd5lite", "\"/opt/\\\\$HOME/kd5lite\""}, // never expanded
        {"/opt/a\\b/kd5lite", "\"/opt/a\\\\\\\\b/kd5lite\""}, // four backslashes for one
        {"/opt/`x`/kd5lite", "\"/opt/\\\\`x\\\\`/kd5lite\""},
        {"/opt/100%/kd5lite", "/opt/100%%/kd5lite"},     // not a field code
        {"/opt/a\tb/kd5lite", "\"/opt/a\\tb/kd5lite\""}, // the string value's escape of a tab
    };
    TempCorvo dir;
    for (const auto& [path, argument] : rows) {
        EXPECT_EQ(desktop_exec_argument(path), argument) << path;
        const std::string text = autostart_entry_text(true, path);
        EXPECT_NE(text.find(std::string("\nExec=") + argument + "\n"), std::string::npos);
        // Debian's checker of desktop entries, which parses Exec by the same rules, takes each as written.
        dir.write("kd5lite.desktop", text);
        const std::string validate = "desktop-file-validate " + dir.path("kd5lite.desktop") + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(validate.c_str()), 0) << text;
    }
}

// The folders of the XDG rule point into the test's directory while it lives.
class AutostartTest : public SetupTest {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", corvo.path("config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", corvo.path("xdg").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CONFIG_DIRS");
    }
    static bool switched_on(const CServicePage& page) { return child<QCheckBox>(&page, "autostart")->isChecked(); }
};

// The system-wide entry starts the notifier only for users with a settings file; the user's own entry, once
// written by the switch, decides from then on, and Hidden=true switches it off.
TEST_F(AutostartTest, TheSwitchShowsAndWritesTheUsersOwnEntry) {
    std::filesystem::create_directories(corvo.path("xdg/autostart"));
    corvo.write("xdg/autostart/kd5lite.desktop", "[Desktop Entry]\nExec=kd5lite --autostart\n");
    EXPECT_FALSE(switched_on(CServicePage(nullptr))); // no settings file: the system entry starts nothing

    corvo.write("corvo_kd5lite.ini", "");
    CServicePage page(nullptr);
    EXPECT_TRUE(switched_on(page));
    EXPECT_FALSE(corvo.exists("config/autostart/kd5lite.desktop")); // shown, not written

    child<QCheckBox>(&page, "autostart")->setChecked(false);
    click(&page, "autostartApply");
    const std::string off = corvo.read("config/autostart/kd5lite.desktop");
    EXPECT_NE(off.find("\nHidden=true\n"), std::string::npos) << off;
    EXPECT_FALSE(switched_on(CServicePage(nullptr)));

    child<QCheckBox>(&page, "autostart")->setChecked(true);
    click(&page, "autostartApply");
    const std::string on = corvo.read("config/autostart/kd5lite.desktop");
    EXPECT_EQ(on.find("Hidden"), std::string::npos) << on;
    EXPECT_NE(on.find("/kd5lite\n"), std::string::npos) << on;

    EXPECT_TRUE(switched_on(CServicePage(nullptr)));
    EXPECT_EQ(std::filesystem::status(corvo.path("config/autostart/kd5lite.desktop")).permissions() &
                  std::filesystem::perms::others_write,
              std::filesystem::perms::none);
}

// A folder that cannot be made (a file in the place of the autostart folder) is said in a box, not ignored.
TEST_F(AutostartTest, AnEntryThatCannotBeWrittenIsToldInABox) {
    std::filesystem::create_directories(corvo.path("config"));
    corvo.write("config/autostart", "a file");
    CServicePage page(nullptr);
    MessageBox::set_next_answer(QMessageBox::Ok);
    click(&page, "autostartApply");
    EXPECT_TRUE(MessageBox::last_text().contains(QString::fromUtf8("登录时启动的设置未能保存")))
        << MessageBox::last_text().toStdString();
    EXPECT_TRUE(MessageBox::last_text().contains(QString::fromStdString(corvo.path("config/autostart"))));
}

} // namespace
