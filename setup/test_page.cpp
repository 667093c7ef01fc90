// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/test_page.h"

#include "gui/byte_limit.h"
#include "gui/service_state.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QPushButton>

CTestPage::CTestPage(QWidget* parent) : Page(parent, 5) {
    add_group("测试（检查电脑和KD-5lite的连接状况）", 7, 7, 186, 68);
    add_static("序列号", 32, 22, 36, 9);
    QLineEdit* serial = add_edit("serial", 74, 19, 100, 12, key_width(Key::SerialNumber), EditStyle::read_only);
    add_static("进行和电脑的连接确认测试", 13, 41, 170, 8);
    QPushButton* start = add_button("testStart", "测试开始", 37, 55, 50, 14);
    QPushButton* stop = add_button("testEnd", "测试结束", 109, 55, 50, 14);
    add_static("如果LED灯、蜂鸣器没有反应时，请在设置完日志记录的保存", 7, 80, 186, 8);
    add_static("后，再次进行连接测试。故障内容会被存入错误日志里。", 7, 92, 186, 8);
    add_static("如果没有显示序列号时，请在「系统信息的设置」注册印在", 7, 116, 186, 8);
    add_static("KD-5lite本体后面贴纸上的序列号。", 7, 128, 186, 8);
    add_static("＊ 进行KD-5lite的连接测试。", 7, 185, 105, 8);

    ini_read_key(Key::SerialNumber);
    set_edit_text(serial, settings_get(Key::SerialNumber));

    on_click_saving(start, [] { write_request(Request::connection_test); });
    on_click_saving(stop, [] { write_request(Request::stop); });
}
