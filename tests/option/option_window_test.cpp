// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_dlg.h"
#include "option/service_page.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/setup_dlg.h"
#include "gui/service_state.h"
#include "tests/setup/setup_test.h"
#include "tests/support/notifier_stand_in.h"
#include "tests/support/page_layout.h"

#include "kd5_version.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using OptionWindowTest = SetupTest;

constexpr int kPatienceMs = 10000;

QString shown_state(const TabWindow& window, int service_tab) {
    return child<QLineEdit>(window.page(service_tab), "state")->text();
}

} // namespace

TEST_F(OptionWindowTest, StartsWithoutASettingsFile) {
    COptionDlg window;
    window.show();
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("corvo KD-5 lite option ver" KD5_VERSION " Chinese"));
    const char* labels[] = {" 特定邮件 ", " 声音 ", " 服务 ", " 连接 "};
    const int trace_numbers[] = {1, 2, 4, 3};
    ASSERT_EQ(window.page_count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(window.tabs()->tabText(i), QString::fromUtf8(labels[i]));
        EXPECT_EQ(window.page(i)->trace_number(), trace_numbers[i]);
        EXPECT_EQ(window.page(i)->isVisible(), i == 0) << "page " << i;
    }

    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        if (edit->objectName() == "state") {
            EXPECT_EQ(edit->text(), QString::fromUtf8(kNotifierNotRunning)); // and no stale state from the file
        } else {
            EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
        }
    }
    QList<QListWidget*> lists = window.page(0)->findChildren<QListWidget*>();
    ASSERT_EQ(lists.size(), 3);
    for (QListWidget* list : lists) {
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("0.无条件"));
        EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("1.完全一致"));
        EXPECT_EQ(list->item(2)->text(), QString::fromUtf8("2.部分一致"));
        ASSERT_EQ(list->selectedItems().size(), 1);
        EXPECT_EQ(list->row(list->selectedItems().front()), 0) << "an empty condition is no condition";
    }
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")); // starting reads, and writes nothing
}

TEST_F(OptionWindowTest, NoTextIsCutOffAndNoControlsOverlap) {
    COptionDlg window;
    expect_pages_fit(window);
}

// Labels show outside text (a provider's answer, a server's name, the keyring's words): none may take it for rich
// text, which drew a forged green "已登录" on the 连接 tab.
TEST_F(OptionWindowTest, EveryLabelOfBothToolsShowsItsTextAsItIs) {
    COptionDlg option;
    CSetupDlg setup;
    int labels = 0;
    for (QWidget* window : {static_cast<QWidget*>(&option), static_cast<QWidget*>(&setup)}) {
        for (QLabel* label : window->findChildren<QLabel*>()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            ++labels;
        }
    }
    EXPECT_GT(labels, 20);
}

// Escape never ends it; the Close button and the close box both end the program at once, saving nothing.
TEST_F(OptionWindowTest, TheCloseButtonAndTheCloseBoxEndItEscapeDoesNot) {
    COptionDlg window;
    window.show();
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::function<void(COptionDlg&)> ends[] = {
        [](COptionDlg& dying) { click(&dying, "close"); },
        [](COptionDlg& dying) { dying.close(); }, // what the window manager's close box asks for
    };
    for (const auto& end : ends) {
        EXPECT_EXIT(
            {
                COptionDlg dying;
                dying.show();
                QTest::keyClicks(child<QLineEdit>(dying.page(0), "address11"), "unsaved@example.com");
                end(dying);
            },
            ::testing::ExitedWithCode(1), "");
    }
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini"));
}

