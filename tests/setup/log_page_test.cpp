// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/desktop.h"
#include "gui/message_box.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/log_files.h"
#include "setup/log_page.h"
#include "tests/setup/setup_test.h"

#include <QCheckBox>
#include <QListWidget>
#include <QUrl>

namespace {

class LogPageTest : public SetupTest {
protected:
    LogPageTest() {
        set_desktop_opener([this](const QUrl& url) { opened.push_back(url); });
    }
    ~LogPageTest() override { set_desktop_opener({}); }

    // Sets a key in the file only, as another program would.
    static void write_behind(Key key, const char* value) {
        char section[64];
        key_section(key, 0, section, sizeof section);
        ini_put(section, key_name(key), value);
    }

    std::vector<QUrl> opened;
};

QListWidget* days(const CLogPage& page, const char* family) {
    return child<QListWidget>(&page, family);
}

int selected(const QListWidget* list) {
    QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.front());
}

} // namespace

// The day after the switch character selects an entry; catches an off-by-one, day 0 or 32 selecting an entry, and
// a short value read past its end.
TEST(LogFiles, DayEntryOfASwitchValue) {
    const std::pair<const char*, int> cases[] = {
        {"105", 4}, {"001", 0}, {"131", 30}, {"000", -1}, {"132", -1}, {"1", -1}, {"", -1}, {"1x", -1}, {"1-3", -1},
    };
    for (const auto& [value, entry] : cases) {
        EXPECT_EQ(log_day_entry(value), entry) << value;
    }
}

TEST(LogFiles, SwitchChangesOnlyTheFirstCharacter) {
    EXPECT_EQ(log_switch_value("003", true), "103");
    EXPECT_EQ(log_switch_value("115", false), "015");
    EXPECT_EQ(log_switch_value("", true), "1");
    EXPECT_EQ(log_switch_value("", false), "0");
}

TEST_F(LogPageTest, SwitchesAndDaysComeFromTheKeys) {
    settings_put(Key::StateLog, "105");
    settings_put(Key::ErrorLog, "000");
    settings_clear();
    CLogPage page(nullptr);
    EXPECT_TRUE(child<QCheckBox>(&page, "stateLogSwitch")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(&page, "errorLogSwitch")->isChecked());
    EXPECT_EQ(selected(days(page, "stateLogDays")), 4);
    EXPECT_EQ(days(page, "stateLogDays")->item(4)->text(), "05");
    EXPECT_EQ(selected(days(page, "errorLogDays")), -1);
}

TEST_F(LogPageTest, ApplyKeepsADayTheNotifierMovedMeanwhile) {
    settings_put(Key::StateLog, "105");
    settings_put(Key::ErrorLog, "003");
    settings_clear();
    CLogPage page(nullptr);
    write_behind(Key::StateLog, "109"); // the notifier began the 9th's file after the page opened
    child<QCheckBox>(&page, "stateLogSwitch")->setChecked(false);
    child<QCheckBox>(&page, "errorLogSwitch")->setChecked(true);
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::StateLog), "009");
    EXPECT_EQ(stored_key(Key::ErrorLog), "103");
}

TEST_F(LogPageTest, ApplyWithoutKeysWritesTheSwitchAlone) {
    CLogPage page(nullptr);
    child<QCheckBox>(&page, "stateLogSwitch")->setChecked(true);
    click(&page, "apply");
    EXPECT_EQ(keys_in_file(), (std::vector<std::string>{"StateLog", "ErrorLog"}));
    EXPECT_EQ(stored_key(Key::StateLog), "1");
    EXPECT_EQ(stored_key(Key::ErrorLog), "0");
}

TEST_F(LogPageTest, ViewOpensTheSelectedDaysFileWhereTheLogsAreWritten) {
    settings_put(Key::StateLog, "105");
    CLogPage page(nullptr);
    click(&page, "viewStateLog");
    click(&page, "viewErrorLog"); // nothing selected: day 00, which never exists
    days(page, "errorLogDays")->setCurrentRow(30);
    click(&page, "viewErrorLog");
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(corvo.path("log05.log"))));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(QString::fromStdString(corvo.path("err00.log"))));
    EXPECT_EQ(opened[2], QUrl::fromLocalFile(QString::fromStdString(corvo.path("err31.log"))));
}

TEST_F(LogPageTest, ClearDeletesOneFamilyOnlyAfterOk) {
    for (int day = 1; day <= 31; day += 3) {
        char name[16];
        std::snprintf(name, sizeof name, "log%02d.log", day);
        corvo.write(name, "line\r\n");
    }
    corvo.write("err05.log", "line\r\n");
    corvo.write("dbg05.log", "line\r\n");
    CLogPage page(nullptr);

    MessageBox::set_next_answer(QMessageBox::Cancel);
    click(&page, "clearStateLog");
    EXPECT_EQ(MessageBox::last_caption(), "File Delete");
    EXPECT_EQ(MessageBox::last_text(), QString::fromUtf8("清除所有运行日志。"));
    EXPECT_TRUE(corvo.exists("log01.log"));
    EXPECT_TRUE(corvo.exists("log31.log"));

    MessageBox::set_next_answer(QMessageBox::Ok);
    click(&page, "clearStateLog");
    for (int day = 1; day <= 31; day += 3) {
        char name[16];
        std::snprintf(name, sizeof name, "log%02d.log", day);
        EXPECT_FALSE(corvo.exists(name)) << name;
    }
    EXPECT_TRUE(corvo.exists("err05.log"));
    EXPECT_TRUE(corvo.exists("dbg05.log"));
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")); // clearing writes no key

    MessageBox::set_next_answer(QMessageBox::Ok);
    click(&page, "clearErrorLog");
    EXPECT_EQ(MessageBox::last_text(), QString::fromUtf8("清除所有错误日志。"));
    EXPECT_FALSE(corvo.exists("err05.log"));
    EXPECT_TRUE(corvo.exists("dbg05.log"));
}
