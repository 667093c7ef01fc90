#include "setup/accounts_page.h"

#include "credentials/scramble_text.h"
#include "gui/byte_limit.h"
#include "platform/secret.h"
#include "settings/password_pair.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace {

constexpr const char* kGroupCaptions[kAccountCount] = {"第一个（红色LED）", "第二个（绿色LED）", "第三个（黄色LED）"};
constexpr int kGroupStep = 54; // dialog units between the tops of two account groups

std::string control_name(const char* what, int account) {
    return what + std::to_string(account + 1);
}

} // namespace

CAccountsPage::CAccountsPage(QWidget* parent) : Page(parent, 2) {
    for (int i = 0; i < kAccountCount; ++i) {
        int top = kGroupStep * i;
        AccountRow& row = rows_[i];
        add_group(kGroupCaptions[i], 7, 7 + top, 186, 52);
        row.enabled = add_check(control_name("switch", i).c_str(), 13, 17 + top, 8, 8);
        add_static("如果您希望接收此账户的邮件时，请选定此复选框。", 25, 17 + top, 155, 8);
        add_static("服务器名", 13, 30 + top, 29, 8);
        row.server = add_edit(control_name("server", i).c_str(), 45, 28 + top, 139, 12, 64);
        add_static("邮件ID", 21, 44 + top, 20, 8);
        row.id = add_edit(control_name("id", i).c_str(), 45, 42 + top, 54, 12, 32);
        add_static("密码", 103, 44 + top, 26, 8);
        row.password = add_edit(control_name("password", i).c_str(), 129, 42 + top, 54, 12,
                                static_cast<int>(kPasswordMax), EditStyle::password);
    }
    add_static("请按照网络服务供应商提供的信息输入以上项目。", 7, 170, 190, 8);
    QPushButton* apply_button = add_button("apply", "应　用", 143, 179, 50, 14);
    add_static("＊设置邮件账户信息", 7, 185, 115, 8);

    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_key(Key::Switch, i);
        ini_read_key(Key::ServerName, i);
        ini_read_key(Key::ID, i);
        ini_read_password(i);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        rows_[i].enabled->setChecked(settings_get(Key::Switch, i).starts_with('1'));
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
    for (int i = 0; i < kAccountCount; ++i) {
        ini_write_key(Key::Switch, i);
        ini_write_key(Key::ServerName, i);
        ini_write_key(Key::ID, i);
        // Leaves the scrambled form in the record, so the plain password never reaches the file; the edit keeps
        // showing the plain one.
        ini_write_password(i);
    }
    update();
}
