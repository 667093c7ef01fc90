#include "setup/log_page.h"

#include "gui/desktop.h"
#include "gui/message_box.h"
#include "settings/settings_access.h"
#include "setup/log_files.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>

namespace {

QStringList day_items() {
    QStringList items;
    for (int day = 1; day <= 31; ++day) {
        items << QStringLiteral("%1").arg(day, 2, 10, QLatin1Char('0'));
    }
    return items;
}

int selected_entry(const QListWidget* list) {
    QListWidgetItem* item = list->currentItem();
    return item != nullptr && item->isSelected() ? list->row(item) : -1;
}

void select_entry(QListWidget* list, int entry) {
    if (entry < 0) {
        return;
    }
    list->setCurrentRow(entry);
    // The list is one line high: it shows the selected day.
    list->scrollToItem(list->item(entry), QAbstractItemView::PositionAtTop);
}

} // namespace

CLogPage::CLogPage(QWidget* parent)
    : Page(parent, 3), run_log_{Key::StateLog, LogKind::log, "清除所有运行日志。", nullptr, nullptr},
      error_log_{Key::ErrorLog, LogKind::err, "清除所有错误日志。", nullptr, nullptr} {
    QStringList days = day_items();
    add_group("运行日志", 7, 7, 186, 60);
    add_static("保存", 14, 19, 15, 8);
    run_log_.enabled = add_check("stateLogSwitch", 34, 19, 8, 8);
    add_static("选择此选项后，日志信息每天都会被记录。", 52, 19, 135, 8);
    add_static("日期", 14, 35, 15, 8);
    run_log_.days = add_list("stateLogDays", days, 34, 33, 30, 11);
    QPushButton* view_run = add_button("viewStateLog", "运行日志", 68, 31, 50, 14);
    add_static("清空所有运行日志纪录。", 13, 52, 91, 8);
    QPushButton* clear_run = add_button("clearStateLog", "清除运行日志", 118, 48, 50, 14);
    add_group("错误日志", 7, 73, 186, 60);
    add_static("保存", 14, 85, 15, 8);
    error_log_.enabled = add_check("errorLogSwitch", 34, 85, 8, 8);
    add_static("选择此选项后，日志信息每天都会被记录。", 52, 85, 135, 8);
    add_static("日期", 14, 101, 15, 8);
    error_log_.days = add_list("errorLogDays", days, 34, 99, 30, 11);
    QPushButton* view_error = add_button("viewErrorLog", "错误日志", 68, 96, 50, 14);
    add_static("清空所有错误日志纪录。", 14, 117, 91, 8);
    QPushButton* clear_error = add_button("clearErrorLog", "清除错误日志", 119, 113, 50, 14);
    add_static("日志信息每天被纪录。最多可保存过去一个月的日志纪录。", 7, 138, 186, 8);
    QPushButton* apply_button = add_button("apply", "应　用", 143, 179, 50, 14);
    add_static("＊设置日志信息", 7, 185, 100, 8);

    ini_read_key(Key::StateLog);
    ini_read_key(Key::ErrorLog);
    for (Family* family : {&run_log_, &error_log_}) {
        std::string value = settings_get(family->key);
        family->enabled->setChecked(value.starts_with('1'));
        select_entry(family->days, log_day_entry(value));
    }

    connect(view_run, &QPushButton::clicked, [this] { view(run_log_); });
    connect(view_error, &QPushButton::clicked, [this] { view(error_log_); });
    connect(clear_run, &QPushButton::clicked, [this] { clear(run_log_); });
    connect(clear_error, &QPushButton::clicked, [this] { clear(error_log_); });
    connect(apply_button, &QPushButton::clicked, this, &CLogPage::apply);
}

void CLogPage::view(const Family& family) {
    std::string path = log_day_path(family.kind, selected_entry(family.days));
    open_with_desktop(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void CLogPage::clear(const Family& family) {
    if (MessageBox::question(this, "File Delete", family.clear_question, QMessageBox::Ok | QMessageBox::Cancel) ==
        QMessageBox::Ok) {
        clear_log_files(family.kind);
    }
}

void CLogPage::apply() {
    for (const Family* family : {&run_log_, &error_log_}) {
        // The day digits belong to the log writers, which move them when a new day begins; the value read when
        // the page opened may be days old, and writing it back would make the notifier begin a finished day's
        // file afresh. So the key is read again here and only its switch character changes.
        ini_read_key(family->key);
        settings_put(family->key, log_switch_value(settings_get(family->key), family->enabled->isChecked()).c_str());
    }
    update();
}
