// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"

// Tab " 测试 ": starts ("测试开始", request 2) and ends ("测试结束", request 4) the notifier's lamp connection
// test, showing the serial number that was read when the window opened.
class CTestPage : public Page {
    Q_OBJECT
public:
    explicit CTestPage(QWidget* parent);
};
