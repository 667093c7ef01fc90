// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/service_page.h"

#include "gui/message_box.h"
#include "platform/autostart_entry.h"
#include "platform/corvo_dir.h"
#include "settings/keys.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

bool settings_file_exists() {
    struct stat st {};
    return !corvo_dir().empty() && lstat(corvo_path(kSettingsFileName).c_str(), &st) == 0;
}

// The notifier installed beside this program.
std::string notifier_path() {
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/kd5lite")).toStdString();
}

} // namespace

CServicePage::CServicePage(QWidget* parent)
    : ServicePage(parent, 4,
                  {"只要设定好检查邮件的所需项目，电脑启动后即可自动进行邮", "件查看。",
                   "如已用手动停止邮件检查时，需要重新启动电脑或者再手动点", "击「开始使用」。"}) {
    autostart_ = add_check("autostart", 7, 160, 10, 10);
    add_static("登录时自动启动 kd5lite（仅限本用户）", 19, 161, 120, 8);
    QPushButton* apply = add_button("autostartApply", "应　　用", 143, 158, 50, 14);
    autostart_->setChecked(autostart_at_login(settings_file_exists()));
    connect(apply, &QPushButton::clicked, this, [this] { apply_autostart(); });
}

void CServicePage::apply_autostart() {
    if (autostart_write(autostart_->isChecked(), notifier_path()) == 0) {
        return;
    }
    const QString text = QString::fromUtf8("登录时启动的设置未能保存（") + QString::fromLocal8Bit(std::strerror(errno)) +
                         QString::fromUtf8("）：\n") + QString::fromStdString(user_autostart_path());
    MessageBox::question(this, window()->windowTitle().toUtf8().constData(), text.toUtf8().constData(),
                         QMessageBox::Ok);
}
