// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/test_page.h"

#include "gui/byte_limit.h"
#include "gui/service_state.h"
#include "platform/timing.h"
#include "settings/settings_access.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CTestPage::CTestPage(QWidget* parent) : Page(parent, 5) {
    add_group("测试（检查电脑和KD-5lite的连接状况）", 7, 7, 186, 68);
    add_static("序列号", 32, 22, 36, 9);
    QLineEdit* serial = add_edit("serial", 74, 19, 100, 12, key_width(Key::SerialNumber), EditStyle::read_only);
    add_static("进行和电脑的连接确认测试", 13, 41, 170, 8);
    start_ = add_button("testStart", "测试开始", 37, 55, 50, 14);
    stop_ = add_button("testEnd", "测试结束", 109, 55, 50, 14);
    add_static("如果LED灯、蜂鸣器没有反应时，请在设置完日志记录的保存", 7, 80, 186, 8);
    add_static("后，再次进行连接测试。故障内容会被存入错误日志里。", 7, 92, 186, 8);
    add_static("如果没有显示序列号时，请在「系统信息的设置」注册印在", 7, 116, 186, 8);
    add_static("KD-5lite本体后面贴纸上的序列号。", 7, 128, 186, 8);
    monitoring_ = add_static("", 7, 144, 186, 26);
    monitoring_->setObjectName(QStringLiteral("monitoring"));
    monitoring_->setWordWrap(true);
    monitoring_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    add_static("＊ 进行KD-5lite的连接测试。", 7, 185, 105, 8);

    ini_read_key(Key::SerialNumber);
    set_edit_text(serial, settings_get(Key::SerialNumber));

    on_click_saving(start_, [this] {
        write_request(Request::connection_test);
        refresh_monitoring();
    });
    on_click_saving(stop_, [this] {
        write_request(Request::stop);
        refresh_monitoring();
    });
    connect(&refresh_, &QTimer::timeout, this, &CTestPage::refresh_monitoring);
    refresh_monitoring();
}

void CTestPage::refresh_monitoring() {
    const bool monitoring = read_monitoring_runs();
    start_->setEnabled(!monitoring);
    stop_->setEnabled(!monitoring);
    monitoring_->setText(monitoring ? QString::fromUtf8("邮件检查正在运行，连接测试要等它停止后才能进行。"
                                                        "请先在「服务」页按「停止使用」，测试结束后再按「开始使用」。")
                                    : QString());
}

void CTestPage::showEvent(QShowEvent* event) {
    Page::showEvent(event);
    refresh_monitoring();
    refresh_.start(timing().service_refresh_ms);
}

void CTestPage::hideEvent(QHideEvent* event) {
    refresh_.stop();
    Page::hideEvent(event);
}
