// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/desktop.h"
#include "gui/service_state.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/test_page.h"
#include "setup/version_page.h"
#include "tests/setup/setup_test.h"
#include "tests/support/notifier_stand_in.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {
using RequestPagesTest = SetupTest;
} // namespace

TEST_F(RequestPagesTest, TestPageShowsTheSerialAndWritesItsRequests) {
    settings_put(Key::SerialNumber, "K5L-7");
    settings_clear();
    CTestPage page(nullptr);
    QLineEdit* serial = child<QLineEdit>(&page, "serial");
    EXPECT_EQ(serial->text(), "K5L-7");
    EXPECT_TRUE(serial->isReadOnly());

    click(&page, "testStart");
    EXPECT_EQ(stored_key(Key::Request), "2");
    settings_put(Key::Request, "0");
    click(&page, "testStart"); // each press writes again
    EXPECT_EQ(stored_key(Key::Request), "2");
    click(&page, "testEnd");
    EXPECT_EQ(stored_key(Key::Request), "4");
}

// Monitoring stands requested or is the job at work, and only while a notifier runs: catches a test page that
// takes a monitor's acknowledgement (Job 105) or a finished test (Job 102) for monitoring, or a dead notifier's
// leftovers for a live one.
TEST(MonitoringRuns, RequestedOrAtWorkInARunningNotifier) {
    const struct {
        const char* request;
        const char* state;
        const char* job;
        bool running;
        bool monitoring;
    } rows[] = {
        {"1", "1", "101", true, true},   {"1", "2", "104", true, true},  {"4", "1", "101", true, true},
        {"2", "1", "102", true, false},  {"0", "2", "104", true, false}, {"0", "2", "105", true, false},
        {"1", "1", "101", false, false}, {"", "", "", true, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(monitoring_runs(r.request, r.state, r.job, r.running), r.monitoring)
            << r.request << " " << r.state << " " << r.job << " " << r.running;
    }
}

// While monitoring runs the test would wait for the monitor and 测试结束 would end it without a word: the tab
// says so and greys both buttons, and gives them back once monitoring has stopped.
TEST_F(RequestPagesTest, TestPageWaitsWhileMonitoringRunsAndSaysSo) {
    Timing t;
    t.service_refresh_ms = 20;
    set_timing(t);
    NotifierStandIn notifier;
    settings_put(Key::Request, "1");
    settings_put(Key::State, "1");
    settings_put(Key::Job, "101");
    CTestPage page(nullptr);
    page.show();
    QLabel* line = child<QLabel>(&page, "monitoring");
    EXPECT_FALSE(child<QPushButton>(&page, "testStart")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(&page, "testEnd")->isEnabled());
    EXPECT_TRUE(line->text().contains(QString::fromUtf8("停止使用"))) << line->text().toStdString();
    EXPECT_LE(line->heightForWidth(line->width()), line->height());
    click(&page, "testEnd"); // greyed: nothing is written
    EXPECT_EQ(stored_key(Key::Request), "1");

    settings_put(Key::Request, "4"); // 停止使用 on the service tab; the monitor ends and the notifier records it
    settings_put(Key::State, "2");
    settings_put(Key::Job, "104");
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(&page, "testStart")->isEnabled(), 10000);
    EXPECT_TRUE(child<QPushButton>(&page, "testEnd")->isEnabled());
    EXPECT_TRUE(line->text().isEmpty());
    click(&page, "testStart");
    EXPECT_EQ(stored_key(Key::Request), "2");
    EXPECT_TRUE(child<QPushButton>(&page, "testEnd")->isEnabled()) << "a test of its own is no monitoring";
    set_timing(Timing{});
}

TEST_F(RequestPagesTest, VersionPageShowsTheIdentityAndOpensTheMakersPage) {
    const std::pair<Key, const char*> values[] = {{Key::Version, "Ver 2.20.2"},
                                                  {Key::Company, "KESTREL CO.,LTD."},
                                                  {Key::Brand, "corvo"},
                                                  {Key::Product, "KD-5"},
                                                  {Key::Type, "lite2"}};
    for (const auto& [key, value] : values) {
        settings_put(key, value);
    }
    settings_clear();
    const std::string file_before = corvo.read("corvo_kd5lite.ini");

    std::vector<QUrl> opened;
    set_desktop_opener([&](const QUrl& url) { opened.push_back(url); });
    CVersionPage page(nullptr);
    const char* names[] = {"version", "company", "brand", "product", "type"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        QLineEdit* field = child<QLineEdit>(&page, names[i]);
        EXPECT_EQ(field->text().toStdString(), values[i].second);
        EXPECT_TRUE(field->isReadOnly());
    }
    click(&page, "visit");
    set_desktop_opener({});

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString().toStdString(), kMakerWebPage);
    bool shown = false;
    for (QLabel* label : page.findChildren<QLabel*>()) {
        shown = shown || label->text() == QLatin1String(kMakerWebPage);
    }
    EXPECT_TRUE(shown) << "the address opened is the address shown";
    EXPECT_EQ(corvo.read("corvo_kd5lite.ini"), file_before);
}
