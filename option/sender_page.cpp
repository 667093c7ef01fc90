// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sender_page.h"

#include "gui/byte_limit.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <string>

// Where one account's controls sit in the template. The groups are not evenly spaced, and the labels sit three
// units below their edits in the first group but four in the others.
struct CSenderPage::AccountTemplate {
    const char* caption;
    int group_y;
    int label_y; // of "(1)"; "(2)" and "(3)" follow 12 units apart, as do the edits
    int edit_y;  // of the first address edit, also of "条　件"
    int list_x;
    int list_y;
};

namespace {

constexpr int kLineStep = 12;

const CSenderPage::AccountTemplate kAccounts[kAccountCount] = {
    {"第1个", 17, 30, 27, 134, 37},
    {"第2个", 68, 82, 78, 134, 87},
    {"第3个", 120, 134, 130, 135, 139},
};

constexpr Key kAddressKeys[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};
constexpr Key kSearchKeys[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
constexpr const char* kAddressLabels[] = {"(1)", "(2)", "(3)"};

// Runs op on the keys of account 1, then of account 2, then of account 3: the order of reads and writes.
void for_each_account(const Key (&keys)[3], int (*op)(Key, int)) {
    for (int i = 0; i < kAccountCount; ++i) {
        for (Key key : keys) {
            op(key, i);
        }
    }
}

} // namespace

CSenderPage::CSenderPage(QWidget* parent) : Page(parent, 1) {
    add_static("选项功能（指定发件人）", 7, 7, 186, 8);
    for (int i = 0; i < kAccountCount; ++i) {
        add_account(i, kAccounts[i]);
    }
    add_static("对于指定发件人的邮件进行检查", 7, 177, 129, 8);
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);

    for_each_account(kAddressKeys, ini_read_key);
    for_each_account(kSearchKeys, ini_read_key);
    // One condition per account: the first key speaks for all three, whatever the other two hold.
    for (int i = 0; i < kAccountCount; ++i) {
        select_entry(rows_[i].condition, condition_entry(settings_get(Key::SpecialSearch1, i).c_str()));
    }
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            set_edit_text(rows_[i].address[n], settings_get(kAddressKeys[n], i));
        }
    }

    on_click_saving(apply_button, [this] { apply(); });
}

void CSenderPage::add_account(int account, const AccountTemplate& t) {
    AccountRow& row = rows_[account];
    std::string number = std::to_string(account + 1);
    add_group(t.caption, 7, t.group_y, 186, 50);
    for (int n = 0; n < 3; ++n) {
        add_static(kAddressLabels[n], 13, t.label_y + kLineStep * n, 10, 8);
    }
    for (int n = 0; n < 3; ++n) {
        std::string name = "address" + number + std::to_string(n + 1);
        row.address[n] = add_edit(name.c_str(), 25, t.edit_y + kLineStep * n, 100, 12, key_width(kAddressKeys[n]));
    }
    add_static("条　件", 150, t.edit_y, 20, 8);
    row.condition = add_list(("condition" + number).c_str(), list_items(kConditionItems), t.list_x, t.list_y, 50, 26);
}

void CSenderPage::apply() {
    // Addresses are stored as typed, empty or not: the mail check compares them as they are.
    for (int i = 0; i < kAccountCount; ++i) {
        for (int n = 0; n < 3; ++n) {
            settings_set(kAddressKeys[n], edit_text(rows_[i].address[n]).c_str(), i);
        }
    }
    // No item chosen is stored as -1, which the mail check takes as no condition.
    for (int i = 0; i < kAccountCount; ++i) {
        std::string value = std::to_string(selected_entry(rows_[i].condition));
        for (Key key : kSearchKeys) {
            settings_set(key, value.c_str(), i);
        }
    }
    for_each_account(kAddressKeys, ini_write_key);
    for_each_account(kSearchKeys, ini_write_key);
    update();
}
