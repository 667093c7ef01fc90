// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/connection_page.h"
#include "option/fingerprint_edit.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "settings/account_secret.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/option/connection_controls.h"
#include "tests/setup/setup_test.h"
#include "tests/support/page_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>

namespace {

using ConnectionPageTest = SetupTest;

QComboBox* protocol(const CConnectionPage& page, int account) {
    return control<QComboBox>(page, "protocol", account);
}

QComboBox* security(const CConnectionPage& page, int account) {
    return control<QComboBox>(page, "security", account);
}

QLineEdit* folder(const CConnectionPage& page, int account) {
    return control<QLineEdit>(page, "folder", account);
}

FingerprintEdit* fingerprint(const CConnectionPage& page, int account) {
    return control<FingerprintEdit>(page, "fingerprint", account);
}

} // namespace

// The page shows the mode and protocol the mail check will use: catches a value the check refuses shown as the
// default (which Apply would then store), and a number read as text ("02" is 2).
TEST(ConnectionEntries, FollowWhatTheMailCheckReads) {
    struct Case {
        const char* value;
        int security;
        int protocol;
    };
    const Case cases[] = {
        {"", 0, 0},    {"0", 0, 0},   {"1", 1, 1},    {"01", 1, 1},    {"02", 2, -1},
        {"2x", 2, -1}, {"3", -1, -1}, {"-1", -1, -1}, {"ssl", -1, -1}, {" 1", -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(security_entry(c.value), c.security) << "Security \"" << c.value << "\"";
        EXPECT_EQ(protocol_entry(c.value), c.protocol) << "Protocol \"" << c.value << "\"";
    }
}

// Each list and edit belongs to one account: catches swapped accounts or keys on reading or on Apply, a refused
// value selected as some mode, and an empty selection or field left out of the write.
TEST_F(ConnectionPageTest, ChoicesFoldersAndFingerprintsTravelBetweenControlsAndKeys) {
    settings_put(Key::Security, "2", 0);
    settings_put(Key::TlsFingerprint, "AB:CD", 0);
    settings_put(Key::Protocol, "1", 0);
    settings_put(Key::Folder, "Archiv/Bücher", 0);
    settings_put(Key::Security, "ssl", 1);
    settings_put(Key::Protocol, "imap", 1);
    settings_put(Key::TlsFingerprint, "ef01", 2);
    settings_clear();

    CConnectionPage page(nullptr);
    page.show();
    const int shown[kAccountCount] = {2, -1, 0};
    const char* fingerprints[kAccountCount] = {"AB:CD", "", "ef01"};
    for (int i = 0; i < kAccountCount; ++i) {
        QComboBox* list = security(page, i);
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->itemText(0), QString::fromUtf8("0.无"));
        EXPECT_EQ(list->itemText(1), QString::fromUtf8(i == 0 ? "1.STARTTLS" : "1.STLS")); // IMAP's word, POP3's
        EXPECT_EQ(list->itemText(2), QString::fromUtf8("2.SSL/TLS"));
        EXPECT_EQ(selected_entry(list), shown[i]) << "account " << i + 1;
        EXPECT_EQ(fingerprint(page, i)->text(), fingerprints[i]) << "account " << i + 1;
        ASSERT_EQ(protocol(page, i)->count(), 2);
        EXPECT_EQ(protocol(page, i)->itemText(0), QString::fromUtf8("0.POP3"));
        EXPECT_EQ(protocol(page, i)->itemText(1), QString::fromUtf8("1.IMAP"));
    }
    EXPECT_EQ(selected_entry(protocol(page, 0)), 1);
    EXPECT_EQ(selected_entry(protocol(page, 1)), -1);
    EXPECT_EQ(selected_entry(protocol(page, 2)), 0);
    EXPECT_EQ(folder(page, 0)->text(), QString::fromUtf8("Archiv/Bücher"));
    EXPECT_TRUE(folder(page, 2)->text().isEmpty());

    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Protocol, 0), "1");
    EXPECT_EQ(stored_key(Key::Protocol, 1), "-1");
    EXPECT_EQ(stored_key(Key::Protocol, 2), "0");
    EXPECT_EQ(stored_key(Key::Folder, 0), "Archiv/Bücher");
    EXPECT_EQ(stored_key(Key::Folder, 1), "");
    const char* stored[kAccountCount] = {"2", "-1", "0"};
    for (int i = 0; i < kAccountCount; ++i) {
        EXPECT_EQ(stored_key(Key::Security, i), stored[i]) << "account " << i + 1;
        EXPECT_EQ(stored_key(Key::TlsFingerprint, i), fingerprints[i]) << "account " << i + 1;
    }

    fingerprint(page, 0)->clear();
    choose_account(page, 1);
    pick(security(page, 1), 1);
    QTest::keyClicks(fingerprint(page, 1), "12:34");
    choose_account(page, 2);
    pick(protocol(page, 2), 1);
    QTest::keyClicks(folder(page, 2), "Lists");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Security, 1), "1");
    EXPECT_EQ(stored_key(Key::Protocol, 2), "1");
    EXPECT_EQ(stored_key(Key::Folder, 2), "Lists");
    EXPECT_EQ(stored_key(Key::TlsFingerprint, 0), "");
    EXPECT_EQ(stored_key(Key::TlsFingerprint, 1), "12:34");
}

