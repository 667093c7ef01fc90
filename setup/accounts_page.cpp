// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/accounts_page.h"

#include "credentials/scramble_text.h"
#include "gui/byte_limit.h"
#include "gui/message_box.h"
#include "platform/secret.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/password_pair.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kGroupCaptions[kAccountCount] = {"第一个（红色LED）", "第二个（绿色LED）", "第三个（黄色LED）"};
// Dialog units between the tops of two account groups, and a group's height: two units less than the template's
// each, which makes room under the groups for the line that points to the option program's 连接 tab.
constexpr int kGroupStep = 51;
constexpr int kGroupHeight = 50;

std::string control_name(const char* what, int account) {
    return what + std::to_string(account + 1);
}

} // namespace

CAccountsPage::CAccountsPage(QWidget* parent) : Page(parent, 2) {
    for (int i = 0; i < kAccountCount; ++i) {
        int top = kGroupStep * i;
        AccountRow& row = rows_[i];
        add_group(kGroupCaptions[i], 7, 7 + top, 186, kGroupHeight);
        row.enabled = add_check(control_name("switch", i).c_str(), 13, 17 + top, 8, 8);
        add_static("如果您希望接收此账户的邮件时，请选定此复选框。", 25, 17 + top, 155, 8);
        add_static("服务器名", 13, 30 + top, 29, 8);
        row.server = add_edit(control_name("server", i).c_str(), 45, 28 + top, 139, 12, key_width(Key::ServerName));
        // The mail ID is mostly a whole address, which the template's 54 units cut short; the masked password
        // needs less room than it had.
        add_static("邮件ID", 21, 44 + top, 20, 8);
        row.id = add_edit(control_name("id", i).c_str(), 45, 42 + top, 76, 12, key_width(Key::ID));
        add_static("密码", 124, 44 + top, 16, 8);
        row.password = add_edit(control_name("password", i).c_str(), 142, 42 + top, 42, 12,
                                static_cast<int>(kPasswordMax), EditStyle::password);
    }
    // Added: the rest of an account is the option program's, which a newcomer would not look for.
    add_static("IMAP、TLS 和 OAuth2 在选项程序的「连接」页设定。", 7, 160, 186, 8);
    add_static("请按照网络服务供应商提供的信息输入以上项目。", 7, 170, 190, 8);
    QPushButton* apply_button = add_button("apply", "应　用", 143, 179, 50, 14);
    add_static("＊设置邮件账户信息", 7, 185, 115, 8);

    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_keys({Key::Switch, Key::ServerName, Key::ID}, i);
        ini_read_key(Key::Protocol, i); // with the server and ID, it names the account's keyring item
        ini_load_password(i, passwords_[i]);
        show_stored(i, true);
    }

    on_click_saving(apply_button, [this] { apply(); });
}

// Puts the account as the record holds it into each field that still shows what it showed last, and remembers it
// as shown: a field the user edited keeps what was typed. The password only with_password: one in the keyring is
// not asked for again each time the window comes to the front.
void CAccountsPage::show_stored(int i, bool with_password) {
    AccountRow& row = rows_[i];
    Shown& shown = shown_[i];
    if (row.enabled->isChecked() == shown.enabled) {
        shown.enabled = account_ticked(i);
        row.enabled->setChecked(shown.enabled);
    }
    if (edit_text(row.server) == shown.server) {
        shown.server = settings_get(Key::ServerName, i);
        set_edit_text(row.server, shown.server);
    }
    if (edit_text(row.id) == shown.id) {
        shown.id = settings_get(Key::ID, i);
        set_edit_text(row.id, shown.id);
    }
    SecretBuffer<sizeof shown.password.text> typed;
    secret_edit_text(row.password, typed.text, sizeof typed.text);
    if (with_password && std::strcmp(typed.text, shown.password.text) == 0) {
        settings_get_into(Key::Password, shown.password.text, sizeof shown.password.text, i);
        set_secret_edit_text(row.password, shown.password.text);
    }
}

void CAccountsPage::refresh() {
    for (int i = 0; i < kAccountCount; ++i) {
        if (ini_read_keys({Key::Switch, Key::ServerName, Key::ID, Key::Protocol}, i) == 0 &&
            ini_read_password(i) == 0) {
            show_stored(i, !password_in_keyring(i));
        }
    }
}

