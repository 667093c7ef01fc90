// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/system_page.h"
#include "tests/setup/setup_test.h"

#include <QLineEdit>

namespace {
using SystemPageTest = SetupTest;
} // namespace

TEST_F(SystemPageTest, ApplyWritesTheFourKeysInOrderAsTyped) {
    CSystemPage page(nullptr);
    QTest::keyClicks(child<QLineEdit>(&page, "serial"), "K5L20417");
    QTest::keyClicks(child<QLineEdit>(&page, "interval"), "99"); // outside 1 to 60: stored all the same
    QTest::keyClicks(child<QLineEdit>(&page, "beep"), "0");
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
    QTest::keyClicks(child<QLineEdit>(&page, "interval"), "12345");
    QTest::keyClicks(child<QLineEdit>(&page, "beep"), "67890");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SerialNumber), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(stored_key(Key::IntervalTimer), "1234");
    EXPECT_EQ(stored_key(Key::BeepTime), "6789");
}
