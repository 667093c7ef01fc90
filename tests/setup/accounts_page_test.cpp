// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/message_box.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/accounts_page.h"
#include "tests/setup/setup_test.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

using AccountsPageTest = SetupTest;

QLineEdit* edit(const CAccountsPage& page, const char* what, int account) {
    return child<QLineEdit>(&page, (what + std::to_string(account + 1)).c_str());
}

QCheckBox* box(const CAccountsPage& page, int account) {
    return child<QCheckBox>(&page, ("switch" + std::to_string(account + 1)).c_str());
}

// The password that a stored Password / Scramble pair of an account stands for, as the notifier reads it.
std::string stored_password(int account) {
    settings_clear();
    ini_read_password(account);
    return settings_get(Key::Password, account);
}

} // namespace

// Apply writes what was edited and nothing else, each account's keys in their order: catches an Apply that writes
// every field from what the page read at its start, over what another program saved since.
TEST_F(AccountsPageTest, ApplyWritesOnlyWhatWasEditedInOrder) {
    CAccountsPage page(nullptr);
    for (int i = 0; i < kAccountCount; ++i) {
        EXPECT_FALSE(box(page, i)->isChecked());
    }
    click(&page, "apply");
    EXPECT_TRUE(keys_in_file().empty());

    box(page, 0)->setChecked(true);
    QTest::keyClicks(edit(page, "id", 2), "li.wei");
    QTest::keyClicks(edit(page, "server", 1), "pop.example.net");
    edit(page, "server", 1)->clear(); // edited and back: nothing to write
    click(&page, "apply");
    const std::vector<std::string> expected{"user00/Switch", "user02/ID", "user02/Password", "user02/Scramble",
                                            "user02/SecretStore"};
    EXPECT_EQ(keys_in_file(), expected);
    EXPECT_EQ(stored_key(Key::Switch, 0), "1");
    EXPECT_EQ(stored_key(Key::ID, 2), "li.wei");
    EXPECT_EQ(stored_key(Key::Password, 2), "");
    click(&page, "apply"); // applied is no longer edited
    EXPECT_EQ(keys_in_file(), expected);
}

// Without a keyring (the test has no session bus): scrambled into the file as ever, and the page says so once.
TEST_F(AccountsPageTest, PasswordIsStoredOnlyScrambledAndReadsBackPlain) {
    const QString plain = QString::fromUtf8("pässwörd#1");
    const std::string plain_bytes = plain.toStdString();
    {
        CAccountsPage page(nullptr);
        box(page, 1)->setChecked(true);
        QTest::keyClicks(edit(page, "server", 1), "pop.example.net");
        QTest::keyClicks(edit(page, "id", 1), "li.wei");
        type_text(edit(page, "password", 1), plain);
        EXPECT_EQ(edit(page, "password", 1)->echoMode(), QLineEdit::Password);
        MessageBox::set_next_answer(QMessageBox::Ok);
        const int asked = MessageBox::asked();
        click(&page, "apply");
        EXPECT_EQ(MessageBox::asked(), asked + 1);
        EXPECT_EQ(MessageBox::last_text().toStdString(), CAccountsPage::kept_in_file_message(SecretResult::no_service));
        EXPECT_EQ(edit(page, "password", 1)->text(), plain); // the edit keeps the plain text
        std::string first = stored_key(Key::Password, 1);
        EXPECT_EQ(stored_key(Key::SecretStore, 1), "");

        MessageBox::set_next_answer(QMessageBox::Ok); // answers a box that must not come, so the test cannot hang
        click(&page, "apply"); // a second Apply scrambles afresh from the edit, and says nothing again
        EXPECT_EQ(MessageBox::asked(), asked + 1);
        MessageBox::set_next_answer(QMessageBox::NoButton);
        std::string scrambled = stored_key(Key::Password, 1);
        EXPECT_EQ(scrambled.size(), 2 * plain_bytes.size());
        EXPECT_EQ(stored_key(Key::Scramble, 1).size(), 2 * plain_bytes.size());
        for (char c : first + scrambled) {
            EXPECT_TRUE(c >= '0' && c <= '?') << "plain character in the stored form: " << scrambled;
        }
        EXPECT_EQ(corvo.read("corvo_kd5lite.ini").find(plain_bytes), std::string::npos);
    }
    EXPECT_EQ(stored_password(1), plain_bytes);

    settings_clear();
    CAccountsPage reopened(nullptr);
    EXPECT_TRUE(box(reopened, 1)->isChecked());
    EXPECT_EQ(edit(reopened, "server", 1)->text(), "pop.example.net");
    EXPECT_EQ(edit(reopened, "id", 1)->text(), "li.wei");
    EXPECT_EQ(edit(reopened, "password", 1)->text(), plain);
}