// Writes what was edited in account i since it was shown, over the account as the file has it now. A password
// still in the file is saved again whether edited or not, so that it moves into a keyring that has come since.
// -1 when the file was not written: the edits stay edited, and the next Apply tries again.
int CAccountsPage::apply_account(int i, PasswordSave& save) {
    const AccountRow& row = rows_[i];
    Shown& shown = shown_[i];
    ini_read_keys({Key::Switch, Key::ServerName, Key::ID, Key::Protocol}, i);
    ini_read_password(i); // the file's password in the record; empty for one in the keyring
    AccountPassword& state = passwords_[i];
    state.filed_under = account_secret_key(i);
    state.in_keyring = password_in_keyring(i);

    std::vector<Key> edited;
    const bool ticked = row.enabled->isChecked();
    const std::string server = edit_text(row.server);
    const std::string id = edit_text(row.id);
    if (ticked != shown.enabled) {
        settings_set(Key::Switch, ticked ? "1" : "0", i);
        edited.push_back(Key::Switch);
    }
    if (server != shown.server) {
        settings_set(Key::ServerName, server.c_str(), i);
        edited.push_back(Key::ServerName);
    }
    if (id != shown.id) {
        settings_set(Key::ID, id.c_str(), i);
        edited.push_back(Key::ID);
    }
    SecretBuffer<sizeof shown.password.text> typed;
    secret_edit_text(row.password, typed.text, sizeof typed.text);
    const bool password_edited = std::strcmp(typed.text, shown.password.text) != 0;
    if (password_edited) {
        settings_set(Key::Password, typed.text, i);
    } else if (state.in_keyring) {
        // Unchanged, it needs saving only under a new server or ID: the one shown, or none when the keyring did
        // not show it (then it is moved within the keyring).
        settings_set(Key::Password, state.read == SecretResult::ok ? shown.password.text : "", i);
    }
    SecretBuffer<sizeof shown.password.text> stored;
    settings_get_into(Key::Password, stored.text, sizeof stored.text, i);
    const bool retry_keyring = !state.in_keyring && stored.text[0] != '\0';
    const bool names_edited = server != shown.server || id != shown.id;
    int rc;
    if (password_edited || names_edited || retry_keyring) {
        rc = ini_save_password(i, state, save, edited);
    } else {
        rc = edited.empty() ? 0 : ini_write_keys(edited, i);
    }
    if (rc != 0) {
        return -1;
    }
    shown.enabled = ticked;
    std::memcpy(shown.password.text, typed.text, sizeof typed.text);
    if (!save.name_kept) {
        shown.server = server;
        shown.id = id;
    }
    return 0;
}

void CAccountsPage::apply() {
    SecretResult kept_in_file = SecretResult::ok;
    SecretResult name_refused = SecretResult::ok;
    std::string names_kept;
    for (int i = 0; i < kAccountCount; ++i) {
        // The plain password never reaches the file; the edit keeps showing it.
        PasswordSave save;
        if (apply_account(i, save) != 0) {
            continue;
        }
        if (save.name_kept) {
            names_kept += (names_kept.empty() ? "第" : "、第") + std::to_string(i + 1) + "个";
            name_refused = name_refused == SecretResult::ok ? save.keyring : name_refused;
        } else if (!save.kept && save.keyring != SecretResult::ok && kept_in_file == SecretResult::ok) {
            kept_in_file = save.keyring;
        }
    }
    update();
    if (!names_kept.empty()) {
        MessageBox::question(this, "kd5lite_ap", name_kept_message(names_kept, name_refused).c_str(), QMessageBox::Ok);
    }
    if (kept_in_file != SecretResult::ok && !told_kept_in_file_) {
        told_kept_in_file_ = true;
        MessageBox::question(this, "kd5lite_ap", kept_in_file_message(kept_in_file).c_str(), QMessageBox::Ok);
    }
}

std::string CAccountsPage::kept_in_file_message(SecretResult keyring) {
    const char* why = keyring_refusal_words(keyring);
    return std::string("密码以加扰形式保存在设置文件中，没有保存到桌面密钥环：") + why +
           "。\n读取设置文件的人可以还原加扰。密钥环可用后再按一次“应　用”，密码就会移入密钥环。";
}

std::string CAccountsPage::name_kept_message(const std::string& accounts, SecretResult keyring) {
    return accounts + "账户的服务器名和邮件ID没有保存：它的密码在桌面密钥环中，按原来的服务器名和邮件ID存放，" +
           "现在无法移到新的名下：" + keyring_refusal_words(keyring) +
           "。\n密钥环可用后再按一次“应　用”；或者重新输入密码后再按“应　用”。";
}
