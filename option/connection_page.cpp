// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/connection_page.h"

#include "credentials/mail_providers.h"
#include "credentials/oauth/online_accounts.h"
#include "discovery/discovery_task.h"
#include "gui/byte_limit.h"
#include "gui/desktop.h"
#include "gui/message_box.h"
#include "mail/imap/folder_choice.h"
#include "option/address_fill.h"
#include "option/fingerprint_edit.h"
#include "option/folder_list.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "option/sign_in.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <string>

namespace {

constexpr const char* kAccountItems[kAccountCount] = {"第1个（红色LED）", "第2个（绿色LED）", "第3个（黄色LED）"};
constexpr int kFingerprintLimit = 95; // 32 hex pairs and the colons between them, as the error log shows it
constexpr int kAuthOAuth2 = 1;
constexpr int kSourceBrowser = 0; // entries of the source list
constexpr int kSourceOnline = 1;

// The keys the page reads, and writes in the order the file has them. ServerName is written only when the page
// changed it: it is the setup program's key, which that program may have changed since this page read it.
constexpr Key kKeys[] = {Key::Security,      Key::TlsFingerprint, Key::Protocol,      Key::Folder,
                         Key::Auth,          Key::OAuthSource,    Key::OAuthProvider, Key::ClientId,
                         Key::OnlineAccount, Key::TokenCommand,   Key::HealthBlink,   Key::Folders};

// The entries of the folder choice, in the order of FolderChoice::Kind.
constexpr const char* kFolderItems[] = {"单个", "列表", "全部"};
constexpr int kFolderList = 1;
constexpr int kFolderEvery = 2;

// The box of an Apply whose protocol or server change these accounts ("第1个、第3个") could not take, since the
// keyring would not file their secrets anew.
std::string names_kept_text(const std::string& accounts, SecretResult keyring) {
    return accounts + "账户的协议和服务器没有更改：它的密码和刷新令牌在桌面密钥环中，按原来的协议和服务器存放，" +
           "现在无法移过去：" + keyring_refusal_words(keyring) + "。\n其他设置已保存。密钥环可用后再按一次“应　　用”。";
}

std::string named(const char* control, int account) {
    return control + std::to_string(account + 1);
}

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

} // namespace

QComboBox* CConnectionPage::add_choice(const char* name, const QStringList& items, int x, int y, int width,
                                       int height) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::fromUtf8(name));
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setGeometry(units().rect(x, y, width, height));
    return combo;
}

CConnectionPage::CConnectionPage(QWidget* parent) : Page(parent, 3) {
    add_static("账　户", 13, 9, 24, 8);
    chooser_ = add_choice("account", list_items(kAccountItems), 40, 7, 80, 12);
    for (int i = 0; i < kAccountCount; ++i) {
        add_account(i);
    }
    add_static("无法检查时，该LED慢闪", 19, 182, 120, 8);
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);

    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_key(Key::ServerName, i);
        for (Key key : kKeys) {
            ini_read_key(key, i);
        }
    }
    for (int i = 0; i < kAccountCount; ++i) {
        load_account(i);
        connect_account(i);
    }
    connect(chooser_, &QComboBox::currentIndexChanged, this, [this](int account) {
        if (account >= 0) {
            show_account(account);
        }
    });
    on_click_saving(apply_button, [this] { apply(); });
    show_account(0);
}

