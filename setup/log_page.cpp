// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/log_page.h"

#include "gui/desktop.h"
#include "gui/message_box.h"
#include "settings/key_values.h"
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

// Where one family's controls sit in the template. The two groups are alike but not exactly 66 units apart.
struct CLogPage::FamilyTemplate {
    const char* caption; // of the group box and of the View button
    const char* clear_note;
    const char* clear_text;
    const char* names[4]; // switch, day list, View, Clear
    int top;              // of the group box
    int view_y;
    QPoint clear_note_at;
    QPoint clear_at;
};

namespace {

const CLogPage::FamilyTemplate kRunLog = {
    .caption = "运行日志",
    .clear_note = "清空所有运行日志纪录。",
    .clear_text = "清除运行日志",
    .names = {"stateLogSwitch", "stateLogDays", "viewStateLog", "clearStateLog"},
    .top = 7,
    .view_y = 31,
    .clear_note_at = {13, 52},
    .clear_at = {118, 48},
};
const CLogPage::FamilyTemplate kErrorLog = {
    .caption = "错误日志",
    .clear_note = "清空所有错误日志纪录。",
    .clear_text = "清除错误日志",
    .names = {"errorLogSwitch", "errorLogDays", "viewErrorLog", "clearErrorLog"},
    .top = 73,
    .view_y = 96,
    .clear_note_at = {14, 117},
    .clear_at = {119, 113},
};

} // namespace

CLogPage::CLogPage(QWidget* parent)
    : Page(parent, 3), run_log_{Key::StateLog, LogKind::log, "清除所有运行日志。", nullptr, nullptr},
      error_log_{Key::ErrorLog, LogKind::err, "清除所有错误日志。", nullptr, nullptr} {
    add_family(run_log_, kRunLog);
    add_family(error_log_, kErrorLog);
    add_static("日志信息每天被纪录。最多可保存过去一个月的日志纪录。", 7, 138, 186, 8);
    QPushButton* apply_button = add_button("apply", "应　用", 143, 179, 50, 14);
    add_static("＊设置日志信息", 7, 185, 100, 8);

    ini_read_key(Key::StateLog);
    ini_read_key(Key::ErrorLog);
    for (Family* family : {&run_log_, &error_log_}) {
        std::string value = settings_get(family->key);
        family->enabled->setChecked(log_switch(value.c_str()));
        select_entry(family->days, log_day_entry(value));
    }

    on_click_saving(apply_button, [this] { apply(); });
}

void CLogPage::add_family(Family& family, const FamilyTemplate& t) {
    int top = t.top;
    add_group(t.caption, 7, top, 186, 60);
    add_static("保存", 14, top + 12, 15, 8);
    family.enabled = add_check(t.names[0], 34, top + 12, 8, 8);
    add_static("选择此选项后，日志信息每天都会被记录。", 52, top + 12, 135, 8);
    add_static("日期", 14, top + 28, 15, 8);
    family.days = add_list(t.names[1], day_items(), 34, top + 26, 30, 11);
    QPushButton* view_button = add_button(t.names[2], t.caption, 68, t.view_y, 50, 14);
    add_static(t.clear_note, t.clear_note_at.x(), t.clear_note_at.y(), 91, 8);
    QPushButton* clear_button = add_button(t.names[3], t.clear_text, t.clear_at.x(), t.clear_at.y(), 50, 14);
    connect(view_button, &QPushButton::clicked, [this, &family] { view(family); });
    connect(clear_button, &QPushButton::clicked, [this, &family] { clear(family); });
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
