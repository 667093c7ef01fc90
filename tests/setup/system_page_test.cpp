// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/system_page.h"
#include "tests/setup/setup_test.h"

#include <QLineEdit>

namespace {

using SystemPageTest = SetupTest;

// Replaces what a field shows by text, as a user who selects it all and types does.
void retype(const CSystemPage& page, const char* field, const char* text) {
    QLineEdit* edit = child<QLineEdit>(&page, field);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

} // namespace

// A first start has no file: the interval and the buzzer show the factory values their labels name, and Apply
// stores them, so the notifier gets them as the user saw them and not as empty fields. Values in the file win.
TEST_F(SystemPageTest, FirstStartShowsAndStoresTheFactoryValues) {
    const struct {
        const char* interval_stored;
        const char* beep_stored;
        const char* interval_shown;
        const char* beep_shown;
    } rows[] = {
        {nullptr, nullptr, "10", "1"}, // no file
        {"", "", "10", "1"},           // keys there, empty
        {"5", "0", "5", "0"},          // a silent buzzer is a value, not a missing one
        {"x", "", "x", "1"},           // as typed before: shown as it is
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.interval_shown);
        if (row.interval_stored != nullptr) {
            settings_put(Key::IntervalTimer, row.interval_stored);
            settings_put(Key::BeepTime, row.beep_stored);
        }
        settings_clear();
        CSystemPage page(nullptr);
        EXPECT_EQ(child<QLineEdit>(&page, "interval")->text(), row.interval_shown);
        EXPECT_EQ(child<QLineEdit>(&page, "beep")->text(), row.beep_shown);
        if (row.interval_stored == nullptr) {
            EXPECT_FALSE(corvo.exists("corvo_kd5lite.ini")) << "showing wrote the file";
        }
        click(&page, "apply");
        EXPECT_EQ(stored_key(Key::IntervalTimer), row.interval_shown);
        EXPECT_EQ(stored_key(Key::BeepTime), row.beep_shown);
    }
}

TEST_F(SystemPageTest, ApplyWritesTheFourKeysInOrderAsTyped) {
    CSystemPage page(nullptr);
    QTest::keyClicks(child<QLineEdit>(&page, "serial"), "K5L20417");
    retype(page, "interval", "99"); // outside 1 to 60: stored all the same
    retype(page, "beep", "0");
    click(&page, "apply");
    EXPECT_EQ(keys_in_file(), (std::vector<std::string>{"SerialNumber", "EntryCount", "IntervalTimer", "BeepTime"}));
    EXPECT_EQ(stored_key(Key::SerialNumber), "K5L20417");
    EXPECT_EQ(stored_key(Key::EntryCount), ""); // written, empty, since none was read
    EXPECT_EQ(stored_key(Key::IntervalTimer), "99");
    EXPECT_EQ(stored_key(Key::BeepTime), "0");
}

TEST_F(SystemPageTest, EntryCountIsCarriedThroughUnseen) {
    settings_put(Key::EntryCount, "3");
    settings_put(Key::IntervalTimer, "5x");
    settings_clear();
    CSystemPage page(nullptr);
    page.show();
    QLineEdit* entry_count = child<QLineEdit>(&page, "entryCount");
    EXPECT_FALSE(entry_count->isVisible());
    EXPECT_FALSE(entry_count->isEnabled());
    EXPECT_EQ(child<QLineEdit>(&page, "interval")->text(), "5x");

    settings_put(Key::EntryCount, "0"); // changed behind the page's back: Apply writes what the page read
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::EntryCount), "3");
    EXPECT_EQ(stored_key(Key::IntervalTimer), "5x");
}

TEST_F(SystemPageTest, TypedLimitsRefuseTheExtraCharacter) {
    CSystemPage page(nullptr);
    QTest::keyClicks(child<QLineEdit>(&page, "serial"), "ABCDEFGHIJKLMNOPQ");
    retype(page, "interval", "12345");
    retype(page, "beep", "67890");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SerialNumber), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(stored_key(Key::IntervalTimer), "1234");
    EXPECT_EQ(stored_key(Key::BeepTime), "6789");
}
