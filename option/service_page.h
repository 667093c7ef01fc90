// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/service_page.h"

// Tab " 服务 ": the shared service page with this program's line breaks in its note.
class COptionServicePage : public ServicePage {
    Q_OBJECT
public:
    explicit COptionServicePage(QWidget* parent)
        : ServicePage(parent, 4,
                      {"只要设定好检查邮件的所需项目，", "电脑启动后即可自动进行邮件查看。",
                       "如已用手动停止邮件检查时，", "需要重新启动电脑或者再手动点击「开始使用」。"}) {}
};