void CConnectionPage::add_account(int i) {
    ConnectionRow& row = rows_[i];
    const auto mine = [&row](auto* control) {
        row.controls.push_back(control);
        return control;
    };
    const auto of_source = [&row](int source, auto* control) {
        row.by_source[source].push_back(control);
        return control;
    };
    row.fill = mine(add_button(named("fill", i).c_str(), "按地址填写", 126, 6, 60, 14));

    mine(add_group("服务器", 7, 20, 186, 76));
    mine(add_static("协　议", 13, 32, 24, 8));
    row.protocol = mine(add_choice(named("protocol", i).c_str(), list_items(kProtocolItems), 40, 30, 46, 12));
    mine(add_static("方　式", 92, 32, 24, 8));
    row.security = mine(add_choice(named("security", i).c_str(), list_items(kSecurityItems), 119, 30, 67, 12));
    mine(add_static("服务器", 13, 45, 24, 8));
    row.server = mine(add_edit(named("server", i).c_str(), 40, 43, 146, 12, 0, EditStyle::read_only));
    mine(add_static("文件夹", 13, 58, 24, 8));
    row.folder_choice = mine(add_choice(named("folder_choice", i).c_str(), list_items(kFolderItems), 40, 56, 34, 12));
    row.folder = mine(add_edit(named("folder", i).c_str(), 76, 56, 74, 12, key_width(Key::Folder)));
    row.list_folders = mine(add_button(named("list_folders", i).c_str(), "列出…", 152, 55, 34, 14));
    mine(add_static("指　纹", 13, 73, 24, 8));
    row.fingerprint = mine(new FingerprintEdit(this, kFingerprintLimit));
    row.fingerprint->setObjectName(text(named("fingerprint", i)));
    row.fingerprint->setGeometry(units().rect(40, 69, 146, 24));
    row.fingerprint->setPlaceholderText(QString::fromUtf8("自签名证书可填写其SHA-256指纹"));
    row.health_blink = mine(add_check(named("health_blink", i).c_str(), 7, 181, 10, 10));

    mine(add_group("登录方式", 7, 98, 186, 80));
    mine(add_static("认　证", 13, 110, 24, 8));
    row.auth = mine(add_choice(named("auth", i).c_str(), list_items(kAuthItems), 40, 108, 46, 12));
    mine(add_static("来　源", 88, 110, 24, 8));
    row.source = mine(add_choice(named("source", i).c_str(), list_items(kSourceItems), 113, 108, 73, 12));

    // The controls of each token source share the rows below the choice; only the chosen source's are shown.
    of_source(kSourceBrowser, add_static("提供者", 13, 124, 24, 8));
    row.provider = of_source(kSourceBrowser,
                             add_choice(named("provider", i).c_str(), list_items(kProviderItems), 40, 122, 46, 12));
    of_source(kSourceBrowser, add_static("客户端ID", 90, 124, 31, 8));
    row.client_id =
        of_source(kSourceBrowser, add_edit(named("client_id", i).c_str(), 122, 122, 64, 12, key_width(Key::ClientId)));
    row.sign_in = of_source(kSourceBrowser, add_button(named("sign_in", i).c_str(), "登录…", 40, 135, 46, 14));
    of_source(kSourceOnline, add_static("在线帐户", 13, 124, 32, 8));
    row.online = of_source(kSourceOnline, add_choice(named("online", i).c_str(), {}, 48, 122, 138, 12));
    of_source(2, add_static("令牌命令", 13, 124, 32, 8));
    row.token_command =
        of_source(2, add_edit(named("token_command", i).c_str(), 48, 122, 138, 12, key_width(Key::TokenCommand)));
    row.token_command->setPlaceholderText(QString::fromUtf8("程序 参数…（输出访问令牌）"));

    row.note = mine(add_static("", 13, 150, 173, 27));
    row.note->setObjectName(text(named("note", i)));
    row.note->setWordWrap(true);
    row.note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CConnectionPage::load_account(int i) {
    ConnectionRow& row = rows_[i];
    row.stored_server = settings_get(Key::ServerName, i);
    set_edit_text(row.server, row.stored_server);
    select_entry(row.protocol, protocol_entry(settings_get(Key::Protocol, i).c_str()));
    select_entry(row.security, security_entry(settings_get(Key::Security, i).c_str()));
    row.one_folder = settings_get(Key::Folder, i);
    FolderChoice folders;
    const bool sound = folder_choice(settings_get(Key::Folders, i), row.one_folder, folders);
    row.folder_list = folders.kind == FolderChoice::Kind::list ? folders.names : std::vector<std::string>{};
    select_entry(row.folder_choice, static_cast<int>(folders.kind));
    if (!sound) {
        row.note->setText(QString::fromUtf8("文件夹列表无法读取：只检查单个文件夹。"));
    }
    show_folder_choice(i);
    row.fingerprint->set_text(settings_get(Key::TlsFingerprint, i));
    select_entry(row.auth, auth_entry(settings_get(Key::Auth, i).c_str()));
    select_entry(row.source, source_entry(settings_get(Key::OAuthSource, i).c_str()));
    select_entry(row.provider, provider_entry(settings_get(Key::OAuthProvider, i)));
    set_edit_text(row.client_id, settings_get(Key::ClientId, i));
    set_edit_text(row.token_command, settings_get(Key::TokenCommand, i));
    row.health_blink->setChecked(account_health_blinks(i));
    // Until the online accounts are listed the account keeps its Id, so that an Apply cannot lose it.
    const QString online = text(settings_get(Key::OnlineAccount, i));
    if (!online.isEmpty()) {
        row.online->addItem(online, online);
        row.online->setCurrentIndex(0);
    }
}

// Only a user's choice (activated, never a change the page makes itself) fills anything in.
void CConnectionPage::connect_account(int i) {
    ConnectionRow& row = rows_[i];
    connect(row.auth, &QComboBox::activated, this, [this, i] { choose_auth(i); });
    connect(row.source, &QComboBox::activated, this, [this, i] { update_controls(i); });
    connect(row.provider, &QComboBox::activated, this, [this, i] {
        choose_provider(i);
        update_controls(i);
    });
    connect(row.protocol, &QComboBox::activated, this, [this, i] { choose_protocol(i); });
    connect(row.fill, &QPushButton::clicked, this, [this, i] { fill_from_address(i); });
    connect(row.folder_choice, &QComboBox::activated, this, [this, i] { choose_folders(i); });
    connect(row.protocol, &QComboBox::currentIndexChanged, this, [this, i] { show_folder_choice(i); });
    // The list comes from the server as the file names it: so 列出… saves the page first, as 登录… does.
    on_click_saving(row.list_folders, [this, i] {
        const int failures = settings_write_failures();
        apply();
        if (settings_write_failures() == failures) {
            list_server_folders(i);
        }
    });
    const auto name_upgrade = [combo = row.security](int protocol) {
        combo->setItemText(1, QString::fromUtf8(upgrade_item(protocol)));
    };
    connect(row.protocol, &QComboBox::currentIndexChanged, this, name_upgrade);
    name_upgrade(selected_entry(row.protocol));
    // The refresh token is filed under the account as the file has it, and the sign-in takes the provider from
    // there too: so 登录… saves the page as 应　　用 does, and signs in only once that was written.
    on_click_saving(row.sign_in, [this, i] {
        const int failures = settings_write_failures();
        if (apply() && settings_write_failures() == failures) {
            sign_in(i);
        }
    });
}

// The edit holds the one folder; for a list it shows the list's names, for every folder what it leaves out, and the
// one folder waits in the row meanwhile.
void CConnectionPage::choose_folders(int i) {
    ConnectionRow& row = rows_[i];
    if (!row.folder->isReadOnly()) {
        row.one_folder = edit_text(row.folder);
    }
    show_folder_choice(i);
    if (selected_entry(row.folder_choice) == kFolderList && row.folder_list.empty()) {
        row.list_folders->click(); // a list to begin with: the server's folders to choose from
    }
}

void CConnectionPage::show_folder_choice(int i) {
    ConnectionRow& row = rows_[i];
    const int choice = selected_entry(row.folder_choice);
    const bool imap = selected_entry(row.protocol) == 1;
    row.folder->setReadOnly(choice > 0);
    if (choice == kFolderList) {
        std::string names;
        for (const std::string& name : row.folder_list) {
            names += (names.empty() ? "" : "、") + name;
        }
        set_edit_text(row.folder, names);
        row.folder->setPlaceholderText(QString::fromUtf8("按“列出…”选择"));
    } else if (choice == kFolderEvery) {
        set_edit_text(row.folder, "");
        row.folder->setPlaceholderText(QString::fromUtf8("垃圾邮件、已发送等除外"));
    } else {
        set_edit_text(row.folder, row.one_folder);
        row.folder->setPlaceholderText(QStringLiteral("INBOX"));
    }
    row.folder_choice->setEnabled(imap);
    row.list_folders->setEnabled(imap && choice == kFolderList);
}

void CConnectionPage::list_server_folders(int i) {
    ConnectionRow& row = rows_[i];
    CFolderListDlg list(this, i, row.folder_list);
    if (list.exec() == QDialog::Accepted) {
        row.folder_list = list.chosen();
        select_entry(row.folder_choice, kFolderList);
        show_folder_choice(i);
    }
}

void CConnectionPage::show_account(int account) {
    shown_ = account;
    {
        QSignalBlocker quiet(chooser_);
        chooser_->setCurrentIndex(account);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        for (QWidget* control : rows_[i].controls) {
            control->setVisible(i == account);
        }
        update_controls(i);
    }
}

void CConnectionPage::update_controls(int i) {
    ConnectionRow& row = rows_[i];
    const bool oauth = selected_entry(row.auth) == kAuthOAuth2;
    const int source = selected_entry(row.source);
    const int shown_source = source < 0 ? kSourceBrowser : source;
    row.source->setEnabled(oauth);
    for (int s = 0; s < kSourceCount; ++s) {
        for (QWidget* control : row.by_source[s]) {
            control->setVisible(i == shown_ && s == shown_source);
            control->setEnabled(oauth && s == source);
        }
    }
    row.sign_in->setEnabled(oauth && source == kSourceBrowser && !signing_in_);
    // An empty client id means the build's own, where it brings one for the provider; else one must be entered.
    const bool brought = oauth_build_brings_client_id(provider_value(selected_entry(row.provider)));
    row.client_id->setPlaceholderText(QString::fromUtf8(brought ? "程序自带" : "需填写"));
    if (!listed_ && isVisible() && i == shown_ && shown_source == kSourceOnline) {
        list_online_accounts();
    }
}

void CConnectionPage::showEvent(QShowEvent* event) {
    Page::showEvent(event);
    update_controls(shown_);
}

void CConnectionPage::choose_auth(int i) {
    ConnectionRow& row = rows_[i];
    if (selected_entry(row.auth) == kAuthOAuth2) {
        if (selected_entry(row.source) < 0) {
            select_entry(row.source, kSourceBrowser);
        }
        // The mail check refuses OAuth2 in clear, before it asks the source for a token.
        if (selected_entry(row.security) == 0) {
            row.note->setText(QString::fromUtf8("OAuth2 只用于加密的连接：请把方式选为 1 或 2。"));
        }
    }
    update_controls(i);
}

void CConnectionPage::choose_provider(int i) {
    ConnectionRow& row = rows_[i];
    const std::string server =
        preset_server(provider_value(selected_entry(row.provider)), selected_entry(row.protocol) == 1);
    if (server.empty()) {
        return; // custom: the server stays as the setup program has it
    }
    set_edit_text(row.server, server);
    select_entry(row.security, kSecurityTls);
    row.note->setText(text("服务器：" + server + "，SSL/TLS。"));
}

// An OAuth2 account of a preset provider follows the protocol to the provider's other server.
void CConnectionPage::choose_protocol(int i) {
    if (selected_entry(rows_[i].auth) == kAuthOAuth2) {
        choose_provider(i);
    }
}

void CConnectionPage::fill_from_address(int i) {
    ConnectionRow& row = rows_[i];
    if (row.search != nullptr) {
        row.search->cancel(); // the button is 取　消 while the search runs; its end comes back as usual
        return;
    }
    ini_read_key(Key::ID, i); // the setup program's key, as it is now
    const std::string address = settings_get(Key::ID, i);
    const AddressFill fill = address_fill(address, selected_entry(row.protocol) == 1);
    if (fill.search) {
        search_address(i, address);
        return;
    }
    take_fill(i, fill);
}

void CConnectionPage::search_address(int i, const std::string& address) {
    ConnectionRow& row = rows_[i];
    const bool imap = selected_entry(row.protocol) == 1;
    row.fill->setText(QString::fromUtf8("取　消"));
    row.note->setText(QString::fromUtf8("正在查找……"));
    row.search = new DiscoveryTask(
        address, imap, [this, i](const std::string& line) { rows_[i].note->setText(text(line)); },
        [this, i, imap](const DiscoveryResult& result) {
            ConnectionRow& done = rows_[i];
            done.search->deleteLater();
            done.search = nullptr;
            done.fill->setText(QString::fromUtf8("按地址填写"));
            take_fill(i, discovered_fill(result, imap));
        },
        this);
}

// A server found fills in its protocol, security and sign-in: the password unless the provider takes OAuth2 only.
void CConnectionPage::take_fill(int i, const AddressFill& fill) {
    ConnectionRow& row = rows_[i];
    if (!fill.server.empty()) {
        set_edit_text(row.server, fill.server);
        select_entry(row.protocol, fill.imap ? 1 : 0);
        select_entry(row.security, fill.security);
        select_entry(row.auth, fill.oauth2 ? kAuthOAuth2 : 0);
        if (fill.oauth2) {
            select_entry(row.provider, provider_entry(fill.provider));
            if (selected_entry(row.source) < 0) {
                select_entry(row.source, kSourceBrowser);
            }
        }
    }
    row.note->setText(text(fill.note));
    update_controls(i);
}

// The sign-in waits for the browser in a local event loop, so the window keeps answering meanwhile; the sign-in
// buttons stay disabled until it ends, since a second one would wait inside the first.
void CConnectionPage::sign_in(int i) {
    if (signing_in_) {
        return;
    }
    ConnectionRow& row = rows_[i];
    ini_read_keys({Key::ServerName, Key::ID, Key::Protocol, Key::OAuthProvider, Key::AuthUrl, Key::TokenUrl,
                   Key::Scope, Key::ClientId},
                  i);
    signing_in_ = true;
    for (int a = 0; a < kAccountCount; ++a) {
        update_controls(a);
    }
    row.note->setText(QString::fromUtf8("请在浏览器中登录……"));
    QPointer<CConnectionPage> alive(this);
    const SignInResult result = account_sign_in(i, open_with_desktop, timing().sign_in_wait_ms);
    if (alive.isNull()) {
        return; // the window went while the browser was out
    }
    signing_in_ = false;
    row.note->setText(text(result.text));
    if (!result.advice.empty()) {
        MessageBox::question(this, "kd5lite_op", result.advice.c_str(), QMessageBox::Ok);
    }
    if (result.kept_in_file && !told_kept_in_file_) {
        told_kept_in_file_ = true;
        MessageBox::question(this, "kd5lite_op", token_kept_in_file_text(result.keyring).c_str(), QMessageBox::Ok);
    }
    for (int a = 0; a < kAccountCount; ++a) {
        update_controls(a);
    }
}

void CConnectionPage::list_online_accounts() {
    listed_ = true;
    std::vector<OnlineMailAccount> accounts;
    std::string error;
    const OnlineStatus status = online_mail_accounts(accounts, timing().token_request_ms, &error);
    // With nothing to choose from, the empty list itself says why.
    QString why = QString::fromUtf8("选择一个在线帐户");
    if (status == OnlineStatus::no_service) {
        why = QString::fromUtf8("没有GNOME在线帐户服务");
    } else if (status != OnlineStatus::ok) {
        why = QString::fromUtf8("在线帐户无法读取：") + text(error);
    } else if (accounts.empty()) {
        why = QString::fromUtf8("桌面上没有邮件的在线帐户");
    }
    for (ConnectionRow& row : rows_) {
        const QString kept = row.online->currentData().toString();
        row.online->clear();
        for (const OnlineMailAccount& account : accounts) {
            const std::string who = account.identity.empty() ? account.id : account.identity;
            row.online->addItem(text(who + "（" + account.provider + "）"), text(account.id));
        }
        if (!kept.isEmpty() && row.online->findData(kept) < 0) {
            row.online->addItem(kept + QString::fromUtf8("（不在列表中）"), kept);
        }
        row.online->setCurrentIndex(row.online->findData(kept));
        row.online->setPlaceholderText(why);
    }
}

bool CConnectionPage::apply() {
    // The server, ID and protocol are what the keyring files an account's secrets under: the account as the file
    // has it now, so its items can follow a changed server or protocol.
    SecretKey before[kAccountCount];
    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_keys({Key::ServerName, Key::ID, Key::Protocol, Key::SecretStore}, i);
        before[i] = account_secret_key(i);
    }
    // No item chosen is stored as -1, which the mail check refuses rather than guess a protocol or connect in
    // clear; no source or provider chosen as nothing, which the token sources refuse as well.
    bool new_server[kAccountCount];
    for (int i = 0; i < kAccountCount; ++i) {
        const ConnectionRow& row = rows_[i];
        const std::string server = edit_text(row.server);
        new_server[i] = server != row.stored_server;
        if (new_server[i]) {
            settings_set(Key::ServerName, server.c_str(), i);
        }
        settings_set(Key::Security, std::to_string(selected_entry(row.security)).c_str(), i);
        settings_set(Key::TlsFingerprint, row.fingerprint->text().c_str(), i);
        settings_set(Key::Protocol, std::to_string(selected_entry(row.protocol)).c_str(), i);
        const int folders = selected_entry(row.folder_choice);
        settings_set(Key::Folder, (folders > 0 ? row.one_folder : edit_text(row.folder)).c_str(), i);
        const std::string list = folders_text(row.folder_list);
        settings_set(Key::Folders, folders == kFolderEvery ? "*" : folders == kFolderList ? list.c_str() : "", i);
        settings_set(Key::Auth, std::to_string(selected_entry(row.auth) == kAuthOAuth2 ? 1 : 0).c_str(), i);
        settings_set(Key::OAuthSource, source_value(selected_entry(row.source)).c_str(), i);
        settings_set(Key::OAuthProvider, provider_value(selected_entry(row.provider)).c_str(), i);
        settings_set(Key::ClientId, edit_text(row.client_id).c_str(), i);
        settings_set(Key::OnlineAccount, row.online->currentData().toString().toStdString().c_str(), i);
        settings_set(Key::TokenCommand, edit_text(row.token_command).c_str(), i);
        settings_set(Key::HealthBlink, row.health_blink->isChecked() ? "1" : "0", i);
    }
    // The keys that name an account's keyring items (ServerName, Protocol) are written only once its items have
    // followed them: else the account would name items that are not there, and fail at every pass.
    const auto write_account = [this, &new_server](int i, bool names) {
        bool written = true;
        if (names && new_server[i]) {
            written = ini_write_key(Key::ServerName, i) == 0;
            if (written) {
                rows_[i].stored_server = settings_get(Key::ServerName, i);
            }
        }
        for (Key key : kKeys) {
            if (names || key != Key::Protocol) {
                written = ini_write_key(key, i) == 0 && written;
            }
        }
        return written;
    };
    std::string kept;
    SecretResult refused = SecretResult::ok;
    for (int i = 0; i < kAccountCount; ++i) {
        const SecretResult refiled =
            refile_account_secrets(i, before[i], [&write_account, i] { return write_account(i, true) ? 0 : -1; });
        if (refiled != SecretResult::ok) {
            ini_read_keys({Key::ServerName, Key::Protocol}, i); // as the file has them
            write_account(i, false);
            kept += (kept.empty() ? "第" : "、第") + std::to_string(i + 1) + "个";
            refused = refused == SecretResult::ok ? refiled : refused;
        }
    }
    update();
    if (!kept.empty()) {
        MessageBox::question(this, "kd5lite_op", names_kept_text(kept, refused).c_str(), QMessageBox::Ok);
    }
    return kept.empty();
}

void CConnectionPage::refresh() {
    for (int i = 0; i < kAccountCount; ++i) {
        ConnectionRow& row = rows_[i];
        if (row.search == nullptr && edit_text(row.server) == row.stored_server &&
            ini_read_key(Key::ServerName, i) == 0) {
            row.stored_server = settings_get(Key::ServerName, i);
            set_edit_text(row.server, row.stored_server);
        }
    }
}
