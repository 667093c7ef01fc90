// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/folder_list.h"

#include "logging/log_text.h"
#include "mail/account_settings.h"
#include "mail/core/check_outcome.h"
#include "mail/imap/imap.h"
#include "mail/sasl/access_token.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/password_pair.h"
#include "settings/settings_access.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The account as the notifier would check it, signed in: the keyring's password, an OAuth2 account's token. A
// failure writes its line to the error log as a check's does; the list shows the line.
int list_for(Account& account, std::vector<ServerFolder>& folders, std::string& error, int cancel_fd) {
    CheckOutcome outcome;
    if (password_in_keyring(account.index) && account.credential.kind != CredentialKind::oauth2) {
        std::string secret;
        const SecretResult found =
            secret_lookup(account_secret_key(account.index), secret, SecretUnlock::never, timing().keyring_wait_ms);
        account.credential.secret.assign(secret);
        wipe_secret(secret);
        if (found != SecretResult::ok) {
            error = secret_result_text(found);
            return -1;
        }
    }
    if (sign_account(account, &outcome) != 0 || imap_list_folders(account, folders, &outcome, cancel_fd) != 0) {
        error = outcome.line;
        return -1;
    }
    return 0;
}

} // namespace

Account folder_list_account(int index) {
    ini_read_keys({Key::ServerName, Key::ID, Key::Protocol, Key::Security, Key::TlsFingerprint, Key::Folder,
                   Key::Folders, Key::SecretStore, Key::Auth, Key::OAuthSource, Key::OAuthProvider, Key::AuthUrl,
                   Key::TokenUrl, Key::Scope, Key::ClientId, Key::OnlineAccount, Key::TokenCommand},
                  index);
    ini_read_password(index);
    Account account = read_account(index);
    settings_set(Key::Password, "", index); // the plain password stays in the account alone, which wipes it
    return account;
}

FolderListTask::FolderListTask(Account account, Done done, QObject* parent) : QObject(parent) {
    thread_ = QThread::create([this, account = std::move(account), done = std::move(done)]() mutable {
        std::vector<ServerFolder> folders;
        std::string error;
        const int result = list_for(account, folders, error, cancel_.fd());
        QMetaObject::invokeMethod(
            this, [done, result, folders, error] { done(result, folders, error); }, Qt::QueuedConnection);
    });
    thread_->start();
}

FolderListTask::~FolderListTask() {
    cancel_.raise();
    thread_->wait();
    delete thread_;
}

CFolderListDlg::CFolderListDlg(QWidget* parent, int account, std::vector<std::string> chosen)
    : QDialog(parent), chosen_(std::move(chosen)) {
    setWindowTitle(QString::fromUtf8("服务器上的文件夹"));
    auto* layout = new QVBoxLayout(this);
    note_ = new QLabel(QString::fromUtf8("正在读取文件夹……"), this);
    note_->setObjectName(QStringLiteral("folders_note"));
    note_->setWordWrap(true);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("folders"));
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("folders_ok"));
    buttons_->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("确定"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("取消"));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
    layout->addWidget(note_);
    layout->addWidget(list_);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemChanged, this, [this] { check_size(); });
    task_ = new FolderListTask(
        folder_list_account(account),
        [this](int result, const std::vector<ServerFolder>& folders, const std::string& error) {
            show_folders(result, folders, error);
        },
        this);
    resize(320, 360);
}

void CFolderListDlg::show_folders(int result, const std::vector<ServerFolder>& folders, const std::string& error) {
    if (result != 0) {
        note_->setText(QString::fromUtf8("无法读取文件夹：") + QString::fromStdString(log_safe_text(error)));
        return;
    }
    const std::vector<std::string> every = every_folder(folders);
    QSignalBlocker quiet(list_);
    for (const std::string& name : watch_order([&] {
             std::vector<std::string> names;
             for (const ServerFolder& f : folders) {
                 names.push_back(f.name);
             }
             return names;
         }())) {
        const auto listed =
            std::find_if(folders.begin(), folders.end(), [&](const ServerFolder& f) { return f.name == name; });
        const bool openable =
            std::none_of(listed->attributes.begin(), listed->attributes.end(), [](const std::string& a) {
                return a == "\\Noselect" || a == "\\NonExistent" || a == "\\NoSelect";
            });
        if (!openable) {
            continue;
        }
        auto* item = new QListWidgetItem(QString::fromStdString(log_safe_text(name)), list_);
        item->setData(Qt::UserRole, QString::fromStdString(name));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool ticked = std::find(chosen_.begin(), chosen_.end(), name) != chosen_.end();
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        if (std::find(every.begin(), every.end(), name) == every.end()) {
            item->setToolTip(QString::fromUtf8("“全部”不含此文件夹（垃圾邮件、已删除、已发送、草稿或重复）"));
        }
    }
    note_->setText(QString::fromUtf8("选择要检查的文件夹："));
    check_size();
}

std::vector<std::string> CFolderListDlg::chosen() const {
    std::vector<std::string> names;
    for (int i = 0; i < list_->count(); ++i) {
        const QListWidgetItem* item = list_->item(i);
        if (item->checkState() == Qt::Checked) {
            names.push_back(item->data(Qt::UserRole).toString().toStdString());
        }
    }
    return names;
}

// The choice is kept in the Folders key: one that does not fit cannot be taken.
void CFolderListDlg::check_size() {
    const std::vector<std::string> names = chosen();
    const bool fits = folders_text(names).size() <= kFoldersBytes;
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!names.empty() && fits);
    if (!fits) {
        note_->setText(QString::fromUtf8("所选文件夹的名称超出 1000 字节：请少选一些。"));
    } else if (list_->count() > 0) {
        note_->setText(QString::fromUtf8("选择要检查的文件夹："));
    }
}
