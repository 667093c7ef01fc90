// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/service_page.h"

#include "gui/service_state.h"
#include "platform/timing.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ServicePage::ServicePage(QWidget* parent, int trace_number, const Note& note) : Page(parent, trace_number) {
    add_group("服务状态", 7, 7, 186, 41);
    QPushButton* refresh = add_button("refresh", "运行扫描", 18, 18, 50, 14);
    state_ = add_edit("state", 74, 19, 100, 12, 32, EditStyle::read_only);
    add_centred("( 工作中（邮件检查中）/停止中/故障中 )", 13, 35, 174, 8);
    add_group("服务操作", 7, 52, 186, 45);
    add_static("进行邮件检查服务的操作", 13, 63, 174, 8);
    QPushButton* start = add_button("start", "开始使用", 37, 75, 50, 14);
    QPushButton* stop = add_button("stop", "停止使用", 109, 75, 50, 14);
    for (std::size_t line = 0; line < note.size(); ++line) {
        add_static(note[line], 7, 102 + 12 * static_cast<int>(line), 186, 8);
    }
    fate_ = add_static("", 7, 148, 186, 8);
    fate_->setObjectName(QStringLiteral("fate"));
    // Added: a running monitor reads the settings file again when it changed, before its next pass.
    add_static("保存的设置在下一次检查时生效", 7, 173, 134, 8);
    add_static("＊进行邮件检查服务的操作", 7, 185, 115, 8);
    // Added: the tray's 已读 for desktops without a notification area.
    QPushButton* acknowledge = add_button("acknowledge", "已　　读", 143, 179, 50, 14);

    connect(refresh, &QPushButton::clicked, this, &ServicePage::refresh_state);
    on_click_saving(start, [this] { request(Request::monitor); });
    on_click_saving(stop, [this] { request(Request::stop); });
    on_click_saving(acknowledge, [this] { request(Request::acknowledge); });
    // The notifier changes its state on its own (a job ends, a stop is taken up), so a shown page follows it.
    connect(&refresh_, &QTimer::timeout, this, &ServicePage::refresh_state);
    refresh_state();
}

void ServicePage::refresh_state() {
    state_->setText(QString::fromUtf8(read_service_state()));
    const char* fate = request_fate_text(pressed_, read_request_fate(pressed_));
    fate_->setText(QString::fromUtf8(*fate == '\0' && !any_account_ ? kNoAccountYet : fate));
}

void ServicePage::request(Request request) {
    write_request(request);
    pressed_ = request;
    refresh_state();
}

void ServicePage::showEvent(QShowEvent* event) {
    Page::showEvent(event);
    any_account_ = read_any_account_set(); // the 账户 tab may have been applied meanwhile
    refresh_state();
    refresh_.start(timing().service_refresh_ms);
}

void ServicePage::hideEvent(QHideEvent* event) {
    refresh_.stop();
    Page::hideEvent(event);
}