// The two tools share the Request key and nothing else: catches a hidden page that refreshes its state on its own,
// and one tool's request undone or kept back by the other's.
TEST_F(OptionWindowTest, BothToolsOpenTheLastRequestStands) {
    NotifierStandIn notifier;
    settings_put(Key::State, "2");
    settings_clear();
    CSetupDlg setup;
    COptionDlg option;
    const int setup_service = 3;
    const int option_service = 2;
    ASSERT_NE(qobject_cast<COptionServicePage*>(option.page(option_service)), nullptr);

    click(option.page(option_service), "start");
    EXPECT_EQ(stored_key(Key::Request), "1");
    click(setup.page(setup_service), "stop");
    EXPECT_EQ(stored_key(Key::Request), "4");
    click(option.page(option_service), "start");
    EXPECT_EQ(stored_key(Key::Request), "1");
    click(option.page(option_service), "stop");
    EXPECT_EQ(stored_key(Key::Request), "4");
    click(setup.page(setup_service), "start");
    EXPECT_EQ(stored_key(Key::Request), "1");

    settings_put(Key::State, "1"); // the notifier took the request up
    EXPECT_EQ(shown_state(option, option_service), QString::fromUtf8("停止中"));
    click(option.page(option_service), "refresh");
    EXPECT_EQ(shown_state(option, option_service), QString::fromUtf8("工作中（邮件检查中）"));
    EXPECT_EQ(shown_state(setup, setup_service), QString::fromUtf8("停止中"));
    click(setup.page(setup_service), "refresh");
    EXPECT_EQ(shown_state(setup, setup_service), QString::fromUtf8("工作中（邮件检查中）"));
}

// Both tools offer their About entry in the window's menu; the box it opens names the tool, keeps its texts in
// their room, and, being no part of the tool's window, closes on Enter like any dialog (the window's Enter rule
// would keep it open for good).
TEST_F(OptionWindowTest, AboutEntryOfEachToolOpensItsAboutBoxWhichEnterCloses) {
    struct Row {
        std::function<std::unique_ptr<TabWindow>()> make;
        const char* entry;
        const char* line;
    };
    const Row rows[] = {
        {[] { return std::make_unique<CSetupDlg>(); }, "kd5lite_ap 的版本信息(&A)...",
         "kd5lite_ap Version " KD5_VERSION " Chinese"},
        {[] { return std::make_unique<COptionDlg>(); }, "kd5lite_op 的版本信息(&A)...",
         "kd5lite_op Version " KD5_VERSION " Chinese"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::unique_ptr<TabWindow> window = row.make();
        window->show();
        QAction* about = window->about_action();
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->text(), QString::fromUtf8(row.entry));
        EXPECT_EQ(window->contextMenuPolicy(), Qt::ActionsContextMenu);
        EXPECT_TRUE(window->actions().contains(about));

        QString title;
        QString line;
        QString licence;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            QTimer::singleShot(kPatienceMs, box, &QDialog::reject); // a box that Enter cannot close fails, not hangs
            title = box->windowTitle();
            auto* text = child<QLabel>(box, "line");
            line = text->text();
            EXPECT_LE(text->fontMetrics().horizontalAdvance(line), text->width());
            auto* licence_line = child<QLabel>(box, "licence");
            licence = licence_line->text();
            EXPECT_LE(licence_line->heightForWidth(licence_line->width()), licence_line->height());
            EXPECT_TRUE(box->rect().contains(licence_line->geometry()));
            EXPECT_FALSE(licence_line->geometry().intersects(text->geometry()));
            EXPECT_TRUE(box->rect().contains(child<QPushButton>(box, "ok")->geometry()));
            EXPECT_FALSE(child<QLabel>(box, "icon")->pixmap().isNull());
            QTest::keyClick(box, Qt::Key_Return);
            EXPECT_EQ(box->result(), QDialog::Accepted);
        });
        about->trigger(); // returns once the box has closed
        EXPECT_EQ(title, QString::fromUtf8("ver " KD5_VERSION " Chinese"));
        EXPECT_EQ(line, QString::fromUtf8(row.line));
        EXPECT_TRUE(licence.contains(QLatin1String("GPL-3.0-or-later"))) << licence.toStdString();
        EXPECT_TRUE(window->isVisible());
    }
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini"));
}