// The blink switch is each account's own, on unless the file says "0" (a file from before the key has none), and
// Apply stores what each box shows. Catches a switch read or written for the wrong account, and one that an empty
// key turns off.
TEST_F(ConnectionPageTest, TheBlinkSwitchTravelsPerAccount) {
    settings_put(Key::HealthBlink, "0", 1);
    settings_put(Key::HealthBlink, "1", 2);
    settings_clear();
    CConnectionPage page(nullptr);
    page.show();
    const bool shown[kAccountCount] = {true, false, true};
    for (int i = 0; i < kAccountCount; ++i) {
        choose_account(page, i);
        EXPECT_EQ(control<QCheckBox>(page, "health_blink", i)->isChecked(), shown[i]) << "account " << i + 1;
        EXPECT_TRUE(control<QCheckBox>(page, "health_blink", i)->isVisible()) << "account " << i + 1;
    }
    expect_page_fits(&page);
    control<QCheckBox>(page, "health_blink", 2)->click();
    click(&page, "apply");
    const char* stored[kAccountCount] = {"1", "0", "0"};
    for (int i = 0; i < kAccountCount; ++i) {
        EXPECT_EQ(stored_key(Key::HealthBlink, i), stored[i]) << "account " << i + 1;
    }
}

// A fingerprint as the error log shows it is 95 characters: catches a limit that cuts it, so that the pin never
// matches, or one that lets a 96th character in.
// The upgrade's entry names the command of the protocol chosen, and follows a change of protocol; what it stores
// stays 1 whatever it reads. Catches an IMAP account told "STLS", which no IMAP server's help mentions.
TEST_F(ConnectionPageTest, TheUpgradeEntryReadsStlsForPop3AndStarttlsForImap) {
    CConnectionPage page(nullptr);
    page.show();
    const struct {
        int protocol;
        const char* text;
    } rows[] = {{1, "1.STARTTLS"}, {0, "1.STLS"}, {1, "1.STARTTLS"}};
    pick(security(page, 0), 1);
    for (const auto& row : rows) {
        pick(protocol(page, 0), row.protocol);
        EXPECT_EQ(security(page, 0)->itemText(1), QString::fromUtf8(row.text));
        EXPECT_EQ(security(page, 0)->currentText(), QString::fromUtf8(row.text));
        EXPECT_EQ(security(page, 1)->itemText(1), QString::fromUtf8("1.STLS")) << "another account's list";
    }
    expect_page_fits(&page); // the longer word fits its list
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Security, 0), "1");
    EXPECT_EQ(stored_key(Key::Protocol, 0), "1");
}

