// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/service_page.h"
#include "gui/service_state.h"
#include "settings/settings_access.h"
#include "platform/timing.h"
#include "tests/support/notifier_stand_in.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"
#include "tests/support/widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const ServicePage::Note kNote = {"a", "b", "c", "d"};

class SharedServicePageTest : public ::testing::Test {
protected:
    TempCorvo corvo;
    NotifierStandIn notifier;
};

QString shown_state(const ServicePage& page) {
    return child<QLineEdit>(&page, "state")->text();
}

QString fate_line(const ServicePage& page) {
    return child<QLabel>(&page, "fate")->text();
}

void press(const ServicePage& page, const char* button) {
    QTest::mouseClick(child<QPushButton>(&page, button), Qt::LeftButton);
}

} // namespace

// The state is a number with leading digits counting: catches a text compare ("02" is 2), an empty value read as
// anything but "wait ...", and unknown codes shown as a known state.
TEST(ServiceState, TextForEachValueOfTheStateKey) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "wait ..."},
        {"0", "wait ..."},
        {"abc", "wait ..."},
        {"1", "工作中（邮件检查中）"},
        {"1x", "工作中（邮件检查中）"},
        {"02", "停止中"},
        {"2", "停止中"},
        {"3", "故障中"},
        {"7", "故障中"},
        {"-1", "故障中"},
        {"99", "故障中"},
    };
    for (const auto& [state, text] : cases) {
        EXPECT_STREQ(service_state_text(state), text) << "State " << state;
    }
}

TEST_F(SharedServicePageTest, StartsWithWaitWhenTheNotifierHasNotInitialisedYet) {
    ServicePage page(nullptr, 4, kNote);
    EXPECT_EQ(shown_state(page), QString::fromUtf8("wait ..."));
    EXPECT_EQ(fate_line(page), QString());
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")); // showing the state writes nothing
}

// A hidden page reads nothing; "运行扫描" reads at once, and so does a button, whose request may change the state.
TEST_F(SharedServicePageTest, HiddenPageChangesOnlyWithTheRefreshButton) {
    settings_put(Key::State, "1");
    ServicePage page(nullptr, 4, kNote);
    EXPECT_EQ(shown_state(page), QString::fromUtf8("工作中（邮件检查中）"));
    EXPECT_TRUE(child<QLineEdit>(&page, "state")->isReadOnly());

    settings_put(Key::State, "2");
    QCoreApplication::processEvents();
    EXPECT_EQ(shown_state(page), QString::fromUtf8("工作中（邮件检查中）"));
    press(page, "refresh");
    EXPECT_EQ(shown_state(page), QString::fromUtf8("停止中"));
}

// A shown page follows the notifier on its own; hidden again, it stops reading the file.
TEST_F(SharedServicePageTest, ShownPageFollowsTheNotifiersState) {
    Timing t;
    t.service_refresh_ms = 20;
    set_timing(t);
    settings_put(Key::State, "2");
    ServicePage page(nullptr, 4, kNote);
    page.show();
    settings_put(Key::State, "1");
    QTRY_COMPARE_WITH_TIMEOUT(shown_state(page), QString::fromUtf8("工作中（邮件检查中）"), 10000);
    notifier.end();
    QTRY_COMPARE_WITH_TIMEOUT(shown_state(page), QString::fromUtf8(kNotifierNotRunning), 10000);
    set_timing(Timing{});
}

// What follows a button: waiting until the notifier records the request in Job, then taken; with no notifier, a
// request is lost at the next start (Request is reset then), so the page says it was not taken.
TEST_F(SharedServicePageTest, ButtonsSayWhetherTheNotifierTookTheirRequest) {
    settings_put(Key::Job, "104");
    ServicePage page(nullptr, 4, kNote);
    press(page, "start");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("已发出「开始使用」，等待通知程序……"));
    settings_put(Key::Job, "101");
    press(page, "refresh");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("通知程序已接受「开始使用」"));
    press(page, "stop");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("已发出「停止使用」，等待通知程序……"));
    settings_put(Key::Job, "104");
    press(page, "refresh");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("通知程序已接受「停止使用」"));

    press(page, "acknowledge");
    EXPECT_EQ(stored_key(Key::Request), "5");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("已发出「已读」，等待通知程序……"));
    settings_put(Key::Job, "105");
    press(page, "refresh");
    EXPECT_EQ(fate_line(page), QString::fromUtf8("通知程序已接受「已读」"));

    notifier.end();
    press(page, "start");
    EXPECT_EQ(shown_state(page), QString::fromUtf8("通知程序没有运行"));
    EXPECT_EQ(fate_line(page), QString::fromUtf8("通知程序没有运行，「开始使用」未被接受"));
}

TEST(RequestFate, JobRecordsWhatTheNotifierActedOn) {
    struct Case {
        const char* request;
        const char* job;
        bool running;
        RequestFate fate;
    } cases[] = {
        {nullptr, "101", true, RequestFate::none},   {"1", "101", true, RequestFate::taken},
        {"1", "104", true, RequestFate::waiting},    {"1", "102", true, RequestFate::waiting},
        {"4", "104", true, RequestFate::taken},      {"4", "0104", true, RequestFate::taken},
        {"4", "", true, RequestFate::waiting},       {"1", "101", false, RequestFate::not_taken},
        {"4", "104", false, RequestFate::not_taken},
    };
    for (const Case& c : cases) {
        const std::optional<Request> request = c.request ? std::optional(request_of(c.request)) : std::nullopt;
        EXPECT_EQ(request_fate(request, c.job, c.running), c.fate)
            << (c.request ? c.request : "none") << " job " << c.job << " running " << c.running;
    }
}

TEST_F(SharedServicePageTest, ButtonsWriteTheirRequests) {
    ServicePage page(nullptr, 4, kNote);
    press(page, "start");
    EXPECT_EQ(stored_key(Key::Request), "1");
    press(page, "stop");
    EXPECT_EQ(stored_key(Key::Request), "4");
    // A request stands until the notifier acts; pressing again writes it again over whatever is there now.
    settings_put(Key::Request, "0");
    press(page, "start");
    EXPECT_EQ(stored_key(Key::Request), "1");
}

// A first start: nothing pressed yet and no account to check, the line under the buttons says where accounts are
// entered. It is read each time the page is shown, so an account applied on another tab clears it; a request's
// fate takes the line once a button is pressed.
TEST_F(SharedServicePageTest, WithoutAnAccountTheLineSaysWhereToEnterOne) {
    const struct {
        const char* what;
        int account;
        const char* on;
        const char* id;
        bool told;
    } rows[] = {
        {"no account", 0, "", "", true},
        {"switched off", 0, "0", "taro@example.org", true},
        {"on without an ID", 1, "1", "", true},
        {"on with an ID", 2, "1", "hana@example.org", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        settings_put(Key::Switch, row.on, row.account);
        settings_put(Key::ID, row.id, row.account);
        ServicePage page(nullptr, 4, kNote);
        page.show();
        EXPECT_EQ(fate_line(page), row.told ? QString::fromUtf8(kNoAccountYet) : QString());
        if (row.told) {
            press(page, "start");
            EXPECT_EQ(fate_line(page), QString::fromUtf8("已发出「开始使用」，等待通知程序……"));
        }
        for (int i = 0; i < 3; ++i) {
            settings_put(Key::Switch, "", i);
            settings_put(Key::ID, "", i);
        }
    }
}
