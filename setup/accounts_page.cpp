// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/accounts_page.h"

#include "credentials/scramble_text.h"
#include "gui/byte_limit.h"
#include "gui/message_box.h"
#include "platform/secret.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <string>

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
        ini_read_key(Key::Switch, i);
        ini_read_key(Key::ServerName, i);
        ini_read_key(Key::ID, i);
        ini_read_key(Key::Protocol, i); // with the server and ID, it names the account's keyring item
        ini_load_password(i, passwords_[i]);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        rows_[i].enabled->setChecked(account_ticked(i));
    }
    for (int i = 0; i < kAccountCount; ++i) {
        set_edit_text(rows_[i].server, settings_get(Key::ServerName, i));
        set_edit_text(rows_[i].id, settings_get(Key::ID, i));
        SecretBuffer<sizeof g_settings.user[i].Password> password;
        settings_get_into(Key::Password, password.text, sizeof password.text, i);
        set_secret_edit_text(rows_[i].password, password.text);
    }

    on_click_saving(apply_button, [this] { apply(); });
}

void CAccountsPage::apply() {
    for (int i = 0; i < kAccountCount; ++i) {
        const AccountRow& row = rows_[i];
        settings_set(Key::Switch, row.enabled->isChecked() ? "1" : "0", i);
        settings_set(Key::ServerName, edit_text(row.server).c_str(), i);
        settings_set(Key::ID, edit_text(row.id).c_str(), i);
        SecretBuffer<sizeof g_settings.user[i].Password> password;
        secret_edit_text(row.password, password.text, sizeof password.text);
        settings_set(Key::Password, password.text, i);
    }
    SecretResult kept_in_file = SecretResult::ok;
    for (int i = 0; i < kAccountCount; ++i) {
        ini_write_key(Key::Switch, i);
        ini_write_key(Key::ServerName, i);
        ini_write_key(Key::ID, i);
        // The option program may have changed the protocol since the page was made; the keyring files the
        // password under it.
        ini_read_key(Key::Protocol, i);
        // The plain password never reaches the file; the edit keeps showing it.
        PasswordSave save;
        ini_save_password(i, passwords_[i], save);
        if (save.keyring != SecretResult::ok && kept_in_file == SecretResult::ok) {
            kept_in_file = save.keyring;
        }
    }
    update();
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
