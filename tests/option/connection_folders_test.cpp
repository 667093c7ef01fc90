// SPDX-License-Identifier: GPL-3.0-or-later
// The 连接 tab's choice of IMAP folders against the scripted IMAP server: the list of the server's own folders,
// ticked and kept in the key Folders as quoted names; every folder; and a choice that does not fit the key.

#include "option/connection_page.h"
#include "option/folder_list.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/option/connection_controls.h"
#include "tests/setup/setup_test.h"
#include "tests/support/page_layout.h"
#include "tools/imapserver/imap_server.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <functional>
#include <memory>

namespace {

class ConnectionFolders : public SetupTest {
protected:
    // alice's mail on a server with Gmail's folders; account 1 points at it.
    void serve(std::vector<ImapFolder> folders) {
        ImapMailbox box{"secret", {}, std::move(folders)};
        server_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}});
        ASSERT_TRUE(server_->start()) << server_->error();
        settings_put(Key::ServerName, server_->server_name().c_str(), 0);
        settings_put(Key::ID, "alice", 0);
        settings_put(Key::Protocol, "1", 0);
        settings_set(Key::Password, "secret", 0);
        ini_write_password(0);
        settings_clear();
    }

    // Acts on the folder list once it has its folders, while the page waits for it in its modal loop.
    void when_listed(std::function<void(CFolderListDlg&, QListWidget&)> act) {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
            auto* dialog = dynamic_cast<CFolderListDlg*>(QApplication::activeModalWidget());
            auto* list = dialog != nullptr ? dialog->findChild<QListWidget*>(QStringLiteral("folders")) : nullptr;
            if (list != nullptr && list->count() > 0) {
                poll->deleteLater();
                act(*dialog, *list);
            }
        });
        poll->start(20);
    }

    static QStringList names(const QListWidget& list) {
        QStringList out;
        for (int i = 0; i < list.count(); ++i) {
            out << list.item(i)->text();
        }
        return out;
    }

    std::string stored_folders() {
        ini_read_key(Key::Folders, 0);
        return settings_get(Key::Folders, 0);
    }

    std::unique_ptr<ImapServer> server_;
};

// Choosing 列表 lists the server's folders at once: every folder that can be opened, INBOX first, those "every
// folder" leaves out not ticked; the ticked ones are shown on the tab and kept, quoted, in Folders; 全部 keeps "*".
// Catches a list that loses a name with a blank or a quote, a \Noselect level offered, and a choice that moves the
// one Folder away.
TEST_F(ConnectionFolders, TheServersFoldersAreTickedAndKeptInFolders) {
    serve({{"Work \"A\"", "\\HasNoChildren", {}},
           {"[Gmail]", "\\HasChildren \\Noselect", {}},
           {"[Gmail]/All Mail", "\\All", {}},
           {"[Gmail]/Spam", "\\Junk", {}}});
    settings_put(Key::Folder, "Archive", 0);
    settings_clear();
    CConnectionPage page(nullptr);
    page.show();
    expect_page_fits(&page);
    QStringList offered;
    when_listed([&](CFolderListDlg& dialog, QListWidget& list) {
        offered = names(list);
        for (int i = 0; i < list.count(); ++i) {
            const bool wanted = list.item(i)->text() == "INBOX" || list.item(i)->text() == "Work \"A\"";
            EXPECT_EQ(list.item(i)->checkState(), Qt::Unchecked);
            EXPECT_EQ(list.item(i)->toolTip().isEmpty(), i < 2) << list.item(i)->text().toStdString();
            list.item(i)->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
        }
        dialog.accept();
    });
    pick(choice(page, "folder_choice", 0), 1);
    EXPECT_EQ(offered, (QStringList{"INBOX", "Work \"A\"", "[Gmail]/All Mail", "[Gmail]/Spam"}));
    EXPECT_EQ(control<QLineEdit>(page, "folder", 0)->text(), QString::fromUtf8("INBOX、Work \"A\""));
    EXPECT_TRUE(control<QLineEdit>(page, "folder", 0)->isReadOnly());
    click(&page, "apply");
    EXPECT_EQ(stored_folders(), "\"INBOX\" \"Work \\\"A\\\"\"");
    ini_read_key(Key::Folder, 0);
    EXPECT_EQ(settings_get(Key::Folder, 0), "Archive");
    EXPECT_EQ(settings_get(Key::Password, 0), ""); // the listing left no plain password in the record

    // Read back, the page shows the list again, and 列出… ticks what was chosen.
    CConnectionPage again(nullptr);
    again.show();
    EXPECT_EQ(control<QLineEdit>(again, "folder", 0)->text(), QString::fromUtf8("INBOX、Work \"A\""));
    when_listed([](CFolderListDlg& dialog, QListWidget& list) {
        EXPECT_EQ(list.item(0)->checkState(), Qt::Checked);
        EXPECT_EQ(list.item(1)->checkState(), Qt::Checked);
        EXPECT_EQ(list.item(2)->checkState(), Qt::Unchecked);
        dialog.reject();
    });
    click(&again, "list_folders1");
    pick(choice(again, "folder_choice", 0), 2);
    click(&again, "apply");
    EXPECT_EQ(stored_folders(), "*");
    pick(choice(again, "folder_choice", 0), 0);
    EXPECT_EQ(control<QLineEdit>(again, "folder", 0)->text(), QString::fromUtf8("Archive"));
    click(&again, "apply");
    EXPECT_EQ(stored_folders(), "");
}

// Folders holds 1000 bytes: a choice beyond them cannot be taken, and the list says why.
TEST_F(ConnectionFolders, AChoiceThatDoesNotFitIsRefusedWithItsReason) {
    std::vector<ImapFolder> many;
    for (int i = 0; i < 30; ++i) {
        many.push_back({"Projects/" + std::string(30, static_cast<char>('a' + i % 26)) + std::to_string(i), "", {}});
    }
    serve(many);
    CConnectionPage page(nullptr);
    page.show();
    bool refused = false;
    when_listed([&](CFolderListDlg& dialog, QListWidget& list) {
        for (int i = 0; i < list.count(); ++i) {
            list.item(i)->setCheckState(Qt::Checked);
        }
        refused = !dialog.findChild<QPushButton*>(QStringLiteral("folders_ok"))->isEnabled() &&
                  dialog.findChild<QLabel*>(QStringLiteral("folders_note"))->text().contains(QStringLiteral("1000"));
        list.item(0)->setCheckState(Qt::Unchecked);
        dialog.reject();
    });
    pick(choice(page, "folder_choice", 0), 1);
    EXPECT_TRUE(refused);
}

} // namespace
