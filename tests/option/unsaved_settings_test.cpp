// SPDX-License-Identifier: GPL-3.0-or-later
// Both tools tell the user when a button's settings write fails, instead of hanging behind a stopped program that
// holds the settings lock or saying nothing.

#include "gui/message_box.h"
#include "option/connection_page.h"
#include "option/sender_page.h"
#include "option/service_page.h"
#include "option/sound_page.h"
#include "platform/timing.h"
#include "setup/accounts_page.h"
#include "setup/log_page.h"
#include "setup/service_page.h"
#include "setup/system_page.h"
#include "setup/test_page.h"
#include "tests/setup/setup_test.h"

#include <QCheckBox>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

class UnsavedSettingsTest : public SetupTest {
protected:
    void SetUp() override {
        Timing t;
        t.settings_lock_wait_ms = 100;
        set_timing(t);
    }
    void TearDown() override { set_timing(Timing{}); }

    // Forgets the last box, so that a button that shows none can be told apart.
    static void forget_last_box() {
        MessageBox::set_next_answer(QMessageBox::Ok);
        MessageBox::question(nullptr, "", "", QMessageBox::Ok);
    }
};

TEST_F(UnsavedSettingsTest, EveryButtonThatWritesSaysSoWhenTheSettingsLockIsHeld) {
    struct Case {
        const char* page;
        std::function<std::unique_ptr<QWidget>()> make;
        const char* button;
    } cases[] = {
        {"setup system", [] { return std::make_unique<CSystemPage>(nullptr); }, "apply"},
        {"setup accounts",
         [] {
             // The page writes only what was edited.
             auto page = std::make_unique<CAccountsPage>(nullptr);
             child<QCheckBox>(page.get(), "switch1")->setChecked(true);
             return page;
         },
         "apply"},
        {"setup log", [] { return std::make_unique<CLogPage>(nullptr); }, "apply"},
        {"setup service", [] { return std::make_unique<CServicePage>(nullptr); }, "start"},
        {"setup test", [] { return std::make_unique<CTestPage>(nullptr); }, "testStart"},
        {"option senders", [] { return std::make_unique<CSenderPage>(nullptr); }, "apply"},
        {"option sounds", [] { return std::make_unique<CSoundPage>(nullptr); }, "apply"},
        {"option connection", [] { return std::make_unique<CConnectionPage>(nullptr); }, "apply"},
        {"option service", [] { return std::make_unique<COptionServicePage>(nullptr); }, "stop"},
        {"option service hook", [] { return std::make_unique<COptionServicePage>(nullptr); }, "applyHook"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<QWidget> page = c.make();
        int holder = open((corvo.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        forget_last_box();
        MessageBox::set_next_answer(QMessageBox::Ok);
        click(page.get(), c.button);
        EXPECT_EQ(MessageBox::last_text(), CSystemPage::unsaved_message()) << c.page;
        EXPECT_TRUE(MessageBox::last_text().contains(QString::fromUtf8("另一个程序锁住"))) << c.page;
        EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")) << c.page;

        close(holder); // the other program goes on: pressing the button again saves, without a word
        forget_last_box();
        click(page.get(), c.button);
        EXPECT_EQ(MessageBox::last_text(), "") << c.page;
        EXPECT_TRUE(corvo.exists("corvo_kd5lite.ini")) << c.page;
        std::filesystem::remove(corvo.settings_path());
    }
}

// The box names the reason itself, since the error log is off by default: a file that cannot be read (a directory
// in its place here) is told apart from a lock held by another program.
TEST_F(UnsavedSettingsTest, TheBoxSaysWhyTheSettingsWereNotSaved) {
    CSystemPage page(nullptr);
    std::filesystem::create_directory(corvo.settings_path());
    forget_last_box();
    MessageBox::set_next_answer(QMessageBox::Ok);
    click(&page, "apply");
    const QString text = MessageBox::last_text();
    EXPECT_TRUE(text.contains(QString::fromUtf8("设置文件无法读取"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(corvo.settings_path()))) << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromUtf8("错误日志"))) << text.toStdString();
    std::filesystem::remove(corvo.settings_path());
}

} // namespace
