// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/system_page.h"

#include "gui/byte_limit.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QPushButton>

CSystemPage::CSystemPage(QWidget* parent) : Page(parent, 1) {
    add_group("序列号", 7, 7, 186, 40);
    serial_ = add_edit("serial", 13, 18, 50, 12, key_width(Key::SerialNumber));
    add_static("控制KD-5lite必需序列号。", 68, 19, 120, 8);
    add_static("＊序列号印在本体后面的贴纸上。", 13, 33, 170, 8);
    add_group("邮件检查间隔（1～60分钟）", 7, 48, 186, 40);
    interval_ = add_edit("interval", 13, 59, 50, 12, key_width(Key::IntervalTimer));
    add_static("根据指定周期进行邮件检查。", 68, 60, 120, 8);
    add_static("＊出厂时，初始设置值为10分钟。", 13, 74, 170, 8);
    add_group("新邮件到达提示音秒数（0～24秒）", 7, 91, 186, 52);
    beep_ = add_edit("beep", 13, 102, 50, 12, key_width(Key::BeepTime));
    add_static("蜂鸣器按已设定的秒数发出声音。", 68, 103, 120, 8);
    add_static("＊设定“0”时蜂鸣器为无声", 13, 117, 170, 8);
    add_static("＊出厂时，初始设置值为1秒。", 13, 129, 170, 8);
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);
    entry_count_ = add_edit("entryCount", 108, 181, 6, 12, key_width(Key::EntryCount));
    entry_count_->setVisible(false);
    entry_count_->setEnabled(false);
    add_static("＊系统信息的设置", 7, 185, 100, 8);

    ini_read_key(Key::SerialNumber);
    ini_read_key(Key::EntryCount);
    ini_read_key(Key::IntervalTimer);
    ini_read_key(Key::BeepTime);
    // An empty interval or buzzer time (no file yet) shows the factory value its label names, so that 应　　用
    // stores it rather than an empty field.
    ini_check_key(Key::IntervalTimer);
    ini_check_key(Key::BeepTime);
    set_edit_text(serial_, settings_get(Key::SerialNumber));
    set_edit_text(entry_count_, settings_get(Key::EntryCount));
    set_edit_text(interval_, settings_get(Key::IntervalTimer));
    set_edit_text(beep_, settings_get(Key::BeepTime));

    on_click_saving(apply_button, [this] { apply(); });
}

void CSystemPage::apply() {
    // Stored as typed: the ranges and factory values are only advice in the labels.
    settings_put(Key::SerialNumber, edit_text(serial_).c_str());
    settings_put(Key::EntryCount, edit_text(entry_count_).c_str());
    settings_put(Key::IntervalTimer, edit_text(interval_).c_str());
    settings_put(Key::BeepTime, edit_text(beep_).c_str());
    update();
}
