// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/page.h"

#include "gui/byte_limit.h"
#include "gui/message_box.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <cstring>

namespace {
constexpr int kPageUnits = 200; // every page template is 200 x 200 dialog units
} // namespace

Page::Page(QWidget* parent, int trace_number)
    : QWidget(parent), trace_number_(trace_number), units_(DialogUnits::of(font())) {
    setFixedSize(units_.x(kPageUnits), units_.y(kPageUnits));
}

void Page::place(QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(units_.rect(x, y, width, height));
}

QGroupBox* Page::add_group(const char* text, int x, int y, int width, int height) {
    auto* group = new QGroupBox(QString::fromUtf8(text), this);
    place(group, x, y, width, height);
    group->lower(); // a group box frames the controls over it and must not take their clicks
    return group;
}

QLabel* Page::add_static(const char* text, int x, int y, int width, int height) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    // A label may show text from outside (a provider's answer, a server, the keyring): Qt's guess at rich text
    // would let it draw what it likes on the page.
    label->setTextFormat(Qt::PlainText);
    place(label, x, y, width, height);
    // A text measured a little wider in this font than in the template's keeps its whole width, up to the page's
    // edge, rather than losing its last character.
    int needed = label->sizeHint().width();
    if (needed > label->width()) {
        label->resize(std::min(needed, this->width() - label->x()), label->height());
    }
    return label;
}

QLabel* Page::add_centred(const char* text, int x, int y, int width, int height) {
    QLabel* label = add_static(text, x, y, width, height);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

QLineEdit* Page::add_edit(const char* name, int x, int y, int width, int height, int limit, EditStyle style) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    place(edit, x, y, width, height);
    if (limit > 0) {
        set_typed_limit(edit, limit);
    }
    edit->setReadOnly(style == EditStyle::read_only);
    if (style == EditStyle::password) {
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

QPushButton* Page::add_button(const char* name, const char* text, int x, int y, int width, int height) {
    auto* button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QLatin1String(name));
    // Enter never presses a button in these windows, so none may look like the default one.
    button->setAutoDefault(false);
    place(button, x, y, width, height);
    return button;
}

QCheckBox* Page::add_check(const char* name, int x, int y, int width, int height) {
    auto* check = new QCheckBox(this);
    check->setObjectName(QLatin1String(name));
    place(check, x, y, width, height);
    return check;
}

QListWidget* Page::add_list(const char* name, const QStringList& items, int x, int y, int width, int height) {
    auto* list = new QListWidget(this);
    list->setObjectName(QLatin1String(name));
    list->addItems(items);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    place(list, x, y, width, height);
    return list;
}

void Page::on_click_saving(QPushButton* button, std::function<void()> action) {
    connect(button, &QPushButton::clicked, this, [this, action = std::move(action)] {
        int failures = settings_write_failures();
        action();
        if (settings_write_failures() != failures) {
            QString caption = window()->windowTitle().isEmpty() ? QStringLiteral("kd5lite") : window()->windowTitle();
            MessageBox::question(this, caption.toUtf8().constData(), unsaved_message().toUtf8().constData(),
                                 QMessageBox::Ok);
        }
    });
}

// The reason goes into the box itself: the error log that would say it is off unless the user switched it on.
QString Page::unsaved_message() {
    int error = 0;
    const WriteFailure failure = settings_last_write_failure(&error);
    const QString path = QString::fromStdString(settings_file_path());
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    QString text = QString::fromUtf8("设置未能保存。\n");
    switch (failure) {
    case WriteFailure::lock_busy:
        text += QString::fromUtf8("设置文件正被另一个程序锁住（例如被 Ctrl-Z 暂停的程序）：\n") + path +
                QString::fromUtf8(".lock\n请让该程序继续运行或结束它，然后再按一次。");
        break;
    case WriteFailure::unreadable:
        text += QString::fromUtf8("设置文件无法读取（") + reason + QString::fromUtf8("）：\n") + path +
                QString::fromUtf8("\n它必须是属于您的普通文件（sudo chown $USER 该文件，或移走占用其位置的东西）。"
                                  "处理后再按一次。");
        break;
    default:
        text += QString::fromUtf8("设置文件无法写入（") + reason + QString::fromUtf8("）：\n") + path +
                QString::fromUtf8("\n在终端运行 kd5lite --check 查看原因。处理后再按一次。");
        break;
    }
    return text;
}
