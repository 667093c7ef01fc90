#include "option/list_entry.h"
#include "option/option_values.h"
#include "option/security_page.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/setup/setup_test.h"

#include <QLineEdit>
#include <QListWidget>

namespace {

using SecurityPageTest = SetupTest;

QListWidget* security(const CSecurityPage& page, int account) {
    return child<QListWidget>(&page, ("security" + std::to_string(account + 1)).c_str());
}

QLineEdit* fingerprint(const CSecurityPage& page, int account) {
    return child<QLineEdit>(&page, ("fingerprint" + std::to_string(account + 1)).c_str());
}

} // namespace

// The page shows the mode the mail check will use: catches a value the check refuses shown as plain (which Apply
// would then store as plain), and a number read as text ("02" is 2).
TEST(SecurityEntry, FollowsWhatTheMailCheckReads) {
    const std::pair<const char*, int> cases[] = {
        {"", 0}, {"0", 0}, {"1", 1}, {"02", 2}, {"2x", 2}, {"3", -1}, {"-1", -1}, {"ssl", -1}, {" 1", -1},
    };
    for (const auto& [value, entry] : cases) {
        EXPECT_EQ(security_entry(value), entry) << "Security \"" << value << "\"";
    }
}

// Each list and edit belongs to one account: catches swapped accounts on reading or on Apply, a refused value
// selected as some mode, and an empty selection or field left out of the write.
TEST_F(SecurityPageTest, ChoicesAndFingerprintsTravelBetweenControlsAndKeys) {
    settings_put(Key::Security, "2", 0);
    settings_put(Key::TlsFingerprint, "AB:CD", 0);
    settings_put(Key::Security, "ssl", 1);
    settings_put(Key::TlsFingerprint, "ef01", 2);
    settings_clear();

    CSecurityPage page(nullptr);
    page.show();
    const int shown[kAccountCount] = {2, -1, 0};
    const char* fingerprints[kAccountCount] = {"AB:CD", "", "ef01"};
    for (int i = 0; i < kAccountCount; ++i) {
        QListWidget* list = security(page, i);
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("0.无"));
        EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("1.STLS"));
        EXPECT_EQ(list->item(2)->text(), QString::fromUtf8("2.SSL/TLS"));
        EXPECT_EQ(selected_entry(list), shown[i]) << "account " << i + 1;
        EXPECT_EQ(fingerprint(page, i)->text().toStdString(), fingerprints[i]) << "account " << i + 1;
    }

    click(&page, "apply");
    const char* stored[kAccountCount] = {"2", "-1", "0"};
    for (int i = 0; i < kAccountCount; ++i) {
        EXPECT_EQ(stored_key(Key::Security, i), stored[i]) << "account " << i + 1;
        EXPECT_EQ(stored_key(Key::TlsFingerprint, i), fingerprints[i]) << "account " << i + 1;
    }

    QListWidget* second = security(page, 1);
    QTest::mouseClick(second->viewport(), Qt::LeftButton, {}, second->visualItemRect(second->item(1)).center());
    fingerprint(page, 0)->clear();
    QTest::keyClicks(fingerprint(page, 1), "12:34");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Security, 1), "1");
    EXPECT_EQ(stored_key(Key::TlsFingerprint, 0), "");
    EXPECT_EQ(stored_key(Key::TlsFingerprint, 1), "12:34");
}

// A fingerprint as the error log shows it is 95 characters: catches a limit that cuts it, so that the pin never
// matches, or one that lets a 96th character in.
TEST_F(SecurityPageTest, FingerprintTakesTheFormTheErrorLogShows) {
    std::string shown;
    for (int i = 0; i < 32; ++i) {
        shown += (i == 0 ? "" : ":") + std::string("A9");
    }
    ASSERT_EQ(shown.size(), 95u);
    CSecurityPage page(nullptr);
    for (int i = 0; i < kAccountCount; ++i) {
        QTest::keyClicks(fingerprint(page, i), QString::fromStdString(shown + "F"));
        EXPECT_EQ(fingerprint(page, i)->text().toStdString(), shown);
    }
    click(&page, "apply");
    settings_clear();
    ini_read_key(Key::TlsFingerprint, 2);
    EXPECT_EQ(settings_get(Key::TlsFingerprint, 2), shown);
}
