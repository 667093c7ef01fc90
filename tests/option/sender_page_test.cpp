// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sender_page.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/setup/setup_test.h"

#include <QLineEdit>
#include <QListWidget>

namespace {

using SenderPageTest = SetupTest;

constexpr Key kSearchKeys[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
constexpr Key kAddressKeys[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};

QListWidget* condition(const CSenderPage& page, int account) {
    return child<QListWidget>(&page, ("condition" + std::to_string(account + 1)).c_str());
}

QLineEdit* address(const CSenderPage& page, int account, int n) {
    return child<QLineEdit>(&page, ("address" + std::to_string(account + 1) + std::to_string(n + 1)).c_str());
}

int selected(const QListWidget* list) {
    QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.front());
}

// Clicks the item as a user would, scrolling it into view first.
void choose(QListWidget* list, int row) {
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

} // namespace

// The first key speaks for the account: catches reading SpecialSearch2 or 3, a value beyond the list selecting
// its last item, and Apply writing the condition to one key only or writing nothing for an empty selection.
TEST_F(SenderPageTest, ConditionComesFromTheFirstKeyAndApplyWritesItToAllThree) {
    settings_put(Key::SpecialSearch1, "2", 0);
    settings_put(Key::SpecialSearch2, "0", 0);
    settings_put(Key::SpecialSearch3, "1", 0);
    settings_put(Key::SpecialSearch1, "5", 1);
    settings_put(Key::SpecialSearch2, "1", 1);
    settings_put(Key::SpecialSearch2, "2", 2); // SpecialSearch1 of account 3 missing: counts as 0
    settings_clear();

    CSenderPage page(nullptr);
    page.show();
    EXPECT_EQ(selected(condition(page, 0)), 2);
    EXPECT_EQ(selected(condition(page, 1)), -1);
    EXPECT_EQ(selected(condition(page, 2)), 0);

    click(&page, "apply");
    const char* expected[kAccountCount] = {"2", "-1", "0"};
    for (int i = 0; i < kAccountCount; ++i) {
        for (Key key : kSearchKeys) {
            EXPECT_EQ(stored_key(key, i), expected[i]) << key_name(key) << " of account " << i + 1;
        }
    }

    choose(condition(page, 1), 1);
    choose(condition(page, 2), 2);
    click(&page, "apply");
    for (Key key : kSearchKeys) {
        EXPECT_EQ(stored_key(key, 1), "1");
        EXPECT_EQ(stored_key(key, 2), "2");
    }
}

// Each edit belongs to one key of one account: catches swapped rows or accounts on reading or on Apply, and an
// emptied field left out of the write.
TEST_F(SenderPageTest, AddressesTravelBetweenTheirEditsAndKeys) {
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            settings_put(kAddressKeys[n], ("old" + std::to_string(i + 1) + std::to_string(n + 1)).c_str(), i);
        }
    }
    settings_clear();

    CSenderPage page(nullptr);
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            QLineEdit* edit = address(page, i, n);
            EXPECT_EQ(edit->text().toStdString(), "old" + std::to_string(i + 1) + std::to_string(n + 1));
            edit->clear();
            if ((i + n) % 2 == 0) { // every other field is left empty, which is stored empty
                QTest::keyClicks(edit, QString::fromStdString("s" + std::to_string(i + 1) + std::to_string(n + 1)));
            }
        }
    }
    click(&page, "apply");
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            std::string want = (i + n) % 2 == 0 ? "s" + std::to_string(i + 1) + std::to_string(n + 1) : "";
            EXPECT_EQ(stored_key(kAddressKeys[n], i), want) << "account " << i + 1 << " address " << n + 1;
        }
    }
}

// A typed 65th character is refused, and 64 are stored whole: catches a limit off by one either way.
TEST_F(SenderPageTest, AddressesTakeSixtyFourTypedCharacters) {
    CSenderPage page(nullptr);
    const std::string full(64, 'a');
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            QLineEdit* edit = address(page, i, n);
            QTest::keyClicks(edit, QString::fromStdString(full + "b"));
            EXPECT_EQ(edit->text().toStdString(), full);
        }
    }
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SpecialAddress3, 2), full);
}
