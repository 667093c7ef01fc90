// SPDX-License-Identifier: GPL-3.0-or-later
// The setup and option programs open side by side on one settings file and one keyring, as a user has them: each
// saves what it changed and nothing else, shows what the other saved once its window comes to the front, and
// never names an account whose secrets the keyring has not filed under that name.
#include "gui/message_box.h"
#include "option/option_dlg.h"
#include "platform/secret.h"
#include "settings/account_secret.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/accounts_page.h"
#include "setup/setup_dlg.h"
#include "tests/option/connection_controls.h"
#include "tests/setup/setup_test.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

#include <functional>

namespace {

using BothToolsTest = SetupTest;

constexpr int kAccountsTab = 1;   // of the setup program
constexpr int kConnectionTab = 3; // of the option program

QLineEdit* setup_edit(const CSetupDlg& setup, const char* what, int account) {
    return child<QLineEdit>(setup.page(kAccountsTab), (what + std::to_string(account + 1)).c_str());
}

const CConnectionPage& connection(const COptionDlg& option) {
    return *qobject_cast<CConnectionPage*>(option.page(kConnectionTab));
}

// Brings window to the front as the window manager does when the user clicks it.
void bring_to_front(QWidget& window) {
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }, 5000)) << "the window never came up";
}

void retype(QLineEdit* edit, const char* text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

// The keyring's item of this kind, by the attributes it is filed under ("" when there is none).
std::string filed_server(const KeyringSession& keyring, const char* kind, std::string* protocol = nullptr) {
    for (const KeyringSession::Item& item : keyring.items()) {
        if (item.attributes.at("kind") == kind) {
            if (protocol != nullptr) {
                *protocol = item.attributes.at("protocol");
            }
            return item.attributes.at("server");
        }
    }
    return "";
}

} // namespace

// The story of issue: the setup program stays open with an empty account; the option program fills in a server;
// the setup program's 应用 then must not write its stale empty server over it, and each tool shows the other's
// save when it comes to the front, keeping what was typed and not applied. Catches Apply writing every field from
// what the page read at its start, and pages that never read again.
TEST_F(BothToolsTest, EachSavesWhatItChangedAndShowsTheOthersSaveWhenInFront) {
    CSetupDlg setup;
    COptionDlg option;
    setup.show();
    option.show();
    const CConnectionPage& tab = connection(option);

    // The option program: account 1 signs in with Google over POP3, whose preset fills in the server.
    bring_to_front(option);
    choose_account(tab, 0);
    pick(choice(tab, "auth", 0), 1);
    pick(choice(tab, "provider", 0), 0);
    click(&tab, "apply");
    ASSERT_EQ(stored_key(Key::ServerName, 0), "pop.gmail.com:995");

    // The setup program, open since before: its account 1 still shows no server. Its user ticks the account and
    // types the address; 应用 saves those two and leaves the server the option program saved.
    EXPECT_EQ(setup_edit(setup, "server", 0)->text(), "");
    child<QCheckBox>(setup.page(kAccountsTab), "switch1")->setChecked(true);
    QTest::keyClicks(setup_edit(setup, "id", 0), "li.wei@gmail.com");
    click(setup.page(kAccountsTab), "apply");
    EXPECT_EQ(stored_key(Key::ServerName, 0), "pop.gmail.com:995");
    EXPECT_EQ(stored_key(Key::Switch, 0), "1");
    EXPECT_EQ(stored_key(Key::ID, 0), "li.wei@gmail.com");
    EXPECT_EQ(stored_key(Key::Switch, 1), "<missing>"); // nothing of the accounts nobody touched
    EXPECT_EQ(stored_key(Key::ServerName, 1), "<missing>");

    // Typed and not applied: account 2's ID. In front, the page shows the option program's server and keeps the
    // typed ID.
    QTest::keyClicks(setup_edit(setup, "id", 1), "bob");
    bring_to_front(setup);
    EXPECT_EQ(setup_edit(setup, "server", 0)->text(), "pop.gmail.com:995");
    EXPECT_EQ(setup_edit(setup, "id", 1)->text(), "bob");

    // Back the other way: the setup program moves account 1 to IMAP's server by hand; the option program, whose
    // tab still shows the old one, saves its folder without undoing that, and shows the new server in front.
    retype(setup_edit(setup, "server", 0), "imap.gmail.com:993");
    click(setup.page(kAccountsTab), "apply");
    ASSERT_EQ(stored_key(Key::ServerName, 0), "imap.gmail.com:993");
    EXPECT_EQ(stored_key(Key::ID, 1), "bob");
    EXPECT_EQ(control<QLineEdit>(tab, "server", 0)->text(), "pop.gmail.com:995");
    QTest::keyClicks(control<QLineEdit>(tab, "folder", 0), "Work");
    click(&tab, "apply");
    EXPECT_EQ(stored_key(Key::ServerName, 0), "imap.gmail.com:993");
    EXPECT_EQ(stored_key(Key::Folder, 0), "Work");
    bring_to_front(option);
    EXPECT_EQ(control<QLineEdit>(tab, "server", 0)->text(), "imap.gmail.com:993");
    EXPECT_EQ(control<QLineEdit>(tab, "folder", 0)->text(), "Work");

    // A server the option program's preset filled in and not yet applied is the user's too: the front keeps it.
    pick(choice(tab, "provider", 0), 1);
    EXPECT_EQ(control<QLineEdit>(tab, "server", 0)->text(), "outlook.office365.com:995");
    bring_to_front(setup);
    bring_to_front(option);
    EXPECT_EQ(control<QLineEdit>(tab, "server", 0)->text(), "outlook.office365.com:995");
    EXPECT_EQ(stored_key(Key::ServerName, 0), "imap.gmail.com:993");
}

