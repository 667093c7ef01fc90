// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/service_page.h"

#include "gui/byte_limit.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QPushButton>

COptionServicePage::COptionServicePage(QWidget* parent)
    : ServicePage(parent, 4,
                  {"只要设定好检查邮件的所需项目，", "电脑启动后即可自动进行邮件查看。", "如已用手动停止邮件检查时，",
                   "需要重新启动电脑或者再手动点击「开始使用」。"}) {
    // Added, between the request's line and the note under it: a program and its arguments, no shell.
    add_static("变化时运行：", 7, 160, 46, 8);
    hook_ = add_edit("hook", 54, 158, 104, 12, 255);
    QPushButton* apply = add_button("applyHook", "应用", 161, 157, 32, 14);
    ini_read_key(Key::Hook);
    set_edit_text(hook_, settings_get(Key::Hook));
    on_click_saving(apply, [this] { apply_hook(); });
}

void COptionServicePage::apply_hook() {
    settings_set(Key::Hook, edit_text(hook_).c_str());
    ini_write_key(Key::Hook);
}