TEST_F(ConnectionPageTest, FingerprintTakesTheFormTheErrorLogShows) {
    std::string shown;
    for (int i = 0; i < 32; ++i) {
        shown += (i == 0 ? "" : ":") + std::string("A9");
    }
    ASSERT_EQ(shown.size(), 95u);
    CConnectionPage page(nullptr);
    for (int i = 0; i < kAccountCount; ++i) {
        choose_account(page, i);
        QTest::keyClicks(fingerprint(page, i), QString::fromStdString(shown + "F"));
        EXPECT_EQ(fingerprint(page, i)->text(), shown);
    }
    click(&page, "apply");
    settings_clear();
    ini_read_key(Key::TlsFingerprint, 2);
    EXPECT_EQ(settings_get(Key::TlsFingerprint, 2), shown);
}

// The longest fingerprint shows whole in its field without scrolling: catches the field that showed 12 of 95
// characters. A line break typed or pasted is no part of it.
TEST_F(ConnectionPageTest, TheWholeFingerprintIsInView) {
    std::string longest;
    for (int i = 0; i < 32; ++i) {
        longest += (i == 0 ? "" : ":") + std::string("W8");
    }
    CConnectionPage page(nullptr);
    page.show();
    for (int i = 0; i < kAccountCount; ++i) {
        choose_account(page, i);
        FingerprintEdit* field = fingerprint(page, i);
        field->set_text(longest);
        QApplication::processEvents();
        const int lines = static_cast<int>(field->document()->size().height());
        EXPECT_LE(lines * field->fontMetrics().lineSpacing(), field->viewport()->height()) << lines << " lines";
        EXPECT_EQ(field->verticalScrollBar()->maximum(), 0);
    }
    FingerprintEdit* field = fingerprint(page, 0);
    field->clear();
    field->insertPlainText(QStringLiteral("AB:\nCD\r\n"));
    EXPECT_EQ(field->text(), "AB:CD");
}

// The keyring files a password under the account's protocol and server: a changed protocol, and a server that a
// provider's preset filled in, take the account's items along, password and refresh token, so the next check finds
// them.
TEST_F(ConnectionPageTest, ChangedProtocolTakesTheKeyringItemsAlong) {
    KeyringSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.error();
    settings_put(Key::ServerName, "mail.example.com", 1);
    settings_put(Key::ID, "alice", 1);
    settings_put(Key::SecretStore, "1", 1);
    const SecretKey pop3 = account_secret_key(1);
    ASSERT_EQ(pop3.protocol, "pop3");
    SecretKey pop3_token = account_secret_key(1, SecretKind::refresh_token);
    ASSERT_EQ(secret_save(pop3, "hunter2", SecretUnlock::never, 20000), SecretResult::ok);
    ASSERT_EQ(secret_save(pop3_token, "token", SecretUnlock::never, 20000), SecretResult::ok);

    CConnectionPage page(nullptr);
    choose_account(page, 1);
    pick(protocol(page, 1), 1);
    click(&page, "apply");
    ASSERT_EQ(stored_key(Key::Protocol, 1), "1");
    auto items = keyring.items();
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        EXPECT_EQ(item.attributes.at("protocol"), "imap");
        EXPECT_EQ(keyring.secret(item.path), item.attributes.at("kind") == "password" ? "hunter2" : "token");
    }
    std::string out;
    EXPECT_EQ(secret_lookup(pop3, out, SecretUnlock::never, 20000), SecretResult::not_found);

    pick(control<QComboBox>(page, "auth", 1), 1);
    pick(control<QComboBox>(page, "provider", 1), 0);
    click(&page, "apply");
    ASSERT_EQ(stored_key(Key::ServerName, 1), "imap.gmail.com:993");
    items = keyring.items();
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        EXPECT_EQ(item.attributes.at("server"), "imap.gmail.com:993");
    }
}