// A server, ID or protocol changed while the keyring will not let the account's items move: the tool keeps the
// names the items are filed under, writes the rest, and says why in a box; with a password the page has in hand,
// the setup program keeps it in the file instead, and says that. Catches the new name written while the password
// and refresh token stayed under the old one, so that the account failed at every pass with no word on screen.
TEST_F(BothToolsTest, NamesTheKeyringCannotFollowStayAndTheBoxSaysWhy) {
    struct Row {
        const char* change;
        bool locked_at_start; // the tool's page was filled while the keyring was locked
        std::function<void(CSetupDlg&, COptionDlg&)> edit;
        const char* tab;    // the page whose 应用 is pressed
        std::string server; // ServerName afterwards (Protocol stays unset)
        std::string filed;  // where the keyring holds the password: server and protocol
        std::string box;
    };
    const Row rows[] = {
        {"setup: another server, the keyring locked since the start", true,
         [](CSetupDlg& setup, COptionDlg&) { retype(setup_edit(setup, "server", 0), "mail2.example.com"); }, "setup",
         "mail.example.com", "mail.example.com/pop3", CAccountsPage::name_kept_message("第1个", SecretResult::locked)},
        {"setup: another server, the password shown before the keyring locked", false,
         [](CSetupDlg& setup, COptionDlg&) { retype(setup_edit(setup, "server", 0), "mail2.example.com"); }, "setup",
         "mail2.example.com", "mail.example.com/pop3", CAccountsPage::kept_in_file_message(SecretResult::locked)},
        {"option: IMAP instead of POP3", true,
         [](CSetupDlg&, COptionDlg& option) {
             pick(choice(connection(option), "protocol", 0), 1);
             QTest::keyClicks(control<QLineEdit>(connection(option), "folder", 0), "Work");
         },
         "option", "mail.example.com", "mail.example.com/pop3", "第1个账户的协议和服务器没有更改"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        KeyringSession keyring;
        ASSERT_TRUE(keyring.start()) << keyring.error();
        TempCorvo dir;
        settings_put(Key::ServerName, "mail.example.com", 0);
        settings_put(Key::ID, "alice", 0);
        settings_put(Key::SecretStore, "1", 0);
        ASSERT_EQ(secret_save(account_secret_key(0), "hunter2", SecretUnlock::never, 20000), SecretResult::ok);
        ASSERT_EQ(secret_save(account_secret_key(0, SecretKind::refresh_token), "token", SecretUnlock::never, 20000),
                  SecretResult::ok);
        if (row.locked_at_start) {
            ASSERT_TRUE(keyring.lock());
        }
        settings_clear();
        CSetupDlg setup;
        COptionDlg option;
        if (!row.locked_at_start) {
            EXPECT_EQ(setup_edit(setup, "password", 0)->text(), "hunter2");
            ASSERT_TRUE(keyring.lock());
        }
        row.edit(setup, option);
        MessageBox::set_next_answer(QMessageBox::Ok);
        const int boxes = MessageBox::asked();
        const bool in_setup = std::string(row.tab) == "setup";
        click(in_setup ? setup.page(kAccountsTab) : option.page(kConnectionTab), "apply");
        ASSERT_EQ(MessageBox::asked(), boxes + 1);
        EXPECT_TRUE(MessageBox::last_text().startsWith(QString::fromStdString(row.box)))
            << MessageBox::last_text().toStdString();
        EXPECT_TRUE(MessageBox::last_text().contains(QString::fromUtf8("密钥环已锁定")));
        EXPECT_EQ(stored_key(Key::ServerName, 0), row.server);
        EXPECT_EQ(stored_key(Key::Protocol, 0), "<missing>");
        std::string protocol;
        EXPECT_EQ(filed_server(keyring, "password", &protocol) + "/" + protocol, row.filed);
        if (in_setup && !row.locked_at_start) {
            // The password went to the file with the new server, and the account reads it there.
            EXPECT_EQ(stored_key(Key::SecretStore, 0), "");
            settings_clear();
            ini_read_password(0);
            EXPECT_EQ(settings_get(Key::Password, 0), "hunter2");
        } else {
            EXPECT_EQ(stored_key(Key::SecretStore, 0), "1");
            EXPECT_EQ(filed_server(keyring, "refresh-token"), "mail.example.com");
        }
        if (!in_setup) {
            EXPECT_EQ(stored_key(Key::Folder, 0), "Work"); // the rest of the page is saved
        }
    }
}
