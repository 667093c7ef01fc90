// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sound_page.h"

#include "gui/byte_limit.h"
#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "settings/quiet_hours.h"
#include "option/option_values.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace {

constexpr char kFilter[] = "WAV 声音文件 (*.wav);;所有文件 (*)";

// Where one account's row sits in the template; the second row's edit is one unit left of the others. The label
// sits two units below the edit's top and the Browse button one unit above it.
struct SoundTemplate {
    const char* caption;
    int group_y;
    int edit_x;
    int edit_y;
};

const SoundTemplate kRows[kAccountCount] = {
    {"第1个", 23, 41, 33},
    {"第2个", 55, 40, 65},
    {"第3个", 88, 41, 98},
};

} // namespace

CSoundPage::CSoundPage(QWidget* parent) : Page(parent, 2) {
    add_static("选项功能（声音通知）", 7, 7, 186, 8);
    for (int i = 0; i < kAccountCount; ++i) {
        const SoundTemplate& t = kRows[i];
        std::string number = std::to_string(i + 1);
        add_group(t.caption, 7, t.group_y, 186, 28);
        add_static("声音", 13, t.edit_y + 2, 23, 8);
        rows_[i].path = add_edit(("sound" + number).c_str(), t.edit_x, t.edit_y, 120, 12, sound_path_room());
        QPushButton* browse_button = add_button(("browse" + number).c_str(), "浏览", 165, t.edit_y - 1, 20, 14);
        connect(browse_button, &QPushButton::clicked, this, [this, i] { browse(i); });
    }
    add_static("声音文件，只可以指定wav文件。", 7, 123, 186, 8);
    add_static("使用声音时，请将系统信息的邮件到达提示音秒数设定为“0”", 7, 134, 186, 8);
    add_static("第1.2.3个，对应邮件账户信息的已设置项目。", 7, 145, 186, 8);
    // Added: the desktop's notification of new mail, per account (key Notify, on unless "0").
    add_static("桌面通知", 7, 162, 34, 8);
    for (int i = 0; i < kAccountCount; ++i) {
        const int x = 44 + 32 * i;
        rows_[i].notify = add_check(("notify" + std::to_string(i + 1)).c_str(), x, 161, 10, 10);
        add_static(kRows[i].caption, x + 11, 162, 20, 8);
    }
    // Added: the quiet time of day (keys QuietStart and QuietEnd), when the buzzer and the sounds keep still.
    add_static("静音时段", 7, 181, 34, 8);
    quiet_start_ = add_edit("quietstart", 44, 179, 30, 12, key_width(Key::QuietStart));
    add_static("至", 77, 181, 10, 8);
    quiet_end_ = add_edit("quietend", 89, 179, 30, 12, key_width(Key::QuietEnd));
    for (QLineEdit* edit : {quiet_start_, quiet_end_}) {
        edit->setPlaceholderText(QStringLiteral("HH:MM"));
    }
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);

    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_keys({Key::SoundFile, Key::Notify}, i);
    }
    ini_read_keys({Key::QuietStart, Key::QuietEnd});
    for (int i = 0; i < kAccountCount; ++i) {
        set_edit_text(rows_[i].path, settings_get(Key::SoundFile, i));
        rows_[i].notify->setChecked(account_notifies(i));
    }
    set_edit_text(quiet_start_, settings_get(Key::QuietStart));
    set_edit_text(quiet_end_, settings_get(Key::QuietEnd));

    on_click_saving(apply_button, [this] { apply(); });
}

std::string CSoundPage::overlong_path_message() {
    return "所选文件的路径太长（最多" + std::to_string(sound_path_room()) +
           "个字节），无法设定。\n请将声音文件放到路径较短的文件夹后再选择。";
}

void CSoundPage::browse(int account) {
    SoundRow& row = rows_[account];
    QString name = FileDialog::get_open_file_name(this, row.chosen, QString::fromUtf8(kFilter));
    if (name.isEmpty()) {
        return; // cancelled: the field keeps its text
    }
    // Remembered even when refused below, so the next chooser opens where the user was looking.
    row.chosen = name;
    std::string path = name.toStdString();
    if (!sound_path_fits(path)) {
        // Stored cut short, the path would name another file or none, and the notifier would play nothing
        // without a word; the user is told instead, and the field keeps its text.
        MessageBox::question(this, "kd5lite_op", overlong_path_message().c_str(), QMessageBox::Ok);
        return;
    }
    set_edit_text(row.path, path);
}

std::string CSoundPage::quiet_time_message() {
    return "静音时段请用“时:分”填写开始和结束的时刻（例如 22:00 至 07:00），或两栏都留空。";
}

void CSoundPage::apply() {
    const std::string start = edit_text(quiet_start_);
    const std::string end = edit_text(quiet_end_);
    if (quiet_hours_form(start, end) == QuietHoursForm::malformed) {
        // Stored as typed, the notifier would find no quiet time and sound all night without a word.
        MessageBox::question(this, "kd5lite_op", quiet_time_message().c_str(), QMessageBox::Ok);
        return;
    }
    settings_set(Key::QuietStart, start.c_str());
    settings_set(Key::QuietEnd, end.c_str());
    ini_write_keys({Key::QuietStart, Key::QuietEnd});
    // Stored as shown: neither the file's existence nor its kind is checked, and an empty field means no sound.
    for (int i = 0; i < kAccountCount; ++i) {
        settings_set(Key::SoundFile, edit_text(rows_[i].path).c_str(), i);
        settings_set(Key::Notify, rows_[i].notify->isChecked() ? "1" : "0", i);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        ini_write_keys({Key::SoundFile, Key::Notify}, i);
    }
    update();
}
