#include "gui/service_page.h"
#include "gui/service_state.h"
#include "settings/settings_access.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"
#include "tests/support/widgets.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const ServicePage::Note kNote = {"a", "b", "c", "d"};

class SharedServicePageTest : public ::testing::Test {
protected:
    TempCorvo corvo;
};

QString shown_state(const ServicePage& page) {
    return child<QLineEdit>(&page, "state")->text();
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

TEST_F(SharedServicePageTest, StartsWithWaitWhenTheNotifierNeverRan) {
    ServicePage page(nullptr, 4, kNote);
    EXPECT_EQ(shown_state(page), QString::fromUtf8("wait ..."));
    EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")); // showing the state writes nothing
}

TEST_F(SharedServicePageTest, StateFieldChangesOnlyWithTheRefreshButton) {
    settings_put(Key::State, "1");
    ServicePage page(nullptr, 4, kNote);
    EXPECT_EQ(shown_state(page), QString::fromUtf8("工作中（邮件检查中）"));
    EXPECT_TRUE(child<QLineEdit>(&page, "state")->isReadOnly());

    settings_put(Key::State, "2");
    press(page, "stop");
    EXPECT_EQ(shown_state(page), QString::fromUtf8("工作中（邮件检查中）"));
    press(page, "refresh");
    EXPECT_EQ(shown_state(page), QString::fromUtf8("停止中"));
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