// The box is ticked by a Switch that starts with "1" alone. A value another program or a hand wrote stays as it
// is until the box is changed.
TEST_F(AccountsPageTest, OnlyASwitchStartingWithOneTicksItsBox) {
    settings_put(Key::Switch, "10", 0);
    settings_put(Key::Switch, "2", 1);
    settings_put(Key::Switch, "", 2);
    settings_clear();
    CAccountsPage page(nullptr);
    EXPECT_TRUE(box(page, 0)->isChecked());
    EXPECT_FALSE(box(page, 1)->isChecked());
    EXPECT_FALSE(box(page, 2)->isChecked());
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Switch, 0), "10");
    EXPECT_EQ(stored_key(Key::Switch, 1), "2");
    box(page, 0)->setChecked(false);
    box(page, 1)->setChecked(true);
    box(page, 2)->setChecked(true);
    box(page, 2)->setChecked(false);
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Switch, 0), "0");
    EXPECT_EQ(stored_key(Key::Switch, 1), "1");
    EXPECT_EQ(stored_key(Key::Switch, 2), "");
}

TEST_F(AccountsPageTest, TypedLimitsRefuseTheExtraCharacter) {
    CAccountsPage page(nullptr);
    const std::string long_text(70, 'a');
    QTest::keyClicks(edit(page, "server", 2), long_text.c_str());
    QTest::keyClicks(edit(page, "id", 2), long_text.c_str());
    QTest::keyClicks(edit(page, "password", 2), long_text.c_str());
    EXPECT_EQ(edit(page, "server", 2)->text().size(), 64);
    EXPECT_EQ(edit(page, "id", 2)->text().size(), 32);
    EXPECT_EQ(edit(page, "password", 2)->text().size(), 32);
    MessageBox::set_next_answer(QMessageBox::Ok); // no keyring: the password is kept in the file
    click(&page, "apply");
    EXPECT_EQ(stored_password(2), std::string(32, 'a')); // the longest password survives whole
}

// With a keyring: Apply stores there and the file holds no password; the page shows it again at the next start,
// says nothing about the file, and an account cleared leaves nothing in the keyring.
TEST_F(AccountsPageTest, PasswordGoesToTheKeyringAndTheClearedAccountTakesItAway) {
    KeyringSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.error();
    const QString plain = QString::fromUtf8("pässwörd#2");
    const int asked = MessageBox::asked();
    {
        CAccountsPage page(nullptr);
        box(page, 0)->setChecked(true);
        QTest::keyClicks(edit(page, "server", 0), "imap.example.net");
        QTest::keyClicks(edit(page, "id", 0), "li.wei@example.net");
        type_text(edit(page, "password", 0), plain);
        click(&page, "apply");
    }
    EXPECT_EQ(MessageBox::asked(), asked);
    EXPECT_EQ(corvo.read("corvo_kd5lite.ini").find(plain.toStdString()), std::string::npos);
    EXPECT_EQ(stored_key(Key::Password, 0), "");
    EXPECT_EQ(stored_key(Key::Scramble, 0), "");
    EXPECT_EQ(stored_key(Key::SecretStore, 0), "1");
    auto items = keyring.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].label, "kd5lite: li.wei@example.net (imap.example.net)");
    EXPECT_EQ(keyring.secret(items[0].path), plain.toStdString());

    settings_clear();
    CAccountsPage reopened(nullptr);
    EXPECT_EQ(edit(reopened, "password", 0)->text(), plain);
    edit(reopened, "server", 0)->clear();
    edit(reopened, "id", 0)->clear();
    edit(reopened, "password", 0)->clear();
    click(&reopened, "apply");
    EXPECT_TRUE(keyring.items().empty());
    EXPECT_EQ(stored_key(Key::SecretStore, 0), "");
    EXPECT_EQ(MessageBox::asked(), asked);
}

// The mail ID is mostly a whole address: catches a field that clips an ordinary one (the template's 54 units cut
// "e@outlook.com"), measured as the layout tests measure an edit's room. The 账户 tab also says where IMAP, TLS and
// OAuth2 are chosen, which this page does not offer.
TEST_F(AccountsPageTest, OrdinaryAddressesShowWholeAndTheConnectionTabIsNamed) {
    CAccountsPage page(nullptr);
    page.show();
    for (const char* address : {"e@outlook.com", "li.wei@163.com", "zhang.san@qq.com", "taro@gmail.com"}) {
        for (int i = 0; i < kAccountCount; ++i) {
            QLineEdit* id = edit(page, "id", i);
            EXPECT_LE(id->fontMetrics().horizontalAdvance(QString::fromLatin1(address)), id->width() - 8)
                << address << " in account " << i + 1;
        }
    }
    bool named = false;
    for (QLabel* label : page.findChildren<QLabel*>()) {
        named = named || (label->text().contains(QString::fromUtf8("「连接」")) && label->text().contains("OAuth2"));
    }
    EXPECT_TRUE(named) << "nothing names the option program's 连接 tab";
}
