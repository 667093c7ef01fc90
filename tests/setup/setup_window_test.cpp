// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/desktop.h"
#include "gui/message_box.h"
#include "settings/settings_access.h"
#include "setup/setup_dlg.h"
#include "setup/system_page.h"
#include "setup/test_page.h"
#include "gui/service_state.h"
#include "tests/setup/setup_test.h"
#include "tests/support/page_layout.h"

#include "kd5_version.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QUrl>

#include <map>
#include <vector>

namespace {

using SetupWindowTest = SetupTest;

} // namespace

TEST_F(SetupWindowTest, StartsWithoutASettingsFile) {
    CSetupDlg window;
    window.show();
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("corvo KD-5 lite application ver" KD5_VERSION " Chinese"));
    const char* labels[] = {" 系统 ", " 账户 ", " 日志 ", " 服务 ", " 测试 ", " 版本 "};
    ASSERT_EQ(window.page_count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(window.tabs()->tabText(i), QString::fromUtf8(labels[i]));
    }
    EXPECT_EQ(window.tabs()->currentIndex(), 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(window.page(i)->isVisible(), i == 0) << "page " << i;
    }

    // Every field empty but the state and the two factory values of the system tab.
    const std::map<QString, QString> shown = {
        {"state", QString::fromUtf8(kNotifierNotRunning)}, {"interval", "10"}, {"beep", "1"}};
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        const auto it = shown.find(edit->objectName());
        EXPECT_EQ(edit->text(), it == shown.end() ? QString() : it->second) << edit->objectName().toStdString();
    }
    for (QCheckBox* box : window.findChildren<QCheckBox*>()) {
        EXPECT_FALSE(box->isChecked());
    }
    for (QListWidget* days : window.findChildren<QListWidget*>()) {
        EXPECT_TRUE(days->selectedItems().isEmpty());
        EXPECT_EQ(days->count(), 31);
    }
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")); // starting reads, and writes nothing
}

// The pages' buttons have autoDefault off, under which Enter presses nothing even without the key filter. Here every
// button takes Enter as a dialog's buttons may, and each page has a default button whose press would write the
// file or open a web page: only the filter keeps Enter from pressing them.
TEST_F(SetupWindowTest, EnterAndEscapeLeaveEverythingAsItWas) {
    std::vector<QString> opened;
    set_desktop_opener([&](const QUrl& url) { opened.push_back(url.toString()); });
    CSetupDlg window;
    window.show();
    for (int i = 0; i < window.page_count(); ++i) {
        window.tabs()->setCurrentIndex(i);
        QList<QPushButton*> buttons = window.page(i)->findChildren<QPushButton*>();
        for (QPushButton* button : buttons) {
            button->setAutoDefault(true);
        }
        for (const char* name : {"apply", "start", "testStart", "visit"}) {
            if (auto* button = window.page(i)->findChild<QPushButton*>(QLatin1String(name))) {
                button->setDefault(true);
                break;
            }
        }
        for (QLineEdit* edit : window.page(i)->findChildren<QLineEdit*>()) {
            if (!edit->isVisible()) {
                continue;
            }
            QTest::keyClicks(edit, "7");
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClick(edit, Qt::Key_Enter);
            QTest::keyClick(edit, Qt::Key_Escape);
        }
        for (QPushButton* button : buttons) {
            MessageBox::set_next_answer(QMessageBox::No); // a question asked here must not wait for a user
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Return);
            QTest::keyClick(button, Qt::Key_Escape);
        }
    }
    MessageBox::set_next_answer(QMessageBox::NoButton);
    set_desktop_opener(nullptr);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
    // No Apply, no request and no refresh ran: nothing was written, nothing opened.
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini"));
    EXPECT_TRUE(opened.empty()) << opened.front().toStdString();
}

TEST_F(SetupWindowTest, NoTextIsCutOffAndNoControlsOverlap) {
    CSetupDlg window;
    expect_pages_fit(window);
}

TEST_F(SetupWindowTest, TestPageShowsTheSerialReadAtStartEvenAfterApply) {
    settings_put(Key::SerialNumber, "K5L-OLD");
    CSetupDlg window;
    QLineEdit* system_serial = child<QLineEdit>(window.page(0), "serial");
    system_serial->clear();
    QTest::keyClicks(system_serial, "K5L-NEW");
    click(window.page(0), "apply");
    EXPECT_EQ(stored_key(Key::SerialNumber), "K5L-NEW");
    EXPECT_EQ(child<QLineEdit>(window.page(4), "serial")->text(), "K5L-OLD");
}

TEST_F(SetupWindowTest, CloseBoxEndsNormally) {
    CSetupDlg window;
    window.show();
    window.close();
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(SetupWindowTest, CloseButtonEndsWithStatusOneDespiteUnappliedEdits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CSetupDlg window;
            window.show();
            QTest::keyClicks(child<QLineEdit>(window.page(0), "serial"), "UNSAVED");
            click(&window, "close");
        },
        ::testing::ExitedWithCode(1), "");
}
